#include "app/main/kzt_common.hpp"

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"

namespace kesta {
namespace {
bool input_ended = false;
}  // namespace

void kzt_not_available(std::string_view command, Status& status) {
  IO_WRITE("WARNING: The command \"" + std::string(command) +
               "\" is not available yet in this version of KESTA",
           status);
}

bool kzt_read_terminal_line(std::string_view prompt, std::string& line) {
  if (input_ended) return false;
  int length = 0;
  IO_READC(prompt, length, line);
  if (length < 0) input_ended = true;
  return length >= 0;
}

void kzt_install_terminal_reader() {
  io_set_line_source([](std::string_view prompt, std::string& line) {
    return kzt_read_terminal_line(prompt, line);
  }, true);
}

bool kzt_input_ended() { return input_ended; }

bool kzt_escape_at_end(Status status) {
  return status == kStatusEscape && input_ended && !vosq_io_dbdb.input_macro;
}

bool kzt_reset_status(Status& status) {
  // The end of a running sequence's macro met by the loop's own prompt is
  // no failure: it is handed on. Nor is an assignment, after which the loop
  // asks again.
  if (io_macro_ended(status)) return false;
  if (io_ask_again(status)) return true;
  ST_OUT(status);
  Status local = kStatusGood;
  bool reset = true;
  // An assignment is no answer: asked again.
  do {
    IO_INPL(false, false, false, true, "RESET \"status\"",
            {"YES: to reset \"status\" value, other exit program"}, {"Enter YES or NO"}, reset,
            local);
  } while (io_ask_again(local));
  // A running sequence's macro whose lines ran out here has reached its end,
  // as at any other prompt: the caller hands it on, and the sequence moves on.
  if (io_macro_ended(local)) {
    status = local;
    return false;
  }
  if (reset) ST_DEF_SYSTEM(status);
  return reset;
}

}  // namespace kesta
