#include "core/macro.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/expression.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {

namespace {
// The macro replaying (or the one that ended last) is the file sequence's own.
bool own_sequence_macro = false;
// Who set the running sequence up.
SequenceDriver sequence_driver = SequenceDriver::kNone;
}  // namespace
namespace {

constexpr const char* kEndLine = "%!*\\ END OF IO MACRO FILE";
constexpr std::string_view kWindowHeader = "%!*\\ BEGINNING OF GUI MACRO FILE";
constexpr std::string_view kKeyboardHeader = "%!*\\ BEGINNING OF IO MACRO FILE";
constexpr std::string_view kOlderKeyboardHeader = "%!*\\ BEGINNING OF VOSQ_IO MACRO FILE";
// What the header of the macro replaying says of it, and its name as opened.
MacroRecording replaying_recording = MacroRecording::kNone;
std::string replaying_name;
constexpr int kMaxMacroTokens = 10;
constexpr std::size_t kMacroTokenLength = 20;
constexpr std::size_t kLoopNameLength = 20;

// The one open DO loop of the input macro.
struct IoMacroLoop {
  std::string name;       // loop variable
  int do_line = 0;        // macro line number of the DO line
  int current = 0;        // current value of the variable
  int end = 0;            // end value
  int step = 1;           // step
  long body_offset = 0;   // stream position of the line after the DO line
};
IoMacroLoop io_macro_loop;

bool starts_with(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && text.substr(0, head.size()) == head;
}

// One line of the input macro, cut to a response line; false with STATUS
// 11001 at the end of the file.
bool read_macro_line(int stream, std::string& line, Status& status) {
  ++vosq_io_dbdb.macro_line;
  bool cut = false;
  IO_READ_FILE(stream, line, cut, status);
  if (status != kStatusGood) return false;
  if (cut) io_note_cut_response();
  return true;
}

void syntax_error(std::string_view message, Status& status) {
  Status local = kStatusGood;
  IO_WRITE(message, local);
  IO_WRITE("       Line number = " + format_i(vosq_io_dbdb.macro_line, 8), local);
  st_fail(status, 11013, "Subroutine IO_READ_MACRO V0.6");
}

// Evaluates a DO bound; false when it is not an integer expression.
bool integer_value(const std::string& text, int& value, Status& status) {
  int retstat = 0;
  char type = ' ';
  bool lvalue = false;
  float rvalue = 0.0f;
  int slength = 0;
  std::string svalue;
  int ivalue = 0;
  IO_EVALUATE(static_cast<int>(text.size()), text, retstat, type, ivalue, lvalue, rvalue, slength,
              svalue, status);
  if (status != kStatusGood || retstat != 0 || type != 'i') return false;
  value = ivalue;
  return true;
}

void set_loop_variable(int value, Status& status) {
  int retstat = 0;
  IO_SET_VARIABLE(io_macro_loop.name, 'i', value, false, 0.0f, 0, "", retstat, status);
}

// Carries out a DO line (TOKENS upper-cased in the first two). Returns false
// when the line is not a loop line after all (an ordinary response).
bool open_loop(const std::vector<std::string>& tokens, Status& status) {
  const auto n = static_cast<int>(tokens.size());
  auto token = [&](int i) -> const std::string& { return tokens[static_cast<std::size_t>(i - 1)]; };
  std::string name;
  std::string start;
  int end_index = 0;
  const std::size_t equals = token(2).find('=');
  if (equals != std::string::npos) {
    name = token(2).substr(0, equals);
    if (equals + 1 < token(2).size()) {
      start = token(2).substr(equals + 1);
      end_index = 3;
    } else {
      if (n < 3) {
        syntax_error("ERROR: Syntax error; Start value of \"DO\" loop not specified", status);
        return true;
      }
      start = token(3);
      end_index = 4;
    }
  } else {
    if (n < 3 || token(3).empty() || token(3)[0] != '=') return false;
    name = token(2);
    if (token(3).size() > 1) {
      start = token(3).substr(1);
      end_index = 4;
    } else {
      if (n < 4) {
        syntax_error("ERROR: Syntax error; Start value of \"DO\" loop not specified", status);
        return true;
      }
      start = token(4);
      end_index = 5;
    }
  }
  if (name.empty()) {
    syntax_error("ERROR: Syntax error; Variable of \"DO\" loop not specified", status);
    return true;
  }
  if (n < end_index) {
    syntax_error("ERROR: Syntax error; End value of \"DO\" loop not specified", status);
    return true;
  }
  const std::string end = token(end_index);
  const std::string step = n > end_index ? token(end_index + 1) : std::string("1");
  int start_value = 0;
  int end_value = 0;
  int step_value = 0;
  if (!integer_value(start, start_value, status)) {
    if (status == kStatusGood)
      syntax_error("ERROR: Syntax error; Start value of \"DO\" loop incorrect", status);
    return true;
  }
  if (!integer_value(end, end_value, status)) {
    if (status == kStatusGood)
      syntax_error("ERROR: Syntax error; End value of \"DO\" loop incorrect", status);
    return true;
  }
  if (!integer_value(step, step_value, status)) {
    if (status == kStatusGood)
      syntax_error("ERROR: Syntax error; Step value of \"DO\" loop incorrect", status);
    return true;
  }
  if (vosq_io_dbdb.loop_depth != 0) {
    st_fail(status, 11007, "Subroutine IO_READ_MACRO V0.6");
    return true;
  }
  if (name.size() > kLoopNameLength) name.resize(kLoopNameLength);
  vosq_io_dbdb.loop_depth = 1;
  io_macro_loop.name = name;
  io_macro_loop.do_line = vosq_io_dbdb.macro_line;
  io_macro_loop.current = start_value;
  io_macro_loop.end = end_value;
  io_macro_loop.step = step_value;
  set_loop_variable(start_value, status);
  return true;
}

// Text of the last record of the output macro and where it starts; false when
// the file cannot be read back (nothing recorded).
bool last_record(std::FILE* file, long& start, std::string& text) {
  if (std::fflush(file) != 0) return false;
  const int fd = fileno(file);
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size <= 0) return false;
  // The recording stream is opened for writing only; read it back through a
  // descriptor of its own.
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  const int reader = open(proc.c_str(), O_RDONLY);
  if (reader < 0) return false;
  off_t end = size;
  char last = 0;
  if (pread(reader, &last, 1, end - 1) == 1 && last == '\n') --end;
  off_t begin = end;
  std::string tail;
  char chunk[4096];
  bool found = false;
  while (begin > 0 && !found) {
    const off_t from = std::max<off_t>(0, begin - static_cast<off_t>(sizeof chunk));
    const auto count = static_cast<std::size_t>(begin - from);
    if (pread(reader, chunk, count, from) != static_cast<ssize_t>(count)) {
      close(reader);
      return false;
    }
    std::size_t i = count;
    while (i > 0 && chunk[i - 1] != '\n') --i;
    if (i > 0) found = true;
    tail.insert(0, chunk + i, count - i);
    begin = from + static_cast<off_t>(i);
  }
  close(reader);
  start = static_cast<long>(begin);
  text = tail;
  return true;
}

