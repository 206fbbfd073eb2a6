#include "core/prompts.hpp"

#include <cstdlib>

#include "core/io_output.hpp"
#include "core/pager.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr int kPromptWidth = 60;
constexpr std::size_t kStringAnswerLength = 256;
constexpr std::size_t kTokenAnswerLength = 132;

std::string trim_left(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return std::string(text.substr(i));
}

std::string range_text(const std::string& lower, const std::string& upper) {
  return " (Range: " + trim_left(lower) + " to " + trim_left(upper) + ")";
}

std::string default_text(const std::string& value) { return " [" + trim_left(value) + "]"; }

bool is_help_request(std::string_view token) {
  const std::string up = IO_UPPER(trim_left(token));
  return up == "?" || up == "HELP";
}

std::vector<std::string> prompt_lines(bool ranged, bool fixed, std::string_view prompt,
                                      std::string_view range, std::string_view deflt,
                                      Status& status) {
  std::vector<std::string> lines;
  IO_OUTPROMPT(false, ranged, fixed, prompt, range, deflt, lines, status);
  return lines;
}

// An assignment answers no question: its variable is set and the question
// is asked again as it was, without the help a refused answer brings. The
// macro's end and every other status go to the caller.
bool assignment_asks_again(bool& again, Status& status) {
  if (!io_ask_again(status)) return false;
  again = false;
  return true;
}

// Conversion of the numeric prompts: the token routine, the text of a bound,
// and what is shown when a token does not convert.
template <typename T>
struct Numeric;

template <>
struct Numeric<int> {
  static void convert(std::string_view token, bool& ok, int& value, Status& status) {
    IO_TOKTI(token, ok, value, status);
  }
  static std::string text(int value) { return IO_ITOC(value); }
  static void not_converted(Status& status) {
    IO_TEXT({"Entered response cannot be converted to an integer"}, status);
  }
};

template <>
struct Numeric<float> {
  static void convert(std::string_view token, bool& ok, float& value, Status& status) {
    IO_TOKTR(token, ok, value, status);
  }
  static std::string text(float value) { return IO_RTOC(value); }
  static void not_converted(Status& status) {
    IO_WRITE("Error in input value: cannot convert to a real number", status);
  }
};

template <>
struct Numeric<double> {
  static void convert(std::string_view token, bool& ok, double& value, Status& status) {
    IO_TOKTD(token, ok, value, status);
  }
  static std::string text(double value) { return IO_DTOC(value); }
  static void not_converted(Status& status) {
    IO_WRITE("Error in input value: cannot convert to a double precision", status);
  }
};

// SHOWN writes a bound or the default (the type's own short form unless
// given).
template <typename T>
void ask_number(bool ranged, T lower, T upper, bool fixed, std::string_view prompt,
                std::span<const std::string> help, std::span<const std::string> error, T& value,
                Status& status, std::string (*shown)(T) = Numeric<T>::text) {
  const std::string range = ranged ? range_text(shown(lower), shown(upper)) : std::string();
  bool again = false;
  while (true) {
    if (again) IO_TEXT(help, status);
    again = true;
    const std::string deflt = fixed ? default_text(shown(value)) : std::string();
    const auto lines = prompt_lines(ranged, fixed, prompt, range, deflt, status);
    int length = 0;
    std::string token;
    IO_INPUT_TOKEN(true, lines, length, token, status);
    if (assignment_asks_again(again, status)) continue;
    if (status != kStatusGood) return;

    bool have = false;
    T candidate{};
    if (length == 0) {
      if (fixed) {
        candidate = value;
        have = true;
      }
    } else {
      if (is_help_request(token)) continue;
      bool ok = false;
      Numeric<T>::convert(token, ok, candidate, status);
      if (status != kStatusGood) return;
      if (ok)
        have = true;
      else
        Numeric<T>::not_converted(status);
    }
    if (have && (!ranged || (lower <= candidate && candidate <= upper))) {
      value = candidate;
      return;
    }
    // A refused answer refuses the rest of its line too ("OUTPUT DATA" is
    // one refusal, not one a word).
    io_drop_type_ahead();
    IO_TEXT(error, status);
  }
}

