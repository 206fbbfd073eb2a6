// File helpers of the distortion files.

#include "app/distortion/text_file.hpp"

#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

bool open_output_text(std::string& file_name, std::optional<AtomicFile>& out, Status& status) {
  for (;;) {
    IO_INPC(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"}, 11, file_name,
            status);
    if (status != kStatusGood) return false;
    std::string path;
    int trans = 0;
    IO_TRANS_PATH(file_name, trans, path, status);
    if (trans != 0) {
      IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
      return false;
    }
    out.emplace(path);
    if (out->ok()) return true;
    IO_WRITE(output_open_failure(*out), status);
    out.reset();
    IO_WRITE("WARNING: Error in opening file, Please retype name", status);
  }
}

TextFileLines::~TextFileLines() {
  if (stream_ >= 0) {
    int retstat = 0;
    FIO_FILECLOSEC(stream_, retstat);
  }
}

bool TextFileLines::open(bool prompt, std::string& file_name, Status& status) {
  int retstat = 0, stream = -1;
  FIO_OPENFILE(prompt, "READ_ASCII", file_name, retstat, stream, status);
  if (status != kStatusGood) return false;
  if (retstat != 0) {
    IO_WRITE("WARNING: Error in opening file: ", status);
    IO_WRITE(file_name, status);
    return false;
  }
  stream_ = stream;
  return true;
}

bool TextFileLines::next(std::string& line) {
  if (stream_ < 0) return false;
  int retstat = 0;
  FIO_ASCIIREADC(stream_, 4096, retstat, line);
  if (retstat != 0) return false;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  ++number_;
  return true;
}

}  // namespace kesta
