#pragma once
// File helpers of the distortion files: the output file asked for by name and
// written through a temporary file, and a text file read line by line.

#include <optional>
#include <string>

#include "core/atomic_file.hpp"
#include "core/types.hpp"

namespace kesta {

// Asks "FILE NAME" (FILE_NAME the default, receiving the answer) until a
// temporary file beside the named file can be made; false after a user
// escape or a bad "~" path ("WARNING: Problem with file directory path
// (directory doesn't exist ?)").
bool open_output_text(std::string& file_name, std::optional<AtomicFile>& out, Status& status);

// The lines of a text file without their line ends, through the input stream.
class TextFileLines {
 public:
  TextFileLines() = default;
  ~TextFileLines();
  TextFileLines(const TextFileLines&) = delete;
  TextFileLines& operator=(const TextFileLines&) = delete;

  // Opens FILE_NAME, asking for it first when PROMPT; false (with a warning
  // naming the file) when it cannot be opened.
  bool open(bool prompt, std::string& file_name, Status& status);
  // The next line; false at the end of the file.
  bool next(std::string& line);
  // The number of the line last read (1-based).
  Index number() const { return number_; }

 private:
  int stream_ = -1;
  Index number_ = 0;
};

}  // namespace kesta
