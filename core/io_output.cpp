#include "core/io_output.hpp"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "core/format.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

std::map<int, std::FILE*>& stream_table() {
  static std::map<int, std::FILE*> table;
  return table;
}

bool put(std::FILE* f, std::string_view text, bool newline) {
  if (f == nullptr) return false;
  bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (newline) ok = std::fputc('\n', f) != EOF && ok;
  // Prompts and log lines must be visible at once (a crash keeps the log).
  ok = std::fflush(f) == 0 && ok;
  return ok;
}

}  // namespace

std::FILE* io_stream(int stream) {
  auto& table = stream_table();
  auto it = table.find(stream);
  if (it != table.end()) return it->second;
  if (stream == kStreamTerminal) return stdout;
  return nullptr;
}

void io_set_stream(int stream, std::FILE* file) {
  auto& table = stream_table();
  if (file == nullptr)
    table.erase(stream);
  else
    table[stream] = file;
}

bool io_open_stream(int stream, const std::string& path, const char* mode) {
  io_close_stream(stream);
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) return false;
  // A directory opens for reading, but holds no lines to read.
  struct stat info {};
  if (::fstat(::fileno(f), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(f);
    errno = EISDIR;
    return false;
  }
  io_set_stream(stream, f);
  return true;
}

bool io_close_stream(int stream) {
  auto& table = stream_table();
  auto it = table.find(stream);
  if (it == table.end()) return true;
  std::FILE* f = it->second;
  table.erase(it);
  if (f == stdout || f == stderr || f == stdin) return true;
  return std::fclose(f) == 0;
}

void IO_DEF_SYSTEM(Status& status) {
  if (st_bad(status, "Subroutine IO_DEF_SYSTEM V0.5")) return;
  const int macro_line = vosq_io_dbdb.macro_line;
  const int loop_depth = vosq_io_dbdb.loop_depth;
  vosq_io_dbdb = IoDbdb{};
  vosq_io_dbdb.macro_line = macro_line;
  vosq_io_dbdb.loop_depth = loop_depth;
  vosq_io_dbinteractive.clear();
  io_clear_variables();
  IO_DEF_SEPARATORS(status);
}

int io_terminal_width() {
  if (std::FILE* terminal = io_stream(kStreamTerminal)) {
    winsize size{};
    const int fd = ::fileno(terminal);
    if (fd >= 0 && ::isatty(fd) && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
      return size.ws_col;
  }
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long n = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && n > 0 && n <= 10000) return static_cast<int>(n);
  }
  return 80;
}

void IO_WRITE(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITE V0.1")) return;
  std::string_view line = used_text(text);
  if (line.empty()) line = " ";
  put(io_stream(kStreamTerminal), line, true);
  errno = 0;
  if (vosq_io_dbdb.log_open && !put(io_stream(kStreamLog), line, true)) {
    Status local = kStatusGood;
    io_write_failure(kStreamLog, errno != 0 ? errno : -1, local);
  }
}

void io_write_lines(TextLines lines, Status& status) {
  for (const std::string& line : lines) IO_WRITE(line, status);
}

void IO_WRITENA(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITENA V0.2")) return;
  std::string_view part = used_text(text);
  if (part.empty()) return;
  put(io_stream(kStreamTerminal), part, false);
  Status local = kStatusGood;
  if (vosq_io_dbdb.log_open) IO_WRITENA_FILE(kStreamLog, part, local);
}

void IO_WRITE_FILE(int stream, std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITE_FILE V0.3")) return;
  std::string_view line = used_text(text);
  if (line.empty()) line = " ";
  errno = 0;
  if (put(io_stream(stream), line, true)) return;
  io_write_failure(stream, errno != 0 ? errno : -1, status);
}

void io_write_failure(int stream, int code, Status& status) {
  // Closed before the report, which would otherwise go to a failing log.
  std::string_view stopped;
  if (stream == kStreamLog && vosq_io_dbdb.log_open) {
    vosq_io_dbdb.log_open = false;
    io_close_stream(kStreamLog);
    stopped = "WARNING: The log file is closed; nothing more is written to it";
  } else if (stream == kStreamOutputMacro && vosq_io_dbdb.output_macro) {
    vosq_io_dbdb.output_macro = false;
    io_close_stream(kStreamOutputMacro);
    stopped = "WARNING: The output macro file is closed; no more answers are recorded";
  }
  Status local = kStatusGood;
  IO_WRITE("ERROR: Failed to output ASCII text to an output file. May be you do not", local);
  IO_WRITE("       have write permission, or the file system, or your quota, are full.", local);
  IO_WRITE(" ", local);
  IO_WRITE("       Input/output status return value (IOSTAT) = " + format_i(code, 8), local);
  IO_WRITE("       (This value is system dependent; see system documentation.)", local);
  IO_WRITE(" ", local);
  if (!stopped.empty()) IO_WRITE(stopped, local);
  st_fail(status, 11010, "Subroutine IO_WRITE_FILE V0.3");
}

void IO_WRITENA_FILE(int stream, std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITENA_FILE V0.1")) return;
  std::string_view part = used_text(text);
  if (part.empty()) return;
  errno = 0;
  if (!put(io_stream(stream), part, false))
    io_write_failure(stream, errno != 0 ? errno : -1, status);
}

}  // namespace kesta