// The failure report of IO_WRITE_FILE, for the writes to the output macro
// that do not pass through it (empty records, the replaced last record).
void write_failed(Status& status) {
  io_write_failure(kStreamOutputMacro, errno != 0 ? errno : -1, status);
}

// LINE as one record of the output macro; a failure is reported (the
// recording is closed) and sets STATUS.
void write_record(std::string_view line, Status& status) {
  if (SLEN(line) > 0) {
    IO_WRITE_FILE(kStreamOutputMacro, line, status);
    return;
  }
  // An empty answer is an empty record (a blank default on replay).
  std::FILE* file = io_stream(kStreamOutputMacro);
  errno = 0;
  if (file == nullptr || std::fputc('\n', file) == EOF || std::fflush(file) != 0)
    write_failed(status);
}

// Opening checks shared by the three files: a blank name without PROMPT is
// 10033; a failed open 11000.
bool open_file(bool prompt, std::string_view mode, int stream, std::string& file_name,
               std::string_view position, Status& status) {
  if (!prompt && SLEN(file_name) == 0) {
    st_fail(status, 10033, position);
    return false;
  }
  int retstat = 0;
  IO_OPEN_ASCIIFILE(prompt, mode, stream, file_name, retstat, status);
  if (status != kStatusGood) return false;
  if (retstat != 0) {
    st_fail(status, 11000, position);
    return false;
  }
  return true;
}

