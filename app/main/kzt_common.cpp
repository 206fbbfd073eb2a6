#include "app/main/kzt_common.hpp"

#include "core/io_output.hpp"
#include "core/reader.hpp"
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
  });
}

bool kzt_input_ended() { return input_ended; }

}  // namespace kesta
