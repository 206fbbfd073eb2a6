#include "app/main/utility_commands.hpp"

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

constexpr int kMaxTextLines = 100;
constexpr std::size_t kTextLineLength = 80;

// Answers offered again for the rest of the run.
float pause_seconds = 1.0f;
int undefine_number = 1;
std::string first_string = "kesta.";
std::string second_string = "kzt";
std::string concatenation_name = "#FILE_OUT";

// Variable NUMBER of the table (1-based); false when there is none.
struct VariableEntry {
  std::string name;
  char type = ' ';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  int length = 0;
  std::string svalue;
};
bool variable_entry(int number, int& count, VariableEntry& entry, Status& status) {
  int retstat = 0;
  IO_INQ_VARNUM(number, count, retstat, entry.name, entry.type, entry.ivalue, entry.lvalue,
                entry.rvalue, entry.length, entry.svalue, status);
  return status == kStatusGood && retstat == 0;
}


std::string value_text(const VariableEntry& v) {
  switch (v.type) {
    case 'i': return " i = " + IO_ITOC(v.ivalue);
    case 'l': return " l = " + IO_LTOC(v.lvalue);
    case 'r': return " r = " + IO_RTOC(v.rvalue);
    default: {
      const int n = (v.type == 's' || v.type == 'u') ? std::max(v.length, 0) : 0;
      return " s(" + IO_ITOC(n) + ") = " + v.svalue.substr(0, static_cast<std::size_t>(n));
    }
  }
}

}  // namespace

int kzt_variable_count(Status& status) {
  int count = 0;
  VariableEntry unused;
  variable_entry(0, count, unused, status);
  return count;
}

std::string kzt_variable_name(int number, Status& status) {
  int count = 0;
  VariableEntry entry;
  return variable_entry(number, count, entry, status) ? entry.name : std::string();
}

int kzt_set_variable(std::string_view name, char type, int ivalue, bool lvalue, float rvalue,
                     std::string_view text, Status& status) {
  int retstat = 0;
  IO_SET_VARIABLE(name, type, ivalue, lvalue, rvalue, static_cast<int>(text.size()), text, retstat,
                  status);
  if (status != kStatusGood) return retstat;
  if (retstat == 1) {
    IO_WRITE("WARNING: Variable could not be defined as variable table is full", status);
  } else if (retstat == 2) {
    IO_WRITE("WARNING: Variable improperly defined owing to insufficient space in", status);
    IO_WRITE("         character string store", status);
  }
  return retstat;
}

void kzt_macro_comment(TextLines lines, Status& status) {
  if (!vosq_io_dbdb.output_macro) return;
  for (const std::string& line : lines) io_outmacro_record(line, status);
}

void kzt_input_text_lines(std::vector<std::string>& lines, Status& status) {
  if (st_bad(status, "Subroutine KZT_INPUT_TEXT V0.1")) return;
  lines.clear();
  while (static_cast<int>(lines.size()) < kMaxTextLines) {
    std::string line;
    // Free text: taken as typed, so "=" or a variable's name stay text.
    IO_INPC(false, "TEXT", {"Enter user help text"}, {"Enter text"}, 101, line, status);
    if (status == kStatusEscape) {
      ST_DEF_SYSTEM(status);
      kzt_macro_comment({"\\\\"}, status);
      return;
    }
    if (status != kStatusGood) return;
    if (line.size() > kTextLineLength) line.resize(kTextLineLength);
    lines.push_back(line);
  }
}

void KZT_LISTVARIABLES(Status& status) {
  if (st_bad(status, "Subroutine KZT_LISTVARIABLES V0.1")) return;
  int count = 0;
  VariableEntry entry;
  variable_entry(0, count, entry, status);
  if (count == 0) {
    IO_WRITE("INFO: No program variables are presently defined", status);
    return;
  }
  IO_WRITE(" ", status);
  IO_WRITE("INFO: Variable Names / Data Types / Variable Values", status);
  for (int k = 1; k <= count; ++k) {
    if (!variable_entry(k, count, entry, status)) break;
    IO_WRITE("      " + std::string(used_text(entry.name)) + value_text(entry), status);
  }
}