// name=value of an option whose name starts at FROM; false without "=" or
// with an empty name.
bool split_assignment(std::string_view argument, std::size_t from, std::string& name,
                      std::string& value) {
  if (argument.size() <= from) return false;
  const std::string_view rest = argument.substr(from);
  const std::size_t equals = rest.find('=');
  if (equals == std::string_view::npos || equals == 0) return false;
  name = std::string(rest.substr(0, equals));
  value = std::string(rest.substr(equals + 1));
  return true;
}

bool command_refused = false;

// The count of answers read when the program last closed a replaying macro
// before its end.
std::optional<unsigned long> closed_at;

}  // namespace

void IO_OPEN_LOGFILE(bool prompt, std::string& file_name, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_OPEN_LOGFILE V0.2";
  if (st_bad(status, kPosition)) return;
  if (vosq_io_dbdb.log_open) return;
  if (!open_file(prompt, "WRITE", kStreamLog, file_name, kPosition, status)) return;
  vosq_io_dbdb.log_open = true;
}

void IO_CLOSE_LOGFILE(Status& status) {
  if (st_bad(status, "Subroutine IO_CLOSE_LOGFILE V0.1")) return;
  if (!vosq_io_dbdb.log_open) return;
  vosq_io_dbdb.log_open = false;
  io_close_stream(kStreamLog);
}

void IO_OPEN_OUTMACRO(bool gui, bool prompt, std::string& file_name, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_OPEN_OUTMACRO V0.3";
  if (st_bad(status, kPosition)) return;
  if (vosq_io_dbdb.output_macro) {
    IO_WRITE("WARNING: Output macro file is already open, use \"STOP MACRO\" to close", status);
    IO_WRITE("         the file so that a new macro may be defined.", status);
    io_refuse_command();
    return;
  }
  if (!open_file(prompt, "WRITE", kStreamOutputMacro, file_name, kPosition, status)) return;
  vosq_io_dbdb.output_macro = true;
  // A header that cannot be written is reported once and the recording
  // stops; the command itself has done what it could and leaves no failure.
  for (const char* line : {gui ? kWindowHeader.data() : kKeyboardHeader.data(),
                           "%!*\\", "%!*\\ This is a comment line", "%!*\\"}) {
    Status local = kStatusGood;
    IO_WRITE_FILE(kStreamOutputMacro, line, local);
    if (local != kStatusGood) break;
  }
}

void IO_CLOSE_OUTMACRO(Status& status) {
  if (st_bad(status, "Subroutine IO_CLOSE_OUTMACRO V0.2")) return;
  if (!vosq_io_dbdb.output_macro) return;
  io_outmacro_replace_last(kEndLine, 0, status);
  vosq_io_dbdb.output_macro = false;
  errno = 0;
  if (!io_close_stream(kStreamOutputMacro) && status == kStatusGood) write_failed(status);
}

