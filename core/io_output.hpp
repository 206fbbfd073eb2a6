#pragma once
// Terminal and log output, the fixed stream numbers, and the core services'
// shared state blocks.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// Fixed stream numbers used throughout the core services.
inline constexpr int kStreamTerminal = 6;
inline constexpr int kStreamDefaults = 17;
inline constexpr int kStreamLog = 40;
inline constexpr int kStreamOutputMacro = 41;
inline constexpr int kStreamInputMacro = 42;

// VOSQ_IO_DBDB: the core services' shared dialogue state.
struct IoDbdb {
  bool log_open = false;             // the log (stream 40) is open
  bool output_macro = false;         // responses are recorded to stream 41
  bool input_macro = false;          // responses come from stream 42
  bool new_line_needed = true;       // the type-ahead line is used up
  int next_position = 1;             // 1-based start of the next token search
  int end_position = 1;              // used length of the last line, at least 1
  bool paging_on = true;             // the help pager stops after each page
  int lines_per_page = 16;           // page length of the help pager
  bool file_sequence = false;        // a file series is being processed
  int macro_line = 0;                // number of the last line read from the input macro
  int loop_depth = 0;                // open DO loops of the input macro (0 or 1)
};
inline IoDbdb vosq_io_dbdb;

// VOSQ_IO_DBINTERACTIVE: the last response line (at most 132 characters), or
// one of the markers "%!*\ EOF" and "%!*\ SEQUENCE".
inline constexpr std::size_t kInteractiveLength = 132;
inline std::string vosq_io_dbinteractive;

// Stream table: the C stream behind each stream number. Stream 6 is the
// terminal (standard output unless redirected, e.g. by a test).
std::FILE* io_stream(int stream);
void io_set_stream(int stream, std::FILE* file);  // nullptr closes the slot (without fclose)
// The system's code (errno) of the first failed write that IO_WRITE_FILE or
// IO_WRITENA_FILE reported on STREAM since its file was set, for a later
// report of the failure (the stream's error flag keeps no code); 0 for none.
int io_stream_failure(int stream);
// Opens PATH with the fopen MODE ("r", "rb", "r+", "w", "wb", "a", ...)
// without ever blocking. A file opened for reading or update must be a
// regular file, checked on what was opened before a byte is read (a named
// pipe without a writer, a device such as /dev/zero, a directory are
// refused); a named pipe opened for writing must have a reader, and a file
// written is never the program's own standard input (a file or a pipe).
// Otherwise nullptr and PROBLEM: "is a directory", "is not a regular file",
// "is a named pipe that nothing reads", "is the program's own standard
// input", "is the running macro", or "cannot be opened: " and the system's reason.
// A file opened for reading only reads no further than the size it had when
// it was opened: every reader reads within that bound, so a file that grows
// meanwhile, or a system file that says it is empty but reads without end
// (under /proc), reads as what its size says (empty, and is refused so).
std::FILE* io_open_file(const std::string& path, const char* mode, std::string& problem);
// True when PATH is the program's own standard input, a file, pipe or socket
// (the same device and inode): a file written there would destroy the answers
// still to be read, or feed the program its own lines. Every writer refuses it.
bool io_is_standard_input(const std::string& path);
// True when PATH is the file of the input macro being replayed: a file
// written there would overwrite the macro under its own replay. Every writer
// refuses it ("is the running macro").
bool io_is_running_macro(const std::string& path);
// The bound of a file io_open_file opened for reading (its size then); for
// another stream the size of the regular file behind it; -1 when unknown.
Index io_file_size(std::FILE* file);
// The system's descriptor behind FILE (also one io_open_file opened for
// reading, whose stream has none of its own), for reads at an offset within
// io_file_size; -1 when there is none.
int io_file_descriptor(std::FILE* file);
// std::fread of SIZE bytes, for image-sized blocks: fast also on a stream
// io_open_file bounded, and within its bound. The number of bytes read.
std::size_t io_read_bytes(std::FILE* file, void* buffer, std::size_t size);
// A file opened for reading, closed when it goes.
struct FileClose {
  void operator()(std::FILE* file) const;
};
using InputFile = std::unique_ptr<std::FILE, FileClose>;

// The one opener of every file read (images, their companion files, the
// defaults, macros): PATH opened for binary reading by io_open_file, so only
// a regular file once links are followed; otherwise nullptr and PROBLEM
// ("is a directory", "is not a regular file", or "cannot be opened: " and
// the system's reason; errno tells ENOENT, a file that is not there).
InputFile open_input_file(const std::string& path, std::string& problem);
// The program's own reads of the system's files (/proc/self/status and the
// like), whose size says nothing of their content: PATH opened as
// open_input_file does, read up to MOST bytes instead of its size.
InputFile open_system_file(const std::string& path, Index most, std::string& problem);

// Opens PATH on STREAM as io_open_file does; closes what was there. False on
// failure (errno EISDIR for a directory).
bool io_open_stream(int stream, const std::string& path, const char* mode, std::string& problem);
bool io_open_stream(int stream, const std::string& path, const char* mode);
// Closes (fclose) the file on STREAM, if any. False when closing reported an error.
bool io_close_stream(int stream);

// Initialises the IO state, the variable table and the token separators.
void IO_DEF_SYSTEM(Status& status);

// Columns of the terminal (stream 6): the window's width when it is a
// terminal, else COLUMNS when set, else 80.
int io_terminal_width();

// One line to the terminal and, while the log is open, to the log.
void IO_WRITE(std::string_view text, Status& status);
// Each of LINES as IO_WRITE writes it, without paging.
void io_write_lines(TextLines lines, Status& status);
// While an IoHeldLines lives, the lines IO_WRITE is given are kept in it
// instead of reaching the terminal and the log (for work whose report is
// told only if its result is the one kept); lines() gives them, to be
// written with io_write_lines or dropped. Holds nest: the innermost keeps.
class IoHeldLines {
 public:
  IoHeldLines();
  ~IoHeldLines();
  IoHeldLines(const IoHeldLines&) = delete;
  IoHeldLines& operator=(const IoHeldLines&) = delete;
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  friend void IO_WRITE(std::string_view text, Status& status);
  std::vector<std::string> lines_;
  IoHeldLines* outer_;
};
// A partial line (prompt) to the terminal and the log; nothing for blank text.
void IO_WRITENA(std::string_view text, Status& status);
// One line to a stream; on a failed write reports it and sets 11010.
void IO_WRITE_FILE(int stream, std::string_view text, Status& status);
// IO_WRITE_FILE for a file whose owner says a failed write itself, in its
// one line naming the file and the reason (from io_stream_failure): the
// failure sets 11010 without IO_WRITE_FILE's lines.
void io_write_file_owner_says(int stream, std::string_view text, Status& status);
// A partial line to a stream; a failed write as IO_WRITE_FILE.
void IO_WRITENA_FILE(int stream, std::string_view text, Status& status);

// The report of a failed write to the file on STREAM, as IO_WRITE_FILE gives
// it: the advice lines and the system's error CODE, then STATUS 11010. A log
// or an output macro that failed is closed first and written no more (a line
// says so), so that one full disk cannot make every later answer fail.
void io_write_failure(int stream, int code, Status& status);

}  // namespace kesta
