// File helpers of the distortion files.

#include "app/distortion/text_file.hpp"

#include "core/ask_again.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

bool open_output_text(std::string& file_name, std::optional<AtomicFile>& out, Status& status) {
  // A name that did not open is asked for again offering the one offered
  // before; one whose folder is wrong ends the question and is not kept.
  const std::string offered = file_name;
  bool bad_path = false;
  io_ask_until_accepted(
      file_name,
      [](std::string& name, Status& s) {
        io_input_file_name(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"}, 11,
                           name, s);
      },
      [&](const std::string& name) {
        std::string path;
        int trans = 0;
        IO_TRANS_PATH(name, trans, path, status);
        if (trans != 0) {
          IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)",
                   status);
          return bad_path = true;
        }
        out.emplace(path);
        if (out->ok()) return true;
        IO_WRITE(output_open_failure(*out), status);
        out.reset();
        return false;
      },
      [](Status& s) { IO_WRITE("WARNING: Error in opening file, Please retype name", s); },
      status);
  if (bad_path || status != kStatusGood || !out) {
    out.reset();
    file_name = offered;
    return false;
  }
  return true;
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
