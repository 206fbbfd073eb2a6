#include "formats/text_files.hpp"

#include <stdio.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <utility>

#include "core/ask_again.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/scratch_image.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

std::size_t fio_line_limit(Index xmaxdat) {
  constexpr Index kLeast = Index{1} << 20, kPerValue = 64;
  Index limit = 0;
  if (!checked_product(std::max<Index>(xmaxdat, 0), kPerValue, limit))
    return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(std::max(limit, kLeast));
}

FioLineReader::FioLineReader(std::FILE* file, std::string name, Index xmaxdat)
    : file_(file), name_(std::move(name)), limit_(fio_line_limit(xmaxdat)) {}

bool FioLineReader::next(std::string& line, Status& status) {
  if (refused_ || file_ == nullptr) return false;
  bool cut = false, endless = false;
  if (!io_read_bounded_line(file_, limit_, limit_, line, cut, endless)) {
    if (endless) {
      refused_ = true;
      line.clear();
      report_unread_file(name_, "has a line longer than " + std::to_string(limit_) + " characters",
                         status);
    }
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
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

namespace {

// TOKEN's letters against NAME's, whatever their case.
bool same_word(std::string_view token, std::string_view name) {
  return token.size() == name.size() &&
         std::equal(token.begin(), token.end(), name.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

// The texts the writers give a value that is not finite ("NaN", "Infinity",
// "-Infinity", or "Inf" and "-Inf" where the field is narrow), so that a
// masked or overflowed value reads back as it was written and not as a zero.
// A sign has already been taken off: other programs write "-nan" and "+inf".
bool non_finite_value(std::string_view token, bool negative, float& value) {
  if (same_word(token, "NAN")) {
    value = std::numeric_limits<float>::quiet_NaN();
    return true;
  }
  if (!same_word(token, "INF") && !same_word(token, "INFINITY")) return false;
  value = negative ? -std::numeric_limits<float>::infinity()
                   : std::numeric_limits<float>::infinity();
  return true;
}

// A decimal number beyond single precision as the nearest value that is, as
// an IEEE reader gives it: infinity above the range, zero or a subnormal
// below it (the C library rounds correctly and keeps the sign).
float nearest_single(std::string_view digits) {
  const std::string text(digits);
  return std::strtof(text.c_str(), nullptr);
}

// NUMBER with its Fortran exponent written as the E form it stands for, so
// that it reads with E's range: the D of double precision, or the sign alone
// that takes the letter's place when an exponent has three digits (after a
// mantissa with a point, as typed numbers take it, so that a date or a range
// such as "2020-01" stays no number). Empty when NUMBER has neither.
std::string fortran_e_form(std::string_view number) {
  std::string text(number);
  if (const std::size_t letter = number.find_first_of("Dd"); letter != std::string_view::npos) {
    text[letter] = 'e';
    return text;
  }
  const std::size_t sign = number.find_first_of("+-", 1);
  if (sign == std::string_view::npos) return {};
  const std::string_view mantissa = number.substr(0, sign);
  if (mantissa.find('.') == std::string_view::npos ||
      mantissa.find_first_of("Ee") != std::string_view::npos)
    return {};
  text.insert(sign, 1, 'e');
  return text;
}

}  // namespace

bool fio_to_real(std::string_view token, float& value) {
  std::string_view number = token;
  bool negative = false;
  if (number.size() > 1 && (number[0] == '+' || number[0] == '-') && number[1] != '+' &&
      number[1] != '-') {
    negative = number[0] == '-';
    // The reader below takes a minus but not a plus; the minus stays for it.
    if (!negative) number.remove_prefix(1);
  }
  float v = 0.0f;
  std::from_chars_result read = std::from_chars(number.data(), number.data() + number.size(), v);
  std::string e_form;
  if (read.ptr != number.data() + number.size() && !(e_form = fortran_e_form(number)).empty()) {
    number = e_form;
    read = std::from_chars(number.data(), number.data() + number.size(), v);
  }
  const char* end = number.data() + number.size();
  const auto [at, error] = read;
  if (at == end && error == std::errc() && std::isfinite(v)) {
    value = v;
    return true;
  }
  if (at == end && error == std::errc::result_out_of_range) {
    value = nearest_single(number);
    return true;
  }
  if (non_finite_value(negative ? number.substr(1) : number, negative, value)) return true;
  bool ok = false;
  Status local = ST_GOOD();
  IO_TOKTR(token, ok, value, local);
  return ok;
}

bool fio_output_path(const std::string& name, std::string& path, Status& status) {
  int trans = 0;
  IO_TRANS_PATH(name, trans, path, status);
  if (status != kStatusGood) return false;
  if (trans == 0) return true;
  IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
  return false;
}

std::unique_ptr<AtomicFile> fio_ask_text_output(std::string& name, Status& status) {
  IO_WRITE("Enter name of output file", status);
  // A name that did not open is asked for again offering the one offered
  // before; one whose folder is wrong ends the writer and is not kept either.
  const std::string offered = name;
  std::unique_ptr<AtomicFile> out;
  bool bad_path = false;
  io_ask_until_accepted(
      name,
      [](std::string& n, Status& s) {
        io_input_file_name(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"}, 1,
                           n, s);
      },
      [&](const std::string& n) {
        std::string path;
        if (!fio_output_path(n, path, status)) return bad_path = true;
        out = std::make_unique<AtomicFile>(path);
        if (out->ok()) return true;
        report_output_open_failure(*out, status);
        out.reset();
        return false;
      },
      [](Status& s) { IO_WRITE("WARNING: Error in opening file, Please retype name", s); },
      status);
  if (bad_path || status != kStatusGood) {
    name = offered;
    return nullptr;
  }
  return out;
}

std::unique_ptr<AtomicFile> fio_open_text_output(const std::string& name, Status& status) {
  std::string path;
  if (!fio_output_path(name, path, status)) return nullptr;
  auto out = std::make_unique<AtomicFile>(path);
  if (out->ok()) return out;
  report_output_open_failure(*out, status);
  return nullptr;
}

namespace {
const std::string* chosen_output = nullptr;
}  // namespace

FioChosenOutput::FioChosenOutput(std::string name)
    : name_(std::move(name)), outer_(chosen_output) {
  chosen_output = &name_;
}

FioChosenOutput::~FioChosenOutput() { chosen_output = outer_; }

const std::string* fio_chosen_output() { return chosen_output; }

void fio_warn_replacing_input(const std::string& name, std::string_view input_file,
                              std::string_view accept, Status& status) {
  if (status != kStatusGood || SLEN(input_file) == 0) return;
  std::string proposed, input;
  if (!input_path(name, proposed, status) ||
      !input_path(std::string(used_text(input_file)), input, status))
    return;
  // The same file by any path; a file that does not exist is replaced by
  // nothing.
  std::error_code error;
  if (!std::filesystem::equivalent(proposed, input, error)) return;
  gs_refusal({name + " IS THE INPUT FILE: \"" + std::string(accept) + "\" REPLACES IT"}, status);
}

bool fio_gui_default_file(std::string_view input_file, std::string_view format_text,
                          TextLines title, TextLines info, std::string& name, Status& status) {
  if (chosen_output != nullptr) {
    name = *chosen_output;
    return true;
  }
  fio_warn_replacing_input(name, input_file, "YES", status);
  if (status != kStatusGood) return false;
  const std::string shown = name;
  bool use = true;
  GS_INPL(false, false, true, true, "USE " + shown,
          {shown, "is the default file for output in " + std::string(format_text) + ".",
           "If this file is appropriate enter \"YES\". If you want",
           "to use a different file, enter \"NO\"."},
          {"Enter \"YES\" or \"NO\""}, use, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  if (status != kStatusGood) return false;
  if (use) return true;
  int cancelled = 0;
  const int titles = static_cast<int>(title.size()), lines = static_cast<int>(info.size());
  GS_FILESELECTION(std::max(titles, 1), titles, title.view(), std::max(lines, 1), lines,
                   info.view(), 3, false, cancelled, name, status);
  return status == kStatusGood && cancelled == 0;
}

bool fio_commit_output(AtomicFile& out, std::string_view position, Status& status) {
  if (out.commit()) return true;
  report_output_write_failure(out, position, status);
  return false;
}

void fio_say_non_finite(const NonFinitePixels& found, std::string_view noun,
                        std::string (*field)(float), Status& status) {
  if (found.total() == 0) return;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const auto as = [&](float v) { return std::string(trimmed_text(field(v))); };
  io_write_non_finite_line(
      found, noun, {as(std::numeric_limits<float>::quiet_NaN()), as(kInfinity), as(-kInfinity)},
      status);
}

void fio_say_non_finite(std::span<const float> values, std::string (*field)(float),
                        Status& status) {
  const auto n = static_cast<Index>(values.size());
  if (n > 0) fio_say_non_finite(non_finite_pixels(values, n, 1, 1, n, 1), "value", field, status);
}

void fio_force_row_or_column(OneDChoice& choice, Index xstrelm, Index ystrelm, Index xendelm,
                             Index yendelm) {
  if (xstrelm == xendelm)
    choice.rows = false;
  else if (ystrelm == yendelm)
    choice.rows = true;
  if (choice.row < ystrelm || choice.row > yendelm) choice.row = ystrelm;
  if (choice.column < xstrelm || choice.column > xendelm) choice.column = xstrelm;
}

void fio_ask_row_or_column(OneDChoice& choice, Index xstrelm, Index ystrelm, Index xendelm,
                           Index yendelm, Status& status) {
  fio_force_row_or_column(choice, xstrelm, ystrelm, xendelm, yendelm);
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

GsFormItem fio_form_item(std::string_view label, int type, std::string_view prompt,
                         std::string_view help) {
  GsFormItem item;
  item.label = label;
  item.type = type;
  item.prompt = prompt;
  item.description = help;
  return item;
}

GsFormItem fio_form_integer(std::string_view label, std::string_view prompt,
                            std::string_view help, Index lower, Index upper, Index value) {
  constexpr Index kMost = 2147483647;
  GsFormItem item = fio_form_item(label, 1, prompt, help);
  item.ranged = true;
  item.int_lower = static_cast<int>(std::clamp<Index>(lower, -kMost, kMost));
  item.int_upper = static_cast<int>(std::clamp<Index>(upper, item.int_lower, kMost));
  item.int_value = static_cast<int>(std::clamp<Index>(value, item.int_lower, item.int_upper));
  return item;
}

void FIO_INP_1DOUT(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                   std::string& file_name, bool& output_rows, Index& row, Index& column,
                   Status& status) {
  if (st_bad(status, "Subroutine FIO_INP_1DOUT V0.3")) return;
  static const std::string kHelp[] = {"This size form allows you to specifythe output file name",
                                      "and whether to output a row or a column,",
                                      "and which row or column to output."};
  std::vector<GsFormItem> items{
      fio_form_item("FILE NAME", 8, "SELECT FILE TO CONTAIN DATA",
                    "Enter name of file to contain data"),
      fio_form_item("OUTPUT ROWS", 2, "OUTPUT ROWS (YES) OR COLUMNS (NO)",
                    "Enter \"YES\" to output a row, \"NO\" to output a column"),
      fio_form_integer("ROW NUMBER", "NUMBER OF ROW TO OUTPUT", "Number of row to output",
                       ystrelm, yendelm, row),
      fio_form_integer("COLUMN NUMBER", "NUMBER OF COLUMN TO OUTPUT",
                       "Number of column to output", xstrelm, xendelm, column)};
  items[0].string_value = file_name;
  items[1].logical_value = output_rows;
  int code = 0;
  GS_FORM(2, 2, {"OUTPUT FILE NAME AND", "ROW OR COLUMN TO OUTPUT"}, 3, 3, kHelp, 9, items, code,
          status);
  if (status != kStatusGood) return;
  if (code != 0) {
    status = kStatusEscape;
    return;
  }
  file_name = items[0].string_value;
  output_rows = items[1].logical_value;
  row = items[2].int_value;
  column = items[3].int_value;
}

std::unique_ptr<AtomicFile> fio_gui_text_output(std::string_view input_file, bool name_chosen,
                                                std::string_view extension,
                                                std::string_view default_file, std::string& name,
                                                OneDChoice& choice, Index xstrelm, Index ystrelm,
                                                Index xendelm, Index yendelm, Status& status) {
  fio_force_row_or_column(choice, xstrelm, ystrelm, xendelm, yendelm);
  if (!name_chosen) {
    IO_OUTFILE(0, input_file, extension, default_file, name, status);
    fio_warn_replacing_input(name, input_file, "O.K.", status);
    FIO_INP_1DOUT(xstrelm, ystrelm, xendelm, yendelm, name, choice.rows, choice.row,
                  choice.column, status);
    const bool cancelled = status == kStatusEscape;
    if (status == kStatusEscape) st_reset(status);  // CANCEL: nothing written
    if (status != kStatusGood || cancelled) return nullptr;
  }
  return fio_open_text_output(name, status);
}

std::unique_ptr<AtomicFile> fio_ask_1d_output(std::string& name, OneDChoice& choice,
                                              Index xstrelm, Index ystrelm, Index xendelm,
                                              Index yendelm, Status& status) {
  auto out = fio_ask_text_output(name, status);
  if (!out) return nullptr;
  fio_ask_row_or_column(choice, xstrelm, ystrelm, xendelm, yendelm, status);
  if (status != kStatusGood) return nullptr;
  return out;
}

std::unique_ptr<AtomicFile> fio_1d_output(bool gui, std::string_view input_file,
                                          bool name_chosen, std::string_view extension,
                                          std::string_view default_file, std::string& name,
                                          OneDChoice& choice, Index xstrelm, Index ystrelm,
                                          Index xendelm, Index yendelm, Status& status) {
  if (gui)
    return fio_gui_text_output(input_file, name_chosen, extension, default_file, name, choice,
                               xstrelm, ystrelm, xendelm, yendelm, status);
  IO_OUTFILE(0, input_file, extension, default_file, name, status);
  return fio_ask_1d_output(name, choice, xstrelm, ystrelm, xendelm, yendelm, status);
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
