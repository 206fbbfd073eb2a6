#include "formats/fio_stream.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

namespace {

// The layer's state: one input stream, one output stream (a temporary file
// that replaces its target on a clean close).
struct FioFileIoc {
  std::FILE* io_file_in = nullptr;
  bool io_file_in_open = false;
  int io_file_in_id = -1;
  std::unique_ptr<AtomicFile> io_file_out;
  bool io_file_out_open = false;
  int io_file_out_id = -1;
};
FioFileIoc fio_fileioc;

// The layer's own diagnostics go straight to the terminal, not the log.
void terminal_line(const std::string& text) {
  if (std::FILE* out = io_stream(kStreamTerminal)) {
    std::fputs(text.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
  }
}

// The checks every block transfer starts with: RETSTAT 1 for a count beyond
// the buffer (MAX, itself at most the buffer's SIZE) or another stream's id,
// 2 for a closed stream; true when the transfer may go ahead.
bool transfer_allowed(int stream_id, Index max, std::size_t size, Index count, bool input,
                      int& retstat) {
  const bool is_open = input ? fio_fileioc.io_file_in_open : fio_fileioc.io_file_out_open;
  const int id = input ? fio_fileioc.io_file_in_id : fio_fileioc.io_file_out_id;
  if (count < 0 || count > std::min<Index>(max, static_cast<Index>(size)) || stream_id != id) {
    retstat = 1;
    return false;
  }
  if (!is_open) {
    retstat = 2;
    return false;
  }
  return true;
}

// Reads NUM_BYTES at the current position; shared by both read routines.
void read_block(Index num_bytes, int swap, int& retstat, Index& bytes_read,
                std::span<std::byte> buffer) {
  std::FILE* in = fio_fileioc.io_file_in;
  const std::size_t got = io_read_bytes(in, buffer.data(), static_cast<std::size_t>(num_bytes));
  bytes_read = static_cast<Index>(got);
  fio_swap_bytes(buffer.first(got), swap);
  if (got == static_cast<std::size_t>(num_bytes))
    retstat = 0;
  else if (got == 0)
    retstat = 3;
  else
    retstat = 5;
}

// Reverses the bytes of each whole T-sized group of BYTES; a short tail
// stays as it is.
template <typename T>
void swap_groups(std::span<std::byte> bytes) {
  for (std::size_t k = 0; k + sizeof(T) <= bytes.size(); k += sizeof(T)) {
    T value;
    std::memcpy(&value, bytes.data() + k, sizeof value);
    value = byte_swapped(value);
    std::memcpy(bytes.data() + k, &value, sizeof value);
  }
}

}  // namespace

void fio_swap_bytes(std::span<std::byte> bytes, int swap) {
  if (swap == 1) {
    swap_groups<std::uint16_t>(bytes);
  } else if (swap == 2) {
    swap_groups<std::uint32_t>(bytes);
  }
}

std::FILE* fio_input_file() {
  return fio_fileioc.io_file_in_open ? fio_fileioc.io_file_in : nullptr;
}

namespace {

// Why the last input file was not opened, for the question that asks again.
std::string& input_open_problem() {
  static std::string problem;
  return problem;
}

}  // namespace

void FIO_FILEOPENC(const std::string& file_name, int mode, int& retstat, int& stream_id) {
  if (mode < 1 || mode > 4) {
    retstat = 1;
    return;
  }
  const bool input = mode == 1 || mode == 3;
  if (input) {
    if (fio_fileioc.io_file_in_open) {
      retstat = 2;
      return;
    }
    // Only regular files: a FIFO without a writer would block the program.
    std::string& problem = input_open_problem();
    problem.clear();
    std::FILE* f = open_input_file(file_name, problem).release();
    if (f == nullptr) {
      retstat = 3;
      return;
    }
    fio_fileioc.io_file_in = f;
    fio_fileioc.io_file_in_open = true;
    fio_fileioc.io_file_in_id = kFioInputStream;
    stream_id = kFioInputStream;
  } else {
    if (fio_fileioc.io_file_out_open) {
      retstat = 2;
      return;
    }
    auto out = std::make_unique<AtomicFile>(file_name);
    if (!out->ok()) {
      terminal_line(output_open_failure(*out));
      retstat = 3;
      return;
    }
    fio_fileioc.io_file_out = std::move(out);
    fio_fileioc.io_file_out_open = true;
    fio_fileioc.io_file_out_id = kFioOutputStream;
    stream_id = kFioOutputStream;
  }
  retstat = 0;
}

void FIO_FILECLOSEC(int stream_id, int& retstat) {
  if (stream_id == fio_fileioc.io_file_in_id) {
    if (!fio_fileioc.io_file_in_open) {
      retstat = 2;
      return;
    }
    std::fclose(fio_fileioc.io_file_in);
    fio_fileioc.io_file_in = nullptr;
    fio_fileioc.io_file_in_open = false;
    retstat = 0;
  } else if (stream_id == fio_fileioc.io_file_out_id) {
    if (!fio_fileioc.io_file_out_open) {
      retstat = 2;
      return;
    }
    AtomicFile& out = *fio_fileioc.io_file_out;
    const bool committed = out.commit();
    if (!committed) terminal_line(output_write_failure(out));
    fio_fileioc.io_file_out.reset();
    fio_fileioc.io_file_out_open = false;
    retstat = committed ? 0 : 3;
  } else {
    retstat = 1;
  }
}

void FIO_FILEREADC(int stream_id, Index max_bytes, Index num_bytes, int swap, int& retstat,
                   Index& bytes_read, std::span<std::byte> buffer) {
  bytes_read = 0;
  if (!transfer_allowed(stream_id, max_bytes, buffer.size(), num_bytes, true, retstat)) {
    if (retstat == 2) terminal_line("WARNING: Input file is not open");
    return;
  }
  if (num_bytes == 0) {
    retstat = 0;
    return;
  }
  read_block(num_bytes, swap, retstat, bytes_read, buffer);
  if (retstat == 3) {
    terminal_line("WARNING: End of file encoutered");
  } else if (retstat == 5) {
    terminal_line("WARNING: " + std::to_string(bytes_read) + " bytes input instead of " +
                  std::to_string(num_bytes) + " requested");
  }
}

void FIO_FILEPREADC(int stream_id, Index byte_position, Index max_bytes, Index num_bytes,
                    int swap, int& retstat, Index& bytes_read, std::span<std::byte> buffer) {
  bytes_read = 0;
  if (!transfer_allowed(stream_id, max_bytes, buffer.size(), num_bytes, true, retstat)) return;
  if (!io_seek(fio_fileioc.io_file_in, byte_position)) {
    retstat = 4;
    return;
  }
  if (num_bytes == 0) {
    retstat = 0;
    return;
  }
  read_block(num_bytes, swap, retstat, bytes_read, buffer);
}

void FIO_ASCIIREADC(int stream_id, int max_chars, int& retstat, std::string& buffer) {
  if (stream_id != fio_fileioc.io_file_in_id || max_chars < 2) {
    retstat = 1;
    return;
  }
  if (!fio_fileioc.io_file_in_open) {
    terminal_line("WARNING: Input file is not open");
    retstat = 2;
    return;
  }
  // fgets semantics: at most MAX_CHARS - 1 characters, the newline kept.
  buffer.clear();
  std::FILE* in = fio_fileioc.io_file_in;
  const std::size_t limit = static_cast<std::size_t>(max_chars) - 1;
  int c = 0;
  while (buffer.size() < limit && (c = std::fgetc(in)) != EOF) {
    buffer.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (buffer.empty()) {
    retstat = 3;
    return;
  }
  if (buffer == "\n") buffer = " ";
  retstat = 0;
}

void FIO_FILEWRITEC(int stream_id, Index max_bytes, Index num_bytes, int swap,
                    std::span<std::byte> buffer, int& retstat, Index& bytes_written) {
  bytes_written = 0;
  if (num_bytes < 0 || num_bytes > std::min<Index>(max_bytes, static_cast<Index>(buffer.size()))) {
    retstat = 1;
    return;
  }
  // The caller's buffer is swapped first, and stays swapped whatever follows.
  fio_swap_bytes(buffer.first(static_cast<std::size_t>(num_bytes)), swap);
  if (!transfer_allowed(stream_id, max_bytes, buffer.size(), num_bytes, false, retstat)) return;
  AtomicFile& out = *fio_fileioc.io_file_out;
  // A failed write is said once, by the writer's report on its file (which
  // names it, the system's reason and what became of the old file).
  if (!out.write(buffer.data(), static_cast<std::size_t>(num_bytes))) {
    retstat = 3;
    return;
  }
  bytes_written = num_bytes;
  retstat = 0;
}

void FIO_FILEWREALC(int stream_id, Index max_values, Index num_values,
                    std::span<const float> buffer, int& retstat, Index& values_written) {
  values_written = 0;
  if (!transfer_allowed(stream_id, max_values, buffer.size(), num_values, false, retstat)) return;
  if (!fio_fileioc.io_file_out->write(buffer.data(),
                                      static_cast<std::size_t>(num_values) * sizeof(float))) {
    retstat = 3;
    return;
  }
  values_written = num_values;
  retstat = 0;
}

void FIO_FILEOPEN(std::string_view file_name, std::string_view mode, int& retstat, int& stream_id,
                  Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_FILEOPEN V0.3";
  if (st_bad(status, kPosition)) return;
  const std::string_view word = used_text(mode);
  int number = 0;
  if (word == "READ")
    number = 1;
  else if (word == "WRITE")
    number = 2;
  else if (word == "READ_ASCII")
    number = 3;
  else if (word == "WRITE_ASCII")
    number = 4;
  else {
    st_fail(status, kBaseFormats + 17, kPosition);
    return;
  }
  const std::string_view name = used_text(file_name);
  if (name.empty()) {
    st_fail(status, kBaseFormats + 33, kPosition);
    return;
  }
  FIO_FILEOPENC(std::string(name), number, retstat, stream_id);
}

void FIO_OPENFILE(bool prompt, std::string_view mode, std::string& file_name, int& retstat,
                  int& stream_id, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OPENFILE V0.3";
  if (st_bad(status, kPosition)) return;
  // True when NAME opened or nothing more is to be asked (a bad "~" path, a
  // bad status); a file that did not open is named with the reason.
  const auto opens = [&](const std::string& name) {
    std::string path;
    int trans = 0;
    IO_TRANS_PATH(name, trans, path, status);
    if (status != kStatusGood) return true;
    if (trans != 0) {
      retstat = 1;
      return true;
    }
    input_open_problem().clear();
    FIO_FILEOPEN(path, mode, retstat, stream_id, status);
    if (status == kStatusGood && retstat != 0 && !input_open_problem().empty())
      IO_WRITE("WARNING: File " + path + " " + input_open_problem(), status);
    return status != kStatusGood || retstat == 0;
  };
  if (!prompt) {
    opens(file_name);
    return;
  }
  // A name that did not open is asked for again offering the one offered
  // before it.
  if (!io_ask_until_accepted(
          file_name,
          [](std::string& name, Status& s) {
            io_input_file_name(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"},
                               11, name, s);
          },
          opens,
          [](Status& s) {
            if (s == kStatusGood) IO_WRITE("Error in opening file, Please retype name", s);
          },
          status))
    retstat = 1;
}

}  // namespace kesta