void IO_OPEN_INMACRO(bool prompt, std::string& file_name, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_OPEN_INMACRO V0.3";
  if (st_bad(status, kPosition)) return;
  if (vosq_io_dbdb.input_macro) {
    // Macros do not nest: the running macro's file-name answer is consumed.
    std::string ignored;
    io_input_file_name(false, "FILE NAME", {" "}, {" "}, 1, ignored, status);
    return;
  }
  if (!open_file(prompt, "READ", kStreamInputMacro, file_name, kPosition, status)) return;
  own_sequence_macro = false;
  vosq_io_dbdb.input_macro = true;
  vosq_io_dbdb.macro_line = 0;
  vosq_io_dbdb.loop_depth = 0;
  // The header is looked at and read again as the first line.
  replaying_recording = MacroRecording::kNone;
  replaying_name = std::string(used_text(file_name));
  std::FILE* file = io_stream(kStreamInputMacro);
  std::string first;
  bool cut = false;
  if (file != nullptr && io_read_bounded_line(file, kResponseLength, first, cut))
    replaying_recording = io_macro_recording(first);
  if (file != nullptr) std::rewind(file);
}

bool io_window_recording_at_start() {
  return vosq_io_dbdb.input_macro && replaying_recording == MacroRecording::kWindow &&
         vosq_io_dbdb.macro_line == 0;
}

MacroRecording io_macro_recording(std::string_view first_line) {
  if (first_line.starts_with(kWindowHeader)) return MacroRecording::kWindow;
  if (first_line.starts_with(kKeyboardHeader) || first_line.starts_with(kOlderKeyboardHeader))
    return MacroRecording::kKeyboard;
  return MacroRecording::kNone;
}

std::string io_foreign_recording_line(std::string_view file_name, MacroRecording recording) {
  const std::string name = "\"" + std::string(file_name) + "\"";
  if (recording == MacroRecording::kWindow)
    return "WARNING: Macro file " + name +
           " was recorded in the graphics window and needs the window's menus to run";
  return "WARNING: Macro file " + name +
         " was recorded at the keyboard and needs the keyboard interface (-key) to run";
}

bool io_macro_refused_for(MacroLoop loop) {
  if (!vosq_io_dbdb.input_macro || vosq_io_dbdb.macro_line != 0) return false;
  const MacroRecording foreign =
      loop == MacroLoop::kKeyboard ? MacroRecording::kWindow : MacroRecording::kKeyboard;
  if (replaying_recording != foreign) return false;
  Status local = kStatusGood;
  IO_WRITE(io_foreign_recording_line(replaying_name, foreign), local);
  IO_CLOSE_INMACRO(local);
  return true;
}

void IO_CLOSE_INMACRO(Status& status) {
  if (st_bad(status, "Subroutine IO_CLOSE_INMACRO V0.2")) return;
  if (!vosq_io_dbdb.input_macro) return;
  io_close_stream(kStreamInputMacro);
  vosq_io_dbdb.input_macro = false;
  if (vosq_io_dbdb.loop_depth != 0) {
    IO_WRITE(" ", status);
    IO_WRITE("ERROR: There are " + format_i(vosq_io_dbdb.loop_depth, 3) + " open \"DO\" loops",
             status);
    IO_WRITE(" ", status);
    vosq_io_dbdb.loop_depth = 0;
  }
}

void io_open_sequence_macro(std::string& file_name, Status& status) {
  IO_OPEN_INMACRO(false, file_name, status);
  if (status == kStatusGood) own_sequence_macro = true;
}

void io_adopt_sequence_macro() {
  if (vosq_io_dbdb.input_macro) own_sequence_macro = true;
}

bool io_sequence_macro() { return own_sequence_macro; }

void io_leave_macro_for_sequence(bool sequence_ended) {
  if (!vosq_io_dbdb.input_macro) return;
  Status local = kStatusGood;
  IO_WRITE(sequence_ended
               ? "INFO: The rest of the running macro is not read: the sequence has ended"
               : "INFO: The rest of the running macro is not read: the sequence takes over",
           local);
  IO_CLOSE_INMACRO(local);
  if (sequence_ended) closed_at = io_response_count();
}

void io_start_sequence(SequenceDriver driver) {
  vosq_io_dbdb.file_sequence = true;
  sequence_driver = driver;
}

SequenceDriver io_sequence_driver() {
  return vosq_io_dbdb.file_sequence ? sequence_driver : SequenceDriver::kNone;
}

