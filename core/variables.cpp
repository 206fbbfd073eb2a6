#include "core/variables.hpp"

#include <algorithm>

#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

// The variable last proposed or set by IO_VARIABLE (1-based, 0 none).
int last_variable = 0;

// NAME as the table holds it: cut to 32 characters, trailing blanks dropped.
std::string_view table_name(std::string_view name) {
  return without_trailing_blanks(name.substr(0, std::min(name.size(), kVariableNameLength)));
}

bool is_text_type(char type) { return type == 's' || type == 'u'; }

// 0-based entry of NAME, or -1.
int find(std::string_view name) {
  const std::string_view key = table_name(name);
  for (int k = 0; k < io_variables.count; ++k)
    if (io_variables.names[k] == key) return k;
  return -1;
}

// SVALUE cut or blank-padded to LENGTH characters.
std::string text_of(int length, std::string_view svalue) {
  const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
  std::string text(svalue.substr(0, std::min(n, svalue.size())));
  text.resize(n, ' ');
  return text;
}

// Writes the value of entry K for TYPE; a text goes to a new pool slot.
void store_value(int k, char type, int ivalue, bool lvalue, float rvalue, const std::string& text,
                 int& retstat, Status& status) {
  switch (type) {
    case 'i': io_variables.ivalues[k] = ivalue; break;
    case 'l': io_variables.lvalues[k] = lvalue; break;
    case 'r': io_variables.rvalues[k] = rvalue; break;
    case 's':
    case 'u':
      IO_SET_VARSTR(static_cast<int>(text.size()), text, retstat, status);
      if (retstat == 0) io_variables.sindex[k] = io_strings.count;
      break;
    default: break;
  }
}

// Updates the text of an existing string entry K: in place when it fits the
// room up to the next slot, otherwise moved to the end of the pool.
void update_text(int k, const std::string& text, int& retstat, Status& status) {
  const int slot = io_variables.sindex[k];
  const int start = io_strings.start[slot - 1];
  // The last slot may grow up to the end of the pool.
  const int limit = slot < io_strings.count ? io_strings.start[slot] : kVarPoolLength + 1;
  const int length = static_cast<int>(text.size());
  if (length <= limit - start) {
    std::copy(text.begin(), text.end(), io_strings.pool.begin() + (start - 1));
    io_strings.end[slot - 1] = start + length - 1;
    io_strings.used = std::max(io_strings.used, io_strings.end[slot - 1]);
    return;
  }
  IO_VARKILLSTR(slot, status);
  IO_SET_VARSTR(length, text, retstat, status);
  if (retstat == 0)
    io_variables.sindex[k] = io_strings.count;
  else
    io_variables.types[k] = '*';
}

// Copies the value of entry K into the argument of its type.
void value_of(int k, char& type, int& ivalue, bool& lvalue, float& rvalue, int& length,
              std::string& svalue) {
  type = io_variables.types[k];
  switch (type) {
    case 'i': ivalue = io_variables.ivalues[k]; break;
    case 'l': lvalue = io_variables.lvalues[k]; break;
    case 'r': rvalue = io_variables.rvalues[k]; break;
    case 's':
    case 'u': {
      const int slot = io_variables.sindex[k];
      const int start = io_strings.start[slot - 1];
      length = io_strings.end[slot - 1] - start + 1;
      svalue = io_strings.pool.substr(start - 1, length);
      break;
    }
    default: break;
  }
}

}  // namespace

void io_clear_variables() {
  io_variables.count = 0;
  io_strings.count = 0;
  io_strings.used = 0;
  io_strings.pool.assign(kVarPoolLength, ' ');
  last_variable = 0;
}

int IO_VAR_NUMBER(std::string_view name, Status& status) {
  if (st_bad(status, "Function Io_var_number V0.1")) return 0;
  return find(name) + 1;
}

void IO_SET_VARIABLE(std::string_view name, char type, int ivalue, bool lvalue, float rvalue,
                     int length, std::string_view svalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_VARIABLE V0.2")) return;
  retstat = 0;
  const std::string text = is_text_type(type) ? text_of(length, svalue) : std::string();
  const int k = find(name);
  if (k >= 0) {
    const char old = io_variables.types[k];
    if (old == '*' && is_text_type(type)) {
      // A string whose earlier update did not fit has no slot left: give it one.
      io_variables.types[k] = type;
      store_value(k, type, ivalue, lvalue, rvalue, text, retstat, status);
      if (retstat != 0) io_variables.types[k] = '*';
      return;
    }
    if (old != type) {
      IO_WRITE("WARNING: Attempt to change data type or variable", status);
      retstat = 3;
      return;
    }
    if (is_text_type(type))
      update_text(k, text, retstat, status);
    else
      store_value(k, type, ivalue, lvalue, rvalue, text, retstat, status);
    return;
  }
  if (io_variables.count >= kMaxVariables) {
    retstat = 1;
    return;
  }
  const int n = io_variables.count;
  io_variables.names[n] = std::string(table_name(name));
  io_variables.types[n] = type;
  io_variables.count = n + 1;
  store_value(n, type, ivalue, lvalue, rvalue, text, retstat, status);
  if (retstat != 0) io_variables.count = n;  // the text did not fit: no entry
}