// Answer case by the units digit of MODE.
std::string convert_case(std::string_view text, int mode) {
  const int units = std::abs(mode) % 10;
  if (units == 0) return IO_LOWER(text);
  if (units == 2) return IO_UPPER(text);
  return std::string(used_text(text));
}

struct ModeDigits {
  bool help_words;  // "?" and "HELP" ask for help
  bool translate;   // the answer passes the response translation
};

ModeDigits mode_digits(int mode) {
  const int m = std::abs(mode);
  return {(m / 10) % 10 == 1, (m / 100) % 10 == 0};
}

std::string string_default(const std::string& value) {
  return " [" + (SLEN(value) > 0 ? std::string(used_text(value)) : std::string(" ")) + "]";
}

// The string and word prompts: the rest of the line (WHOLE_LINE) or one word.
// An empty answer is never refused: it gives the default or a blank.
void ask_text(bool whole_line, bool fixed, std::string_view prompt,
              std::span<const std::string> help, std::span<const std::string> error, int mode, int& length, std::string& text, Status& status,
              std::string_view position) {
  if (help.empty() || error.empty()) {
    st_fail(status, 10001, position);
    return;
  }
  const ModeDigits digits = mode_digits(mode);
  const std::size_t limit = whole_line ? kStringAnswerLength : kTokenAnswerLength;
  bool again = false;
  while (true) {
    if (again) IO_TEXT(help, status);
    again = true;
    const std::string deflt = fixed ? string_default(text) : std::string();
    const auto lines = prompt_lines(false, fixed, prompt, "", deflt, status);
    int answer_length = 0;
    std::string answer;
    if (whole_line)
      IO_INPUT_LINE(digits.translate, lines, answer_length, answer, status);
    else
      IO_INPUT_TOKEN(digits.translate, lines, answer_length, answer, status);
    if (assignment_asks_again(again, status)) continue;
    if (status != kStatusGood) return;
    if (answer.size() > limit) answer.resize(limit);
    if (answer_length == 0 || SLEN(answer) == 0) {
      text = fixed ? convert_case(text, mode) : std::string();
      return;
    }
    if (digits.help_words && is_help_request(answer)) continue;
    text = convert_case(answer, mode);
    length = std::min(answer_length, static_cast<int>(limit));
    return;
  }
}

}  // namespace

void IO_OUTPROMPT(bool colon_alone, bool ranged, bool fixed, std::string_view prompt,
                  std::string_view range_text, std::string_view default_text,
                  std::vector<std::string>& lines, Status& status) {
  if (st_bad(status, "Subroutine IO_OUTPROMPT V0.2")) return;
  const std::string p(used_text(prompt));
  const std::string r = ranged ? std::string(used_text(range_text)) : std::string();
  const std::string d = fixed ? std::string(used_text(default_text)) : std::string();
  const auto P = static_cast<int>(p.size());
  const auto R = static_cast<int>(r.size());
  const auto D = static_cast<int>(d.size());
  lines.clear();
  std::string w;
  if (P + R + D <= kPromptWidth) {
    w = p + r + d;
  } else if (P + R <= kPromptWidth) {
    lines.push_back(p + r);
    w = d;
  } else if (R + D <= kPromptWidth) {
    if (R + D == 0) {
      w = p;
    } else {
      lines.push_back(p);
      w = r + d;
    }
  } else {
    lines.push_back(p);
    lines.push_back(r);
    w = d;
  }
  if (!colon_alone && SLEN(w) <= kPromptWidth) {
    lines.push_back(w + ":");
  } else {
    lines.push_back(w);
    lines.push_back(":");
  }
}

void IO_INPI(bool ranged, int lower, int upper, bool fixed, std::string_view prompt, TextLines help,
             TextLines error, int& value, Status& status) {
  if (st_bad(status, "Subroutine IO_INPI V0.6")) return;
  ask_number(ranged, lower, upper, fixed, prompt, help.view(), error.view(), value, status);
}