void io_end_sequence(std::string_view reason) {
  if (!vosq_io_dbdb.file_sequence) return;
  vosq_io_dbdb.file_sequence = false;
  sequence_driver = SequenceDriver::kNone;
  Status local = kStatusGood;
  IO_WRITE(" ", local);
  IO_WRITE("NOTE: Sequence terminated: " + std::string(reason), local);
  IO_WRITE(" ", local);
}

void io_end_automatic_input(std::string_view macro_line, std::string_view sequence_line) {
  static const std::string kRule =
      "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--WARNING";
  Status local = kStatusGood;
  const auto framed = [&local](std::string_view line) {
    IO_WRITE(kRule, local);
    IO_WRITE(" ", local);
    IO_WRITE(line, local);
    IO_WRITE(" ", local);
    IO_WRITE(kRule, local);
  };
  if (vosq_io_dbdb.input_macro) {
    framed(macro_line);
    IO_CLOSE_INMACRO(local);
    closed_at = io_response_count();
  }
  if (vosq_io_dbdb.file_sequence) {
    framed(sequence_line);
    vosq_io_dbdb.file_sequence = false;
  }
}

bool io_macro_just_closed() {
  const std::optional<unsigned long> closed = std::exchange(closed_at, std::nullopt);
  return closed && *closed == io_response_count() && !vosq_io_dbdb.input_macro;
}

void IO_INQ_INMACRO(bool& inmacro, Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_INMACRO V0.1")) return;
  inmacro = vosq_io_dbdb.input_macro;
}

void IO_READ_MACRO(int stream, std::string& line, Status& status) {
  if (st_bad(status, "Subroutine IO_READ_MACRO V0.6")) return;
  if (!read_macro_line(stream, line, status)) return;

  bool all_found = false;
  int num_tokens = 0;
  std::vector<std::string> tokens;
  IO_TOKENS(line, kMaxMacroTokens, all_found, num_tokens, tokens, status);
  if (status != kStatusGood) return;
  if (num_tokens == 0 || !all_found) return;
  tokens.resize(static_cast<std::size_t>(num_tokens));
  for (auto& token : tokens)
    if (token.size() > kMacroTokenLength) token.resize(kMacroTokenLength);
  tokens[0] = IO_UPPER(tokens[0]);
  if (num_tokens >= 2) tokens[1] = IO_UPPER(tokens[1]);

  std::FILE* file = io_stream(stream);
  if (tokens[0] == "DO" && num_tokens >= 2) {
    if (!open_loop(tokens, status)) return;  // an ordinary response
    if (status != kStatusGood) return;
    io_macro_loop.body_offset = file != nullptr ? std::ftell(file) : 0;
    // The line after the DO line is returned as it stands, even an END DO.
    read_macro_line(stream, line, status);
    return;
  }
  if ((tokens[0] == "END" && num_tokens >= 2 && tokens[1] == "DO") || tokens[0] == "ENDDO") {
    if (vosq_io_dbdb.loop_depth == 0) {
      st_fail(status, 11007, "Subroutine IO_READ_MACRO V0.6");
      return;
    }
    const std::int64_t next =
        static_cast<std::int64_t>(io_macro_loop.current) + io_macro_loop.step;
    const bool goes_on = (io_macro_loop.step > 0 && next <= io_macro_loop.end) ||
                         (io_macro_loop.step < 0 && next >= io_macro_loop.end);
    if (goes_on && file != nullptr && std::fseek(file, io_macro_loop.body_offset, SEEK_SET) == 0) {
      io_macro_loop.current = static_cast<int>(next);
      set_loop_variable(io_macro_loop.current, status);
      vosq_io_dbdb.macro_line = io_macro_loop.do_line;
    } else {
      vosq_io_dbdb.loop_depth = 0;
    }
    read_macro_line(stream, line, status);
    return;
  }
  if (tokens[0] == "%SLEEP") {
    bool ok = false;
    float seconds = 0.0f;
    if (num_tokens >= 2) IO_TOKTR(tokens[1], ok, seconds, status);
    if (ok && seconds > 0.0f) IO_SLEEP(seconds, status);
    read_macro_line(stream, line, status);
  }
}

