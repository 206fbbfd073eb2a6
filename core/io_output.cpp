#include "core/io_output.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

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

// The system's code of the first failed write on each stream since its file
// was set: a stream that failed once fails again without a code.
std::map<int, int>& stream_failures() {
  static std::map<int, int> table;
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

// Writing into the program's own standard input destroys the answers still
// to be read (a file, truncated) or feeds the program its own lines until the
// pipe fills and it blocks. A terminal or a device is not harmed by it.
bool io_is_standard_input(const std::string& path) {
  struct stat input {}, target {};
  if (::fstat(STDIN_FILENO, &input) != 0 || ::stat(path.c_str(), &target) != 0) return false;
  const bool harmed = S_ISREG(input.st_mode) || S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode);
  return harmed && input.st_dev == target.st_dev && input.st_ino == target.st_ino;
}

// Writing over the macro being replayed destroys the user's macro while its
// own lines are still being read (a recording started from inside it).
bool io_is_running_macro(const std::string& path) {
  const int fd = io_file_descriptor(io_stream(kStreamInputMacro));
  struct stat macro {}, target {};
  if (fd < 0 || ::fstat(fd, &macro) != 0 || ::stat(path.c_str(), &target) != 0) return false;
  return macro.st_dev == target.st_dev && macro.st_ino == target.st_ino;
}

std::FILE* io_stream(int stream) {
  auto& table = stream_table();
  auto it = table.find(stream);
  if (it != table.end()) return it->second;
  if (stream == kStreamTerminal) return stdout;
  return nullptr;
}

int io_stream_failure(int stream) {
  const auto& failures = stream_failures();
  const auto it = failures.find(stream);
  return it == failures.end() ? 0 : it->second;
}

void io_set_stream(int stream, std::FILE* file) {
  stream_failures().erase(stream);
  auto& table = stream_table();
  if (file == nullptr)
    table.erase(stream);
  else
    table[stream] = file;
}

namespace {

// A file opened for reading, read no further than a bound fixed when it was
// opened (its size then): a file that grows while it is read, or a system
// file that says it is empty and reads without end (/proc/self/pagemap),
// can neither hold a reader nor fill the memory.
struct BoundedFile {
  std::FILE* stream = nullptr;  // the stream reading it
  int fd = -1;
  off_t bound = 0;     // bytes that may be read
  off_t position = 0;  // of the next byte read
};

// The bounded files open, by their streams (the stream layer does not show
// its cookie). Never destroyed: a stream still open at the exit (a macro)
// is read and closed after the static objects have gone.
std::mutex bounded_files_lock;
std::map<std::FILE*, BoundedFile*>& bounded_files() {
  static auto* files = new std::map<std::FILE*, BoundedFile*>;
  return *files;
}

const BoundedFile* bounded_file(std::FILE* file) {
  const std::lock_guard lock(bounded_files_lock);
  const auto& files = bounded_files();
  const auto it = files.find(file);
  return it == files.end() ? nullptr : it->second;
}

ssize_t bounded_read(void* cookie, char* buffer, std::size_t size) {
  auto& f = *static_cast<BoundedFile*>(cookie);
  if (f.position >= f.bound) return 0;
  size = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(size), f.bound - f.position));
  ssize_t got = 0;
  do {
    got = ::read(f.fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got > 0) f.position += got;
  return got;
}

int bounded_seek(void* cookie, off64_t* offset, int whence) {
  auto& f = *static_cast<BoundedFile*>(cookie);
  const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : f.bound;
  off_t target = 0;
  if (whence < SEEK_SET || whence > SEEK_END || __builtin_add_overflow(base, *offset, &target) ||
      target < 0) {
    errno = EINVAL;
    return -1;
  }
  if (::lseek(f.fd, target, SEEK_SET) < 0) return -1;
  f.position = target;
  *offset = target;
  return 0;
}

int bounded_close(void* cookie) {
  auto* f = static_cast<BoundedFile*>(cookie);
  {
    const std::lock_guard lock(bounded_files_lock);
    bounded_files().erase(f->stream);
  }
  const int result = ::close(f->fd);
  delete f;
  return result;
}

// Opens PATH as io_open_file does; a file opened for reading only is read
// up to MOST bytes, or up to its size at the opening when MOST is negative.
std::FILE* open_file(const std::string& path, const char* mode, Index most,
                     std::string& problem) {
  const std::string_view how(mode);
  const bool update = how.find('+') != std::string_view::npos;
  const bool reading = !how.empty() && how.front() == 'r';
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (reading)
    flags |= update ? O_RDWR : O_RDONLY;
  else
    flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | (how.front() == 'a' ? O_APPEND : O_TRUNC);
  if ((!reading || update) && io_is_standard_input(path)) {
    problem = "is the program's own standard input";
    errno = EINVAL;
    return nullptr;
  }
  if ((!reading || update) && io_is_running_macro(path)) {
    problem = "is the running macro";
    errno = EINVAL;
    return nullptr;
  }
  // Opened without blocking: a named pipe is refused instead of waiting for
  // the other end (for writing, the system answers ENXIO when nothing reads).
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    const int reason = errno;
    problem = reason == EISDIR ? "is a directory"
              : reason == ENXIO ? "is a named pipe that nothing reads"
                                : "cannot be opened: " + std::string(std::strerror(reason));
    errno = reason;
    return nullptr;
  }
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  if (!known || S_ISDIR(info.st_mode) || (reading && !S_ISREG(info.st_mode))) {
    problem = known && S_ISDIR(info.st_mode) ? "is a directory" : "is not a regular file";
    ::close(fd);
    errno = known && S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }
  const int status_flags = ::fcntl(fd, F_GETFL);
  if (status_flags >= 0) ::fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK);
  std::FILE* file = nullptr;
  if (reading && !update) {
    const off_t bound = most < 0 ? info.st_size : static_cast<off_t>(most);
    auto* bounded = new BoundedFile{nullptr, fd, bound, 0};
    file = ::fopencookie(bounded, mode, {bounded_read, nullptr, bounded_seek, bounded_close});
    if (file != nullptr) {
      bounded->stream = file;
      const std::lock_guard lock(bounded_files_lock);
      bounded_files()[file] = bounded;
    } else {
      delete bounded;
    }
  } else {
    file = ::fdopen(fd, mode);
  }
  if (file == nullptr) {
    const int reason = errno;
    problem = "cannot be opened: " + std::string(std::strerror(reason));
    ::close(fd);
    errno = reason;
  }
  return file;
}

}  // namespace