void IO_INPR(bool ranged, float lower, float upper, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, float& value, Status& status) {
  if (st_bad(status, "Subroutine IO_INPR V0.6")) return;
  ask_number(ranged, lower, upper, fixed, prompt, help.view(), error.view(), value, status);
}

void io_inpr_digits(bool ranged, float lower, float upper, bool fixed, std::string_view prompt,
                    TextLines help, TextLines error, float& value, Status& status) {
  if (st_bad(status, "Subroutine IO_INPR V0.6")) return;
  ask_number(ranged, lower, upper, fixed, prompt, help.view(), error.view(), value, status,
             io_rtoc_exact);
}

void IO_INPD(bool ranged, double lower, double upper, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, double& value, Status& status) {
  if (st_bad(status, "Subroutine IO_INPD V0.4")) return;
  ask_number(ranged, lower, upper, fixed, prompt, help.view(), error.view(), value, status);
}

void IO_INPL(bool /*ranged*/, bool /*lower*/, bool /*upper*/, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, bool& value, Status& status) {
  if (st_bad(status, "Subroutine IO_INPL V0.5")) return;
  bool again = false;
  while (true) {
    if (again) IO_TEXT(help.view(), status);
    again = true;
    const std::string deflt = fixed ? std::string(value ? " [YES]" : " [NO]") : std::string();
    const auto lines = prompt_lines(false, fixed, prompt, "", deflt, status);
    int length = 0;
    std::string token;
    IO_INPUT_TOKEN(true, lines, length, token, status);
    if (assignment_asks_again(again, status)) continue;
    if (status != kStatusGood) return;
    if (length == 0) {
      if (fixed) return;
    } else {
      if (token == "?" || token == "HELP") continue;
      bool ok = false;
      bool candidate = false;
      IO_TOKTL(token, ok, candidate, status);
      if (status != kStatusGood) return;
      if (ok) {
        value = candidate;
        return;
      }
      // A line of several words ("STOP MACRO") is one refused answer, not one
      // refusal a word.
      io_drop_type_ahead();
    }
    IO_TEXT(error.view(), status);
  }
}

void IO_INPS(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
             int& length, std::string& string, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_INPS V0.7";
  if (st_bad(status, kPosition)) return;
  ask_text(true, fixed, prompt, help.view(), error.view(), mode, length, string, status, kPosition);
}

void IO_INPC(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
             std::string& string, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_INPC V0.3";
  if (st_bad(status, kPosition)) return;
  // The count check is IO_INPC's own, so the report names it.
  if (help.empty() || error.empty()) {
    st_fail(status, 10001, kPosition);
    return;
  }
  int length = 0;
  IO_INPS(fixed, prompt, help.view(), error.view(), mode, length, string, status);
}

void io_input_file_name(bool fixed, std::string_view prompt, TextLines help, TextLines error,
                        int mode, std::string& file, Status& status) {
  // "?" and "HELP" give the help at every file-name question: a file of
  // that name is never what was meant.
  const int m = std::abs(mode);
  const int help_mode = (m - (m / 10 % 10) * 10 + 10) * (mode < 0 ? -1 : 1);
  while (true) {
    std::string answer = file;
    IO_INPC(fixed, prompt, help.view(), error.view(), help_mode, answer, status);
    if (status != kStatusGood || !io_response_cut()) {
      file = std::move(answer);
      return;
    }
    IO_WRITE("WARNING: The file name is longer than " + std::to_string(kResponseLength) +
                 " characters; it was not used. Enter a shorter name",
             status);
  }
}

void IO_INPTOKEN(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
                 std::string& token, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_INPTOKEN V0.2";
  if (st_bad(status, kPosition)) return;
  int length = 0;
  ask_text(false, fixed, prompt, help.view(), error.view(), mode, length, token, status, kPosition);
}

}  // namespace kesta