void io_mset_options(std::span<const std::string> arguments, Status& status) {
  if (st_bad(status, "Subroutine IO_MSET_OPTIONS V0.5")) return;
  // Variables first, so a macro given on the same command line can use them.
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::string upper = IO_UPPER(argument);
    std::string name;
    std::string value;
    int retstat = 0;
    if (starts_with(upper, "-SYM")) {
      if (!split_assignment(argument, 4, name, value)) continue;
      if (value.size() > 256) value.resize(256);
      value.resize(static_cast<std::size_t>(SLEN(value)));
      IO_SET_VARIABLE(name, 'u', 0, false, 0.0f, static_cast<int>(value.size()), value, retstat,
                      status);
      continue;
    }
    if (upper.size() < 5 || upper[0] != '-' || upper.compare(2, 3, "VAR") != 0) continue;
    const char kind = upper[1];
    if (std::string_view("BCFILRS").find(kind) == std::string_view::npos) continue;
    if (!split_assignment(argument, 5, name, value)) continue;
    bool ok = false;
    if (kind == 'I') {
      int ivalue = 0;
      IO_TOKTI(value, ok, ivalue, status);
      if (ok) IO_SET_VARIABLE(name, 'i', ivalue, false, 0.0f, 0, "", retstat, status);
    } else if (kind == 'F' || kind == 'R') {
      float rvalue = 0.0f;
      IO_TOKTR(value, ok, rvalue, status);
      if (ok) IO_SET_VARIABLE(name, 'r', 0, false, rvalue, 0, "", retstat, status);
    } else if (kind == 'B' || kind == 'L') {
      bool lvalue = false;
      IO_TOKTL(value, ok, lvalue, status);
      if (ok) IO_SET_VARIABLE(name, 'l', 0, lvalue, 0.0f, 0, "", retstat, status);
    } else {
      // A quoted value split by the shell is joined again from the following
      // arguments until its quotes pair up.
      if (!value.empty() && value[0] == '\'') {
        auto quotes = [](const std::string& s) { return std::count(s.begin(), s.end(), '\''); };
        while (quotes(value) % 2 == 1 && i + 1 < arguments.size()) value += " " + arguments[++i];
        int length = SLEN(value);
        value.resize(static_cast<std::size_t>(length));
        if (length >= 2 && value.back() == '\'') IO_QUOTEDSTRING(length, value, status);
        value.resize(static_cast<std::size_t>(std::max(length, 0)));
      }
      ok = true;
      IO_SET_VARIABLE(name, 's', 0, false, 0.0f, static_cast<int>(value.size()), value, retstat,
                      status);
    }
    if (!ok) IO_WRITE("WARNING: Could not convertvariable value to correct type", status);
  }
  if (status != kStatusGood) return;

  for (const std::string& argument : arguments) {
    if (vosq_io_dbdb.input_macro) break;
    const std::string head = argument.substr(0, 4);
    if (head != "-mac" && head != "+mac" && head != "-MAC" && head != "+MAC") continue;
    std::string file_name = argument.substr(4);
    if (SLEN(file_name) == 0) {
      file_name = kDefaultMacroFile;
      IO_WRITE("INFO: No macro file name specified; trying 'kesta.mac'", status);
    }
    IO_OPEN_INMACRO(false, file_name, status);
    if (status != kStatusGood) {
      Status local = kStatusGood;
      if (ST_ERRORCODE(status) == 1000) {
        IO_WRITE("WARNING: Macro file as specified on command file could not be opened", local);
        IO_WRITE("         (\"" + std::string(used_text(file_name)) + "\")", local);
      }
      return;
    }
  }
}

void IO_MSET_OPTIONS(Status& status) {
  if (st_bad(status, "Subroutine IO_MSET_OPTIONS V0.5")) return;
  int num_args = 0;
  std::vector<std::string> args;
  IO_GETARGS(30, num_args, args, status);
  if (status != kStatusGood) return;
  // The first entry is the program's own name.
  const std::span<const std::string> options =
      args.size() > 1 ? std::span<const std::string>(args).subspan(1) : std::span<const std::string>();
  io_mset_options(options, status);
}