std::FILE* io_open_file(const std::string& path, const char* mode, std::string& problem) {
  return open_file(path, mode, -1, problem);
}

Index io_file_size(std::FILE* file) {
  if (file == nullptr) return -1;
  if (const BoundedFile* bounded = bounded_file(file)) return bounded->bound;
  struct stat info {};
  const int fd = ::fileno(file);
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<Index>(info.st_size);
}

std::size_t io_read_bytes(std::FILE* file, void* buffer, std::size_t size) {
  // The stream layer copies a read of a bounded stream through its small
  // buffer; a large block (an image) is read straight into place instead,
  // within the same bound, and the stream moved past it.
  constexpr std::size_t kDirect = std::size_t{32} << 10;
  const BoundedFile* bounded = size >= kDirect ? bounded_file(file) : nullptr;
  const off_t at = bounded != nullptr ? ::ftello(file) : -1;
  if (at < 0) return std::fread(buffer, 1, size, file);
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  off_t position = at;
  while (done < size && position < bounded->bound) {
    const auto want = static_cast<std::size_t>(
        std::min<off_t>(static_cast<off_t>(size - done), bounded->bound - position));
    const ssize_t got = ::pread(bounded->fd, out + done, want, position);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
    position += got;
  }
  if (::fseeko(file, position, SEEK_SET) != 0) return done;
  // A short block: the stream's own read of the rest sets its end or error.
  if (done < size) done += std::fread(out + done, 1, size - done, file);
  return done;
}

int io_file_descriptor(std::FILE* file) {
  if (file == nullptr) return -1;
  if (const BoundedFile* bounded = bounded_file(file)) return bounded->fd;
  return ::fileno(file);
}

void FileClose::operator()(std::FILE* file) const { std::fclose(file); }

InputFile open_input_file(const std::string& path, std::string& problem) {
  return InputFile(io_open_file(path, "rb", problem));
}

InputFile open_system_file(const std::string& path, Index most, std::string& problem) {
  return InputFile(open_file(path, "rb", std::max<Index>(most, 0), problem));
}

bool io_open_stream(int stream, const std::string& path, const char* mode, std::string& problem) {
  io_close_stream(stream);
  std::FILE* f = io_open_file(path, mode, problem);
  if (f == nullptr) return false;
  io_set_stream(stream, f);
  return true;
}

bool io_open_stream(int stream, const std::string& path, const char* mode) {
  std::string problem;
  return io_open_stream(stream, path, mode, problem);
}

bool io_close_stream(int stream) {
  auto& table = stream_table();
  auto it = table.find(stream);
  if (it == table.end()) return true;
  std::FILE* f = it->second;
  table.erase(it);
  stream_failures().erase(stream);
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

namespace {
IoHeldLines* held_lines = nullptr;
}  // namespace

IoHeldLines::IoHeldLines() : outer_(held_lines) { held_lines = this; }
IoHeldLines::~IoHeldLines() { held_lines = outer_; }

void IO_WRITE(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine IO_WRITE V0.1")) return;
  std::string_view line = used_text(text);
  if (line.empty()) line = " ";
  if (held_lines != nullptr) {
    held_lines->lines_.emplace_back(line);
    return;
  }
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

namespace {

constexpr std::string_view kWriteFilePosition = "Subroutine IO_WRITE_FILE V0.3";

// IO_WRITE_FILE's line to STREAM; false (the system's code kept for the
// stream) when it could not be written.
bool put_file_line(int stream, std::string_view text, int& code) {
  std::string_view line = used_text(text);
  if (line.empty()) line = " ";
  errno = 0;
  if (put(io_stream(stream), line, true)) return true;
  code = errno != 0 ? errno : -1;
  if (code > 0) stream_failures().emplace(stream, code);
  return false;
}

}  // namespace

void IO_WRITE_FILE(int stream, std::string_view text, Status& status) {
  if (st_bad(status, kWriteFilePosition)) return;
  int code = 0;
  if (!put_file_line(stream, text, code)) io_write_failure(stream, code, status);
}

void io_write_file_owner_says(int stream, std::string_view text, Status& status) {
  if (st_bad(status, kWriteFilePosition)) return;
  int code = 0;
  if (!put_file_line(stream, text, code)) st_fail(status, 11010, kWriteFilePosition);
}

void io_write_failure(int stream, int code, Status& status) {
  if (code > 0) stream_failures().emplace(stream, code);
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
  st_fail(status, 11010, kWriteFilePosition);
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
