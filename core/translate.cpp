#include "core/translate.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/expression.hpp"
#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

// Quote state shared by every scan of an answer: "'" opens a quoted string,
// the next single "'" closes it, and "''" inside stands for one quote.
class QuoteState {
 public:
  // Feeds TEXT[k]; returns true when it lies outside a quoted string and is
  // not a quote character. K may be advanced over a doubled quote.
  bool outside(std::string_view text, std::size_t& k) {
    if (text[k] != '\'') return !quoted_;
    if (!quoted_) {
      quoted_ = true;
    } else if (k + 1 < text.size() && text[k + 1] == '\'') {
      ++k;
    } else {
      quoted_ = false;
    }
    return false;
  }

 private:
  bool quoted_ = false;
};

// LINE up to its first "!" outside quotes, and then up to its used length.
std::string without_comment(std::string_view line) {
  QuoteState quotes;
  for (std::size_t k = 0; k < line.size(); ++k) {
    if (quotes.outside(line, k) && line[k] == '!') {
      line = line.substr(0, k);
      break;
    }
  }
  return std::string(line.substr(0, static_cast<std::size_t>(SLEN(line))));
}

// Drops a final "&" (blanks before it stay); true when there was one.
bool continued(std::string& line) {
  if (line.empty() || line.back() != '&') return false;
  line.pop_back();
  return true;
}

}  // namespace

void IO_TRANSLATE(int& length, std::string& response, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_TRANSLATE V0.2")) return;
  std::string statement;
  int statement_length = 0;
  IO_STATEMENT(response, statement_length, statement, status);
  if (status != kStatusGood) return;
  if (statement_length > 0) IO_TR_PARSE(statement_length, statement, retstat, status);
  statement.resize(
      std::min(static_cast<std::size_t>(std::max(statement_length, 0)), statement.size()));
  io_cut_response(statement);
  response = std::move(statement);
  length = SLEN(response);
}

void IO_STATEMENT(std::string_view response, int& length, std::string& statement, Status& status) {
  if (st_bad(status, "Subroutine IO_STATEMENT V0.3")) return;
  length = 0;
  statement.clear();
  if (SLEN(response) == 0) return;

  std::string first = without_comment(response);
  bool more = continued(first);
  if (first.empty()) {
    // A first line that is only a comment (or only "&") gives no statement.
    return;
  }
  statement = first;
  int lines = 1;
  static const std::array<std::string, 1> kPrompt = {"Continuation: "};
  while (more) {
    if (lines >= kStatementMaxLines) {
      IO_WRITE("WARNING: Too many continuation lines; the statement ends here (at most 20 lines)",
               status);
      break;
    }
    // The line holding the "&" is finished, whatever the type-ahead cursor says.
    vosq_io_dbdb.new_line_needed = true;
    int line_length = 0;
    std::string raw;
    IO_INPUT_LINE(false, kPrompt, line_length, raw, status);
    if (status != kStatusGood) {
      statement.clear();
      length = 0;
      return;
    }
    raw.resize(std::min(raw.size(), static_cast<std::size_t>(std::max(line_length, 0))));
    std::string line = without_comment(raw);
    more = continued(line);
    if (SLEN(line) == 0) {
      // Nothing on the line: ask for it again (an "&" alone continues too).
      more = true;
      continue;
    }
    if (statement.size() + 1 + line.size() > kStatementLength) {
      IO_WRITE("WARNING: Statement longer than 2000 characters; the last line is ignored", status);
      break;
    }
    statement += ' ';
    statement += line;
    ++lines;
  }
  length = static_cast<int>(statement.size());
}

void IO_TR_PARSE(int& length, std::string& statement, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_TR_PARSE V0.3")) return;
  if (length <= 0) return;
  const std::string_view text = std::string_view(statement).substr(
      0, std::min(statement.size(), static_cast<std::size_t>(length)));
  const int start1 = IO_START(text);
  if (start1 < 1) return;
  const std::size_t start = static_cast<std::size_t>(start1 - 1);

  // The assignment sign: an "=" outside quotes that is not part of "==",
  // ">=", "<=", "/=" or "!=".
  std::size_t sign = std::string_view::npos;
  QuoteState quotes;
  for (std::size_t k = start; k < text.size(); ++k) {
    if (!quotes.outside(text, k) || text[k] != '=') continue;
    const char before = k > 0 ? text[k - 1] : ' ';
    const char after = k + 1 < text.size() ? text[k + 1] : ' ';
    if (after == '=' || before == '>' || before == '<' || before == '=' || before == '/' ||
        before == '!')
      continue;
    sign = k;
    break;
  }

  // The value of the variable named, or of the right side.
  char type = ' ';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  int slength = 0;
  std::string svalue;
  if (sign == std::string_view::npos) {
    const std::string_view body = text.substr(start);
    if (body.size() >= 2 && body.front() == '\'' && body.back() == '\'') {
      std::string quoted(body);
      int quoted_length = static_cast<int>(quoted.size());
      IO_QUOTEDSTRING(quoted_length, quoted, status);
      quoted.resize(std::min(quoted.size(), static_cast<std::size_t>(std::max(quoted_length, 0))));
      statement = std::move(quoted);
      length = quoted_length;
      return;
    }
    IO_INQ_VARIABLE(body, retstat, type, ivalue, lvalue, rvalue, slength, svalue, status);
    if (retstat != 0) return;
    std::string value;
    switch (type) {
      case 'i': value = IO_ITOC(ivalue); break;
      case 'l': value = IO_LTOC(lvalue); break;
      case 'r': value = IO_RTOC(rvalue); break;
      case 's':
      case 'u': value = svalue.substr(0, static_cast<std::size_t>(std::max(slength, 0))); break;
      default: return;  // a string that did not fit has no value to give
    }
    if (type != 's' && type != 'u') {
      value.resize(std::min<std::size_t>(value.size(), 20));
      value.resize(static_cast<std::size_t>(SLEN(value)));
    }
    statement = std::move(value);
    length = static_cast<int>(statement.size());
    return;
  }

  if (sign == start || sign + 1 == text.size()) {
    retstat = 2;
    return;
  }

  // The right side without blanks and tabs outside quoted strings.
  std::string right;
  QuoteState right_quotes;
  const std::string_view rest = text.substr(sign + 1);
  for (std::size_t k = 0; k < rest.size(); ++k) {
    const std::size_t first = k;
    if (!right_quotes.outside(rest, k)) {
      right.append(rest.substr(first, k - first + 1));
      continue;
    }
    if (rest[k] != ' ' && rest[k] != '\t') right.push_back(rest[k]);
  }

  IO_EVALUATE(static_cast<int>(right.size()), right, retstat, type, ivalue, lvalue, rvalue, slength,
              svalue, status);
  if (retstat != 0) return;

  std::string_view name = text.substr(start, sign - start);
  name = name.substr(0, static_cast<std::size_t>(SLEN(name)));
  if (name.empty()) {
    retstat = 2;
    return;
  }
  IO_SET_VARIABLE(name, type, ivalue, lvalue, rvalue, slength, svalue, retstat, status);
  // No room is reported; a refused change of type (3 with a defined name)
  // leaves the answer as it is, like a faulty right side.
  if (retstat == 1 || retstat == 2) io_report_variable_refused(retstat, status);
  if (retstat != 0) return;
  status = kStatusConsumed;
}

}  // namespace kesta