void IO_INQ_VARIABLE(std::string_view name, int& retstat, char& type, int& ivalue, bool& lvalue,
                     float& rvalue, int& length, std::string& svalue, Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_VARIABLE V0.1")) return;
  const int k = find(name);
  if (k < 0) {
    retstat = 1;
    return;
  }
  retstat = 0;
  value_of(k, type, ivalue, lvalue, rvalue, length, svalue);
}

void IO_INQ_VARNUM(int number, int& num_variables, int& retstat, std::string& name, char& type,
                   int& ivalue, bool& lvalue, float& rvalue, int& length, std::string& svalue,
                   Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_VARNUM V0.1")) return;
  num_variables = io_variables.count;
  if (number < 1 || number > io_variables.count) {
    retstat = 1;
    return;
  }
  retstat = 0;
  name = io_variables.names[number - 1];
  value_of(number - 1, type, ivalue, lvalue, rvalue, length, svalue);
}

void IO_UNSET_VARIABLE(std::string_view name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_UNSET_VARIABLE V0.1")) return;
  const int k = find(name);
  if (k < 0) {
    retstat = 1;
    return;
  }
  retstat = 0;
  if (is_text_type(io_variables.types[k])) IO_VARKILLSTR(io_variables.sindex[k], status);
  for (int j = k; j + 1 < io_variables.count; ++j) {
    io_variables.names[j] = std::move(io_variables.names[j + 1]);
    io_variables.types[j] = io_variables.types[j + 1];
    io_variables.ivalues[j] = io_variables.ivalues[j + 1];
    io_variables.lvalues[j] = io_variables.lvalues[j + 1];
    io_variables.rvalues[j] = io_variables.rvalues[j + 1];
    io_variables.sindex[j] = io_variables.sindex[j + 1];
  }
  --io_variables.count;
}

const std::array<std::string, kNumDataTypes> kDataTypeChoices = {
    "BOOLEAN VALUE", "CHARACTER STRING VALUE",  "FLOATING POINT (REAL) VALUE",
    "INTEGER VALUE", "LOGICAL (BOOLEAN) VALUE", "REAL VALUE",
    "STRING VALUE"};
const std::array<std::string, kNumDataTypes> kDataTypeHelp = {
    "BOOLEAN VALUE: (Same as \"LOGICAL (BOOLEAN) VALUE\")",
    "CHARACTER STRING VALUE: Alpha-numeric character string value",
    "FLOATING POINT (REAL) VALUE: Floating point value",
    "INTEGER VALUE: Store as an integer value",
    "LOGICAL (BOOLEAN) VALUE: Logical \"true\" or \"false\" value",
    "REAL VALUE: (Same as \"FLOATING POINT (REAL) VALUE\")",
    "STRING VALUE: (Same as \"CHARACTER STRING VALUE\")"};

// An untyped text is offered as a string and becomes one when it is defined
// again.
std::string io_datatype_choice(char type) {
  switch (type) {
    case 's':
    case 'u': return "CHARACTER STRING VALUE";
    case 'r': return "FLOATING POINT (REAL) VALUE";
    case 'i': return "INTEGER VALUE";
    case 'l': return "LOGICAL (BOOLEAN) VALUE";
    default: return "INVALID (STRING)";
  }
}