void KZT_UNDEFINE(Status& status) {
  if (st_bad(status, "Subroutine KZT_UNDEFINE V0.1")) return;
  const int count = kzt_variable_count(status);
  if (count == 0) {
    IO_WRITE("WARNING: No variables are presently defined so you cannot \"UN-DEFINE\" any", status);
    return;
  }
  if (undefine_number < 1 || undefine_number > count) undefine_number = 1;
  std::string name = kzt_variable_name(undefine_number, status);
  IO_INPTOKEN(true, "ENTER VARIABLE NAME", {"Enter name of variable to un-define"},
              {"Enter string"}, kRawNameMode, name, status);
  if (status != kStatusGood) return;
  undefine_number = IO_VAR_NUMBER(name, status);
  if (undefine_number == 0) {
    IO_WRITE("WARNING: Requested variable is not defined", status);
    return;
  }
  int retstat = 0;
  IO_UNSET_VARIABLE(name, retstat, status);
}

void KZT_CONCATENATION(Status& status) {
  if (st_bad(status, "Subroutine KZT_CONCATENATION V0.1")) return;
  int length = 0;
  IO_INPS(true, "ENTER FIRST STRING", {"Enter characters"}, {"Enter characters"}, 1, length,
          first_string, status);
  IO_INPS(true, "ENTER SECOND STRING", {"Enter characters"}, {"Enter characters"}, 1, length,
          second_string, status);
  if (status != kStatusGood) return;
  const std::string result =
      std::string(used_text(first_string)) + std::string(used_text(second_string));
  IO_WRITE("INFO: Concatenation:", status);
  IO_WRITE("      " + result, status);
  IO_INPTOKEN(true, "ENTER NAME OF VARIABLE", {"Enter name of variable to define"},
              {"Enter string"}, kRawNameMode, concatenation_name, status);
  if (status != kStatusGood) return;
  if (kzt_set_variable(concatenation_name, 's', 0, false, 0.0f, result, status) != 0 &&
      status == kStatusGood)
    IO_WRITE("WARNING: Problem defining variable: " + concatenation_name, status);
}

void KZT_MESSAGE(bool graphics_on, Status& status) {
  if (st_bad(status, "Subroutine KZT_MESSAGE V0.1")) return;
  IO_WRITE("INFO: Enter message text or user escape (\\\\) to exit", status);
  kzt_macro_comment({"%!*\\", "%!*\\ Message text (up to 100 lines)"}, status);
  std::vector<std::string> lines;
  kzt_input_text_lines(lines, status);
  if (status != kStatusGood) return;
  kzt_macro_comment({"%!*\\", "%!*\\ End of message text", "%!*\\"}, status);
  // Without a window the message goes to the terminal and the log, so macros
  // with messages also run without graphics. In the window it does not wait:
  // it stays until the next drawing.
  if (!graphics_on) {
    for (const std::string& line : lines) IO_WRITE(line, status);
    return;
  }
  if (lines.empty()) lines.emplace_back();
  const GsRect& region = gs_state.message;
  const int num = static_cast<int>(lines.size());
  GS_PROMPT(false, num, num, lines, region.xmin, region.ymin, region.xmax, region.ymax, status);
  GS_UPDATE(status);
}

void KZT_SLEEP(Status& status) {
  if (st_bad(status, "Subroutine KZT_SLEEP V0.1")) return;
  IO_INPR(true, 0.0f, 1000.0f, true, "LENGTH OF PAUSE (seconds)",
          {"Enter number of seconds to pause"}, {"Enter a value within the given range"},
          pause_seconds, status);
  if (status != kStatusGood) return;
  if (pause_seconds > 0.0f) IO_SLEEP(pause_seconds, status);
}

void KZT_CHANGES(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_CHANGES V0.1")) return;
  const std::span<const std::string> history = kzt_change_history();
  if (!gui) {
    IO_TEXT(history, status);
    return;
  }
  // The history is a table of fixed columns: shown in the fixed-width font.
  gs_fixed_width_message(history, status);
}

}  // namespace kesta