void io_outmacro_record(std::string_view line, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITE_FILE V0.3")) return;
  if (!vosq_io_dbdb.output_macro) return;
  // A failed record is reported once and closes the recording; the answer
  // it records stands, so the caller's status stays as it was.
  Status local = kStatusGood;
  write_record(line, local);
}

void io_outmacro_replace_last(std::string_view text, int consumed_from, Status& status) {
  if (st_bad(status, "Subroutine IO_BACKSPACE_OUTMACRO V0.1")) return;
  std::FILE* file = io_stream(kStreamOutputMacro);
  if (file == nullptr) return;
  long start = 0;
  std::string record;
  if (!last_record(file, start, record)) {
    write_record(text, status);
    return;
  }
  std::string replacement(text.substr(0, static_cast<std::size_t>(SLEN(text))));
  // Keep what earlier prompts took from the same type-ahead line, and the
  // separators before this answer's part.
  const std::string current = vosq_io_dbinteractive;
  if (consumed_from > 1 && record == current &&
      static_cast<std::size_t>(consumed_from) <= record.size() + 1) {
    std::size_t keep = static_cast<std::size_t>(consumed_from - 1);
    while (keep < record.size() && io_cseparators.find(record[keep]) != std::string::npos) ++keep;
    replacement = record.substr(0, keep) + replacement;
  }
  replacement.push_back('\n');
  errno = 0;
  const bool ok = std::fseek(file, start, SEEK_SET) == 0 &&
                  std::fwrite(replacement.data(), 1, replacement.size(), file) == replacement.size() &&
                  std::fflush(file) == 0 &&
                  ftruncate(fileno(file), start + static_cast<long>(replacement.size())) == 0 &&
                  std::fseek(file, 0, SEEK_END) == 0;
  if (!ok) write_failed(status);
}

OutmacroMark io_outmacro_mark() {
  command_refused = false;
  OutmacroMark mark;
  std::FILE* file = io_stream(kStreamOutputMacro);
  if (!vosq_io_dbdb.output_macro || file == nullptr || std::fflush(file) != 0) return mark;
  const off_t size = lseek(fileno(file), 0, SEEK_END);
  if (size < 0) return mark;
  mark.size = static_cast<long>(size);
  // A command typed ahead on the line recorded last: the answers before it
  // stay, the rest of that record goes with the command.
  long start = 0;
  std::string record;
  const int next = vosq_io_dbdb.next_position;
  if (!vosq_io_dbdb.new_line_needed && next > 1 && last_record(file, start, record) &&
      record == vosq_io_dbinteractive && static_cast<std::size_t>(next) <= record.size() + 1) {
    std::string kept = record.substr(0, static_cast<std::size_t>(next - 1));
    while (!kept.empty() && io_cseparators.find(kept.back()) != std::string::npos) kept.pop_back();
    mark.size = start;
    mark.kept = kept;
  }
  return mark;
}

void io_refuse_command() { command_refused = true; }

bool io_command_refused() { return std::exchange(command_refused, false); }

void io_outmacro_take_back(const OutmacroMark& mark) {
  std::FILE* file = io_stream(kStreamOutputMacro);
  if (!vosq_io_dbdb.output_macro || file == nullptr || mark.size < 0) return;
  std::string kept = mark.kept;
  if (!kept.empty()) kept.push_back('\n');
  errno = 0;
  const bool ok = std::fflush(file) == 0 && ftruncate(fileno(file), mark.size) == 0 &&
                  std::fseek(file, 0, SEEK_END) == 0 &&
                  std::fwrite(kept.data(), 1, kept.size(), file) == kept.size() &&
                  std::fflush(file) == 0;
  Status local = kStatusGood;
  if (!ok) write_failed(local);
}

}  // namespace kesta