void IO_VARIABLE(Status& status) {
  if (st_bad(status, "Subroutine IO_VARIABLE V0.1")) return;
  std::string name = "#IN";
  if (io_variables.count > 0) {
    last_variable = last_variable % io_variables.count + 1;
    name = io_variables.names[last_variable - 1];
  }
  IO_INPTOKEN(true, "ENTER NAME OF VARIABLE", {"Enter name of internal variable to define"},
              {"Enter string"}, 101, name, status);
  if (status != kStatusGood) return;

  char type = ' ';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  int length = 0;
  std::string svalue;
  int retstat = 1;
  IO_INQ_VARIABLE(name, retstat, type, ivalue, lvalue, rvalue, length, svalue, status);
  bool defined = retstat == 0;
  const std::string default_text = defined ? io_datatype_choice(type) : std::string();
  if (defined) IO_WRITE("INFO: Data type is: " + default_text, status);

  std::string choice = default_text;
  IO_MENU(defined, "ENTER DATA TYPE OF VARIABLE", kDataTypeHelp,
          {"Choice one of the available data types"}, kNumDataTypes, kDataTypeChoices, choice,
          status);
  if (status != kStatusGood) return;
  const auto chosen = std::find(kDataTypeChoices.begin(), kDataTypeChoices.end(), choice);
  if (chosen == kDataTypeChoices.end()) return;
  const char new_type = kDataTypeLetters[static_cast<std::size_t>(chosen - kDataTypeChoices.begin())];
  // The old value is offered while it is of the kind now asked for: a choice
  // naming the same type in other words keeps it as the default.
  const bool same_kind = new_type == (is_text_type(type) ? 's' : type);
  if (defined && (choice != default_text || new_type != type)) {
    if (choice != default_text) IO_WRITE("WARNING: Data type has been changed !", status);
    IO_UNSET_VARIABLE(name, retstat, status);
    defined = same_kind;
  }

  switch (new_type) {
    case 's':
      IO_INPS(defined, "ENTER CHARACTER STRING",
              {"Enter character string value for variable to define"}, {"Enter string"}, 1, length,
              svalue, status);
      break;
    case 'r':
      IO_INPR(false, 0.0f, 0.0f, defined, "ENTER FLOATING POINT VALUE",
              {"Enter floating point value for variable"}, {"Enter valid floating point value"},
              rvalue, status);
      break;
    case 'i':
      IO_INPI(false, 0, 0, defined, "ENTER INTEGER VALUE", {"Enter integer value for variable"},
              {"Enter valid integer value"}, ivalue, status);
      break;
    default:
      IO_INPL(false, false, false, defined, "ENTER LOGICAL (BOOLEAN) VALUE",
              {"Enter logical/boolean value for variable"}, {"Enter \"YES\" or \"NO\""}, lvalue,
              status);
      break;
  }
  if (status != kStatusGood) return;

  IO_SET_VARIABLE(name, new_type, ivalue, lvalue, rvalue, length, svalue, retstat, status);
  io_report_variable_refused(retstat, status);
  if (const int k = IO_VAR_NUMBER(name, status); k > 0) last_variable = k;
}

void io_report_variable_refused(int retstat, Status& status) {
  if (retstat == 1) {
    IO_WRITE("WARNING: Variable could not be defined as variable table is full", status);
  } else if (retstat == 2 || retstat == 3) {
    IO_WRITE("WARNING: Variable improperly defined owing to insufficient space in", status);
    IO_WRITE("         character string store", status);
  }
}

void IO_SET_VARSTR(int length, std::string_view string, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_VARSTR V0.1")) return;
  retstat = 0;
  if (io_strings.count >= kMaxVarStrings) {
    retstat = 3;
    return;
  }
  length = std::max(length, 0);
  if (length > kVarPoolLength - io_strings.used) {
    IO_SET_VARCOMPACT();
    if (length > kVarPoolLength - io_strings.used) {
      retstat = 2;
      return;
    }
  }
  const std::string text = text_of(length, string);
  std::copy(text.begin(), text.end(), io_strings.pool.begin() + io_strings.used);
  io_strings.start[io_strings.count] = io_strings.used + 1;
  io_strings.end[io_strings.count] = io_strings.used + length;
  ++io_strings.count;
  io_strings.used += length;
}

void IO_SET_VARCOMPACT() {
  // Every slot moves down, the first one included, so that a hole left at the
  // start of the pool by a deleted first string is reclaimed too.
  int used = 0;
  for (int j = 0; j < io_strings.count; ++j) {
    const int start = io_strings.start[j];
    const int length = io_strings.end[j] - start + 1;
    auto from = io_strings.pool.begin() + (start - 1);
    std::copy(from, from + length, io_strings.pool.begin() + used);  // moves down: overlap is safe
    io_strings.start[j] = used + 1;
    io_strings.end[j] = used + length;
    used += length;
  }
  std::fill(io_strings.pool.begin() + used, io_strings.pool.end(), ' ');
  io_strings.used = used;
}

void IO_VARKILLSTR(int index, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_VARKILLSTR V0.1")) return;
  if (index < 1 || index > io_strings.count) {
    st_fail(status, 10005, "Subroutine IO_SET_VARKILLSTR V0.1");
    return;
  }
  for (int j = index; j < io_strings.count; ++j) {
    io_strings.start[j - 1] = io_strings.start[j];
    io_strings.end[j - 1] = io_strings.end[j];
  }
  --io_strings.count;
  for (int k = 0; k < io_variables.count; ++k)
    if (is_text_type(io_variables.types[k]) && io_variables.sindex[k] > index)
      --io_variables.sindex[k];
}

}  // namespace kesta
