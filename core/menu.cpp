#include "core/menu.hpp"

#include <algorithm>
#include <vector>

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr int kMaxWords = 10;
constexpr std::size_t kWordLength = 32;
constexpr std::size_t kMenuAnswerLength = 80;

bool bad_counts(std::span<const std::string> choices, int num_choices, Status& status, std::string_view position) {
  if (choices.empty()) {
    st_fail(status, 10001, position);
    return true;
  }
  if (num_choices < 1 || static_cast<std::size_t>(num_choices) > choices.size()) {
    st_fail(status, 10005, position);
    return true;
  }
  return false;
}

// The entry's characters begin the choice (a choice shorter than the entry
// is blank-padded, so it cannot match).
bool text_match(const std::string& entry, std::string choice) {
  if (choice.size() < entry.size()) choice.resize(entry.size(), ' ');
  return choice.compare(0, entry.size(), entry) == 0;
}

// Each word of the entry begins the choice's word in the same place ("in da"
// for "INPUT DATA").
bool words_match(const std::string& entry, const std::string& choice) {
  std::vector<std::string> choice_words;
  std::size_t at = 0;
  while ((at = choice.find_first_not_of(' ', at)) != std::string::npos) {
    const std::size_t end = std::min(choice.find(' ', at), choice.size());
    choice_words.push_back(choice.substr(at, end - at));
    at = end;
  }
  std::size_t index = 0;
  at = 0;
  while (at < entry.size()) {
    const std::size_t end = std::min(entry.find(' ', at), entry.size());
    if (index >= choice_words.size() || choice_words[index].compare(0, end - at, entry, at, end - at) != 0)
      return false;
    ++index;
    at = end + 1;
  }
  return index > 0;
}

}  // namespace

void IO_COMMAND(std::string_view input, TextLines choices, int num_choices, int& result,
                std::string& command, Status& status) {
  io_command(MenuMatch::kLeadingPart, input, choices.view(), num_choices, result, command, status);
}

void io_command(MenuMatch how, std::string_view input, std::span<const std::string> choices,
                int num_choices, int& result, std::string& command, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_COMMAND V0.4";
  if (st_bad(status, kPosition)) return;
  if (bad_counts(choices, num_choices, status, kPosition)) return;

  bool all_found = false;
  int num_words = 0;
  std::vector<std::string> words;
  IO_TOKENS(input, kMaxWords, all_found, num_words, words, status);
  if (status != kStatusGood) return;
  std::string joined;
  for (int i = 0; i < num_words; ++i) {
    std::string word = words[static_cast<std::size_t>(i)];
    if (word.size() > kWordLength) word.resize(kWordLength);
    if (!joined.empty()) joined.push_back(' ');
    joined += word;
  }
  result = -1;
  if (SLEN(joined) == 0) {
    IO_WRITE("ERROR: Null command entered", status);
    return;
  }
  const std::string entry = IO_UPPER(joined);
  int matches = 0;
  for (bool by_words : {false, true}) {
    for (int i = 0; i < num_choices; ++i) {
      const std::string choice = IO_UPPER(choices[static_cast<std::size_t>(i)]);
      if (!(by_words ? words_match(entry, choice) : text_match(entry, choice))) continue;
      if (++matches == 1) command = choice;
    }
    // Abbreviated words are tried only when the entry as a whole begins no choice.
    if (matches > 0) break;
  }
  if (matches > 1 && how == MenuMatch::kWholeName) {
    int whole = 0;
    std::string named;
    for (int i = 0; i < num_choices; ++i) {
      const std::string choice = IO_UPPER(choices[static_cast<std::size_t>(i)]);
      if (used_text(choice) != entry) continue;
      if (++whole == 1) named = choice;
    }
    if (whole == 1) {
      matches = 1;
      command = named;
    }
  }
  if (matches == 1) result = 0;
  if (matches > 1) result = -2;
}

void IO_MENU(bool fixed, std::string_view prompt, TextLines help, TextLines error,
             int num_choices, TextLines choices, std::string& command, Status& status) {
  io_menu(MenuMatch::kLeadingPart, fixed, prompt, help.view(), error.view(), num_choices,
          choices.view(), command, status);
}

void io_menu(MenuMatch how, bool fixed, std::string_view prompt, TextLines help,
             TextLines error, int num_choices, std::span<const std::string> choices,
             std::string& command, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_MENU V0.5";
  if (st_bad(status, kPosition)) return;
  if (bad_counts(choices, num_choices, status, kPosition)) return;

  // When "?" or "HELP" is a choice the caller answers it, so the string prompt
  // must hand those words back as ordinary answers.
  int mode = 11;
  for (const char* word : {"?", "HELP"}) {
    int result = -1;
    std::string ignored;
    IO_COMMAND(word, choices, num_choices, result, ignored, status);
    if (status != kStatusGood) return;
    if (result == 0) {
      mode = 1;
      break;
    }
  }
  // Only the first error line is shown.
  const std::span<const std::string> error_text = error.view().first(std::min<std::size_t>(error.size(), 1));

  int consumed_from = 1;
  while (true) {
    // Where this answer starts in the current line: a type-ahead rest, or a
    // whole new line.
    const unsigned long lines_before = io_response_count();
    const int rest_from = vosq_io_dbdb.new_line_needed ? 1 : vosq_io_dbdb.next_position;
    std::string answer = command;
    if (answer.size() > kMenuAnswerLength) answer.resize(kMenuAnswerLength);
    int length = 0;
    IO_INPS(fixed, prompt, help.view(), error_text, mode, length, answer, status);
    if (status != kStatusGood) return;
    consumed_from = io_response_count() == lines_before ? rest_from : 1;
    if (answer.size() > kMenuAnswerLength) answer.resize(kMenuAnswerLength);

    int result = -1;
    std::string matched;
    io_command(how, IO_UPPER(answer), choices, num_choices, result, matched, status);
    if (status != kStatusGood) return;
    if (result == 0) {
      command = matched;
      break;
    }
    if (result == -2) {
      IO_WRITE("WARNING: Entered command is ambiguous. Please enter more letters.", status);
      continue;
    }
    const std::size_t start = answer.find_first_not_of(" \t");
    if (start != std::string::npos && answer[start] == '$' && SLEN(answer) > static_cast<int>(start) + 1) {
      IO_WRITE("INFO: Sending the command to the operating system", status);
      int return_code = 0;
      IO_SYSTEM(std::string_view(answer).substr(start + 1), return_code, status);
      command = "null";
      break;
    }
    IO_TEXT({"WARNING: Entered text does not correspond to any of the available choices.",
             "Please enter a command from the menu."},
            status);
  }
  // A recording that fails is reported and closed; the choice stands.
  Status local = kStatusGood;
  if (status == kStatusGood && vosq_io_dbdb.output_macro)
    io_outmacro_replace_last(command, consumed_from, local);
}

}  // namespace kesta
