#include "formats/text_files.hpp"

#include <stdio.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {

bool fio_read_line(std::FILE* file, std::string& line) {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  const ssize_t n = ::getline(&buffer, &capacity, file);
  if (n < 0) {
    std::free(buffer);
    return false;
  }
  std::size_t used = static_cast<std::size_t>(n);
  if (used > 0 && buffer[used - 1] == '\n') --used;
  if (used > 0 && buffer[used - 1] == '\r') --used;
  line.assign(buffer, used);
  std::free(buffer);
  return true;
}

std::vector<std::string> fio_tokens(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::string_view separators = io_cseparators;
  while (i < line.size()) {
    while (i < line.size() && separators.find(line[i]) != std::string_view::npos) ++i;
    const std::size_t start = i;
    while (i < line.size() && separators.find(line[i]) == std::string_view::npos) ++i;
    if (i > start) out.emplace_back(line.substr(start, i - start));
  }
  return out;
}

bool fio_to_real(std::string_view token, float& value) {
  const char* end = token.data() + token.size();
  float v = 0.0f;
  const auto [at, error] = std::from_chars(token.data(), end, v);
  if (error == std::errc() && at == end && std::isfinite(v)) {
    value = v;
    return true;
  }
  bool ok = false;
  Status local = ST_GOOD();
  IO_TOKTR(token, ok, value, local);
  return ok;
}

std::unique_ptr<AtomicFile> fio_ask_text_output(std::string& name, Status& status) {
  IO_WRITE("Enter name of output file", status);
  for (;;) {
    io_input_file_name(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"}, 1, name, status);
    if (status != kStatusGood) return nullptr;
    std::string path;
    int trans = 0;
    IO_TRANS_PATH(name, trans, path, status);
    if (status != kStatusGood) return nullptr;
    if (trans != 0) {
      IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
      return nullptr;
    }
    auto out = std::make_unique<AtomicFile>(path);
    if (out->ok()) return out;
    IO_WRITE("WARNING: Error in opening file, Please retype name", status);
  }
}

bool fio_commit_output(AtomicFile& out, Status& status) {
  if (out.commit()) return true;
  IO_WRITE("WARNING: Error in writing file " + out.path() + "; an existing file is left unchanged",
           status);
  return false;
}

void fio_ask_row_or_column(OneDChoice& choice, Index xstrelm, Index ystrelm, Index xendelm,
                           Index yendelm, Status& status) {
  if (xstrelm == xendelm)
    choice.rows = false;
  else if (ystrelm == yendelm)
    choice.rows = true;
  if (choice.row < ystrelm || choice.row > yendelm) choice.row = ystrelm;
  if (choice.column < xstrelm || choice.column > xendelm) choice.column = xstrelm;
  IO_INPL(false, false, true, true, "OUTPUT ROWS",
          {"\"YES\" to output a row of data, \"NO\" for a column"}, {"Enter \"YES\" or \"NO\""},
          choice.rows, status);
  if (status != kStatusGood) return;
  int number = static_cast<int>(choice.rows ? choice.row : choice.column);
  if (choice.rows)
    IO_INPI(true, static_cast<int>(ystrelm), static_cast<int>(yendelm), true,
            "NUMBER OF ROW TO OUTPUT", {"Enter number of row to be output to file"},
            {"Enter an integer within given range"}, number, status);
  else
    IO_INPI(true, static_cast<int>(xstrelm), static_cast<int>(xendelm), true,
            "NUMBER OF COLUMN TO OUTPUT", {"Enter number of column to be output to file"},
            {"Enter an integer within given range"}, number, status);
  if (status != kStatusGood) return;
  (choice.rows ? choice.row : choice.column) = number;
}

Scan fio_scan(const OneDChoice& choice, Index xmaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<const float> xaxis,
              std::span<const float> yaxis, std::span<const float> data,
              std::span<const float> variances) {
  Scan s;
  const bool with_variances = !variances.empty();
  auto take = [&](float x, Index at) {
    s.x.push_back(x);
    s.y.push_back(data[static_cast<std::size_t>(at)]);
    if (with_variances) s.variance.push_back(variances[static_cast<std::size_t>(at)]);
  };
  if (choice.rows) {
    for (Index x = xstrelm; x <= xendelm; ++x)
      take(xaxis[static_cast<std::size_t>(x - 1)], element(x, choice.row, xmaxdat));
  } else {
    for (Index y = ystrelm; y <= yendelm; ++y)
      take(yaxis[static_cast<std::size_t>(y - 1)], element(choice.column, y, xmaxdat));
  }
  return s;
}

void fio_advance(OneDChoice& choice) { ++(choice.rows ? choice.row : choice.column); }

}  // namespace kesta
