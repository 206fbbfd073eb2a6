#include "app/main/macro_commands.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

#include "app/main/utility_commands.hpp"
#include "core/ask_again.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

void say(std::string_view line) {
  Status local = kStatusGood;
  IO_WRITE(line, local);
}

// Ends the running macro and the running sequence at the user's request.
// REPLAYING tells whether the macro was replaying (its switch may be off for
// the moment); it is false afterwards.
void end_macro_and_sequence(bool& replaying) {
  if (replaying) {
    say(" ");
    say("NOTE: Macro terminated by user request.");
    say(" ");
    vosq_io_dbdb.input_macro = true;
    Status local = kStatusGood;
    IO_CLOSE_INMACRO(local);
    replaying = false;
  }
  if (vosq_io_dbdb.file_sequence) {
    say(" ");
    say("NOTE: Sequence terminated by user request.");
    say(" ");
    vosq_io_dbdb.file_sequence = false;
  }
}

// ----- QUESTION -----

enum class Kind { kString, kCoordinate, kInputFile, kInteger, kLogical, kOutputFile, kReal };

static const std::string kKindChoices[] = {
    "CHARACTER STRING", "GRAPHICAL COORDINATE", "INPUT FILE", "INTEGER VALUE",
    "LOGICAL VALUE",    "OUTPUT FILE",          "REAL VALUE"};
static const std::string kKindHelp[] = {"CHARACTER STRING: Input a line of text",
                                        "GRAPHICAL COORDINATE: Input a coordinate by mouse click",
                                        "INPUT FILE: Specify an input file name",
                                        "INTEGER VALUE: Input an integer value",
                                        "LOGICAL VALUE: Input a logical \"YES/NO\" value",
                                        "OUTPUT FILE: Specify an output file name",
                                        "REAL VALUE: Input a real value"};

// The answers of the definitions, offered again for the rest of the run.
struct QuestionAnswers {
  bool gui = true;
  bool give_default = false;
  bool ranged = false;
  int ilower = 0;
  int iupper = 100;
  float rlower = 0.0f;
  float rupper = 1.0f;
  int ivalue = 0;
  bool lvalue = true;
  float rvalue = 0.0f;
  std::string text;
  std::string name = "#VALUE";
  std::string yname = "#Y1";
};
QuestionAnswers question;

// What one definition asks.
struct Question {
  Kind kind = Kind::kInteger;
  std::string prompt;
  std::vector<std::string> help;
};

std::string token_name(std::string name) {
  if (name.size() > 32) name.resize(32);
  return name;
}

// Reads the definition (from the user, or from the macro on replay); the
// lines in between are recorded by the core services.
void define(Question& q, bool coordinate_possible, Status& status) {
  QuestionAnswers& a = question;
  kzt_macro_comment(
      {"%!*\\", "%!*\\ Definition of interactive input of a value", "%!*\\ Data value type"},
      status);
  std::string choice = "INTEGER VALUE";
  IO_MENU(true, "TYPE OF DATA VALUE TO DEFINE", kKindHelp, {"Enter one of available data types"},
          static_cast<int>(std::size(kKindChoices)), kKindChoices, choice, status);
  if (status != kStatusGood) return;
  for (std::size_t i = 0; i < std::size(kKindChoices); ++i)
    if (choice == kKindChoices[i]) q.kind = static_cast<Kind>(i);
  // A clicked coordinate needs data shown in the graphics window.
  if (q.kind == Kind::kCoordinate && !coordinate_possible) return;
  const bool coordinate = q.kind == Kind::kCoordinate;

  kzt_macro_comment({"%!*\\ User prompt"}, status);
  // Texts for the user are taken as typed (a "=" in them is no assignment).
  IO_INPC(false, "ENTER USER PROMPT FOR VALUE INPUT", {"Enter text to be presented to the user"},
          {"Enter text"}, 111, q.prompt, status);
  kzt_macro_comment({"%!*\\ Give default"}, status);
  if (coordinate) a.give_default = false;
  if (!coordinate) {
  IO_INPL(false, false, false, true, "USE GRAPHICAL USER INTERFACE",
          {"YES: to present requests through GUI"}, {"Enter YES or NO"}, a.gui, status);
  IO_INPL(false, false, false, true, "GIVE USER DEFAULT VALUE",
          {"YES: to output a default value to the user"}, {"Enter YES or NO"}, a.give_default,
          status);
  }
  if (status != kStatusGood) return;
  if (a.give_default) {
    kzt_macro_comment({"%!*\\ Default value"}, status);
    static const std::string kDefaultHelp[] = {
        "Enter the default value to be presented to the user"};
    if (q.kind == Kind::kInteger)
      IO_INPI(false, 0, 0, true, "ENTER DEFAULT VALUE FOR INTEGER", kDefaultHelp,
              {"Enter a valid integer"}, a.ivalue, status);
    else if (q.kind == Kind::kReal)
      IO_INPR(false, 0.0f, 0.0f, true, "ENTER DEFAULT VALUE FOR REAL", kDefaultHelp,
              {"Enter a valid real number"}, a.rvalue, status);
    else if (q.kind == Kind::kLogical)
      IO_INPL(false, false, false, true, "ENTER DEFAULT VALUE FOR LOGICAL VALUE", kDefaultHelp,
              {"Enter YES or NO"}, a.lvalue, status);
    else
      IO_INPC(true, "ENTER CHARACTER STRING OR FILE NAME",
              {"Enter default character string for string or file name"}, {"Enter text"}, 1, a.text,
              status);
  }
  if (q.kind == Kind::kInteger || q.kind == Kind::kReal) {
    IO_INPL(false, false, false, true, "RESTRICT INPUT VALUE RANGE",
            {"YES: to only allow values within a defined range"}, {"Enter YES or NO"}, a.ranged,
            status);
    if (status == kStatusGood && a.ranged) {
      kzt_macro_comment({"%!*\\ Range limits"}, status);
      static const std::string kLowerHelp[] = {"Enter the lower bound for accepted input"};
      static const std::string kUpperHelp[] = {"Enter the upper bound for accepted input"};
      if (q.kind == Kind::kInteger) {
        IO_INPI(false, 0, 0, true, "LOWER LIMIT OF RANGE FOR INTEGER", kLowerHelp,
                {"Enter a valid integer"}, a.ilower, status);
        a.iupper = std::max(a.iupper, a.ilower);
        IO_INPI(true, a.ilower, std::numeric_limits<int>::max(), true,
                "UPPER LIMIT OF RANGE FOR INTEGER", kUpperHelp,
                {"The upper limit must not be below the lower limit"}, a.iupper, status);
      } else {
        IO_INPR(false, 0.0f, 0.0f, true, "ENTER LOWER LIMIT OF INPUT RANGE FOR REAL", kLowerHelp,
                {"Enter a valid real number"}, a.rlower, status);
        a.rupper = std::max(a.rupper, a.rlower);
        IO_INPR(true, a.rlower, std::numeric_limits<float>::max(), true,
                "ENTER UPPER LIMIT OF INPUT RANGE FOR REAL", kUpperHelp,
                {"The upper limit must not be below the lower limit"}, a.rupper, status);
      }
    }
  }
  if (status != kStatusGood) return;
  say("INFO: Enter help text or user escape (\\\\) to exit");
  kzt_macro_comment({"%!*\\ Help text (up to 100 lines)"}, status);
  kzt_input_text_lines(q.help, status);
  kzt_macro_comment({"%!*\\ Program variable"}, status);
  if (coordinate) {
    IO_INPTOKEN(true, "X-COORDINATE VARIABLE NAME", {"Enter name of variable to define"},
                {"Enter string"}, kRawNameMode, a.name, status);
    IO_INPTOKEN(true, "Y-COORDINATE VARIABLE NAME", {"Enter name of variable to define"},
                {"Enter string"}, kRawNameMode, a.yname, status);
    a.yname = token_name(a.yname);
  } else {
    IO_INPTOKEN(true, "ENTER VARIABLE NAME", {"Enter name of variable to define"},
                {"Enter string"}, kRawNameMode, a.name, status);
  }
  a.name = token_name(a.name);
  if (status != kStatusGood) return;
  kzt_macro_comment({"%!*\\", "%!*\\ End of Definition", "%!*\\"}, status);
}

// Asks in the window's boxes; files through the file selection.
void ask_in_window(const Question& q, const std::vector<std::string>& help, Status& status) {
  QuestionAnswers& a = question;
  switch (q.kind) {
    case Kind::kInteger:
      GS_INPI(a.ranged, a.ilower, a.iupper, a.give_default, q.prompt, help,
              {"Enter a valid integer within the range"}, a.ivalue, status);
      break;
    case Kind::kReal:
      GS_INPR(a.ranged, a.rlower, a.rupper, a.give_default, q.prompt, help,
              {"Enter a valid real number within the range"}, a.rvalue, status);
      break;
    case Kind::kLogical:
      GS_INPL(false, false, false, a.give_default, q.prompt, help, {"Enter YES or NO"}, a.lvalue,
              status);
      break;
    case Kind::kInputFile:
    case Kind::kOutputFile: {
      const int mode = q.kind == Kind::kInputFile ? 1 : 3;
      const int num_help = static_cast<int>(help.size());
      int cancelled = 0;
      GS_FILESELECTION(1, 1, {q.prompt}, num_help, num_help, help, mode, false, cancelled, a.text,
                       status);
      if (status == kStatusGood && cancelled == 1) status = kStatusEscape;
      break;
    }
    default: GS_INPC(a.give_default, q.prompt, help, {"Enter text"}, 11, a.text, status); break;
  }
}

void ask_at_terminal(const Question& q, const std::vector<std::string>& help, Status& status) {
  QuestionAnswers& a = question;
  switch (q.kind) {
    case Kind::kInteger:
      IO_INPI(a.ranged, a.ilower, a.iupper, a.give_default, q.prompt, help,
              {"Enter a valid integer within the range"}, a.ivalue, status);
      break;
    case Kind::kReal:
      IO_INPR(a.ranged, a.rlower, a.rupper, a.give_default, q.prompt, help,
              {"Enter a valid real number within the range"}, a.rvalue, status);
      break;
    case Kind::kLogical:
      IO_INPL(false, false, false, a.give_default, q.prompt, help, {"Enter YES or NO"}, a.lvalue,
              status);
      break;
    case Kind::kInputFile:
    case Kind::kOutputFile:
      io_input_file_name(a.give_default, q.prompt, help, {"Enter text"}, 11, a.text, status);
      break;
    default: IO_INPC(a.give_default, q.prompt, help, {"Enter text"}, 11, a.text, status); break;
  }
}

// Asks the defined question of the user, never of the macro, and keeps the
// answer out of the recording.
void ask(const Question& q, bool graphics_on, const GsDisplayedImage* shown, Status& status) {
  QuestionAnswers& a = question;
  const bool coordinate = q.kind == Kind::kCoordinate;
  const bool window = graphics_on && (a.gui || coordinate);
  const bool recording = vosq_io_dbdb.output_macro;
  bool replaying = vosq_io_dbdb.input_macro;
  vosq_io_dbdb.output_macro = false;
  vosq_io_dbdb.input_macro = false;
  io_drop_type_ahead();

  say(" ");
  say("NOTE: " + std::string(67, '!'));
  say("              INTERACTIVE INPUT REQUIRED FOR THE MACRO");
  say("      " + std::string(67, '!'));
  const std::vector<std::string> fallback{q.prompt};
  const std::vector<std::string>& help = q.help.empty() ? fallback : q.help;
  float x[1] = {0.0f}, y[1] = {0.0f};
  if (coordinate && shown != nullptr) {
    int num = 0;
    GS_INPS_FCOORDINATES(false, *shown, q.prompt, static_cast<int>(help.size()), help, false, 1,
                         num, x, y, status);
    if (status == kStatusEscape || (status == kStatusGood && num < 1)) {
      // No point given: nothing is set and the macro goes on.
      ST_DEF_SYSTEM(status);
      io_drop_type_ahead();
      vosq_io_dbdb.output_macro = recording;
      vosq_io_dbdb.input_macro = replaying;
      return;
    }
    GS_MARK(x[0], y[0], 1.0f, status);
    GS_UPDATE(status);
  } else {
    // An assignment typed at the question sets its variable and the
    // question is asked again, as at every other prompt.
    do {
      if (window)
        ask_in_window(q, help, status);
      else
        ask_at_terminal(q, help, status);
    } while (io_ask_again(status));
  }
  if (status != kStatusGood) {
    ST_OUT(status);
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    end_macro_and_sequence(replaying);
    if (window) {
      GS_BACKGROUND(status);
      GS_FPROMPT(1, 1, {"MACRO ABORTED"}, status);
    }
  } else if (window) {
    GS_FPROMPT(1, 1, {"CONTINUING MACRO"}, status);
  }
  // Set even after an escape, from what the prompt left.
  if (coordinate) {
    kzt_set_variable(a.name, 'r', 0, false, x[0], "", status);
    kzt_set_variable(a.yname, 'r', 0, false, y[0], "", status);
  } else if (q.kind == Kind::kInteger)
    kzt_set_variable(a.name, 'i', a.ivalue, false, 0.0f, "", status);
  else if (q.kind == Kind::kReal)
    kzt_set_variable(a.name, 'r', 0, false, a.rvalue, "", status);
  else if (q.kind == Kind::kLogical)
    kzt_set_variable(a.name, 'l', 0, a.lvalue, 0.0f, "", status);
  else
    kzt_set_variable(a.name, 's', 0, false, 0.0f, used_text(a.text), status);

  io_drop_type_ahead();
  vosq_io_dbdb.output_macro = recording;
  vosq_io_dbdb.input_macro = replaying;
}

// ----- SEQUENCE -----

constexpr int kMaxSequenceVariables = 20;

struct SequenceVariable {
  std::string name;
  char type = 's';
  std::string base;
  bool fixed_length = true;
  int characters = 3;
  bool arithmetic = false;
  float multiplier = 1.0f;
  float constant = 0.0f;
  std::string extension;
};

struct Sequence {
  int start = 1;
  int end = 10;
  int step = 1;
  std::int64_t count = 0;
  std::int64_t runs = 0;
  // The macro run at every count: its own copy, so that a STOP MACRO in it
  // (which offers the recorded file as the next macro to run) cannot change
  // what the later counts run.
  std::string macro_file;
  int num_variables = 2;
  std::array<SequenceVariable, kMaxSequenceVariables> variables;
};

Sequence initial_sequence() {
  Sequence s;
  static const char* const kStems[] = {"#IN", "#OUT", "#VAR"};
  for (int i = 0; i < kMaxSequenceVariables; ++i) {
    SequenceVariable& v = s.variables[static_cast<std::size_t>(i)];
    const int group = i / 3;
    const std::string stem = kStems[i % 3];
    v.name = group == 0 ? (i == 2 ? "#VARIABLE" : stem) : stem + "_" + IO_ITOC(group + 1);
    v.type = i == 2 ? 'i' : 's';
  }
  s.variables[0].base = "lys1_";
  s.variables[1].base = "lys1_";
  s.variables[0].extension = ".pmi";
  s.variables[1].extension = ".cor";
  return s;
}
Sequence sequence = initial_sequence();

static const std::string kLoopHelp[] = {
    "The sequence runs the chosen macro once for each value of a loop count.",
    "The count starts at the start value, and the step is added after each run;",
    "the sequence ends when the count passes the end value (inclusive).",
    "A negative step counts down: the end value must then be below the start.",
    "A sequence whose start and end values are equal runs once, whatever its",
    "step.",
    "Before each run the integer variable ##COUNT is set to the count, and each",
    "variable defined for the sequence is set from the count (for example a",
    "numbered input or output file name).",
    "Inside the macro use ##COUNT or those variables in place of the values",
    "that change from one run to the next."};

// The loop count's start, end and step, asked together.
struct LoopCount {
  int start;
  int end;
  int step;
};

bool valid_loop(const LoopCount& s) {
  return (s.end >= s.start && s.step >= 1) || s.start == s.end || (s.end < s.start && s.step < 0);
}

void escape_hint() { say("         (You can enter user escape (\\\\) to exit this command.)"); }

// Whether FILE opens and begins as a keyboard macro does.
bool macro_file_usable(const std::string& file, Status& status) {
  int retstat = 0;
  std::string path;
  IO_TRANS_PATH(file, retstat, path, status);
  std::string problem;
  InputFile in;
  if (retstat == 0) in = open_input_file(path, problem);
  if (in == nullptr) {
    if (problem.empty() || problem.starts_with("cannot be opened")) {
      // Then the name as typed and the system's reason, as every question
      // for a file to read says them.
      say("WARNING: The entered file could not be opened (probably it doesn't exist)");
      escape_hint();
      say("         " + file + " " +
          (problem.empty() ? std::string("cannot be found (bad directory path)") : problem));
    } else {
      say("WARNING: \"" + path + "\" " + problem + "; it cannot be a macro file");
      escape_hint();
    }
    return false;
  }
  std::string first;
  bool cut = false;
  io_read_bounded_line(in.get(), kResponseLength, first, cut);
  const MacroRecording recording = io_macro_recording(first);
  if (recording == MacroRecording::kKeyboard) return true;
  // A recording made in the window's menus would be misread here line by
  // line: it is named for what it is.
  say(recording == MacroRecording::kWindow
          ? io_foreign_recording_line(file, recording)
          : std::string("WARNING: The entered file is not a valid macro file"));
  escape_hint();
  return false;
}

// A fixed part of the values: "-" alone chooses none, an empty answer keeps
// the proposal.
void ask_fixed_part(std::string_view prompt, std::string_view what, std::string& text,
                    Status& status) {
  const std::string help[] = {"Enter characters defining the unchanging " + std::string(what) +
                                  " part of the variable values",
                              "(an empty answer keeps the proposed text; \"-\" alone means no " +
                                  std::string(what) + " part)"};
  IO_INPC(true, prompt, help, {"Enter characters"}, 1, text, status);
  if (status == kStatusGood && used_text(text) == "-") text.clear();
}

void define_variable(int i, KztTypeChooser choose_type, Status& status) {
  SequenceVariable& v = sequence.variables[static_cast<std::size_t>(i)];
  if (i == 1) {
    const SequenceVariable& first = sequence.variables[0];
    v.base = first.base;
    v.fixed_length = first.fixed_length;
    v.characters = first.characters;
  }
  IO_INPTOKEN(true, "ENTER VARIABLE NAME", {"Enter name of variable to be defined"},
              {"Enter string"}, kRawNameMode, v.name, status);
  v.name = token_name(v.name);
  if (status != kStatusGood) return;
  choose_type(true, v.type, status);
  if (status != kStatusGood) return;
  const bool text = v.type == 's' || v.type == 'u';
  if (text) {
    ask_fixed_part("VARIABLE VALUE BASE", "base", v.base, status);
    IO_INPL(false, false, false, true, "VARIABLE PART FIXED LENGTH",
            {"YES: the number is written in a fixed number of characters, with leading zeros"},
            {"Enter YES or NO"}, v.fixed_length, status);
    if (status == kStatusGood && v.fixed_length)
      IO_INPI(true, 0, 20, true, "NUMBER OF CHARACTERS IN VARIABLE PART",
              {"Enter number of characters of the number part"}, {"Enter a valid integer"},
              v.characters, status);
  }
  IO_INPL(false, false, false, true, "ARITHMETIC ON LOOP COUNT VALUE",
          {"YES: the value is made from the loop count times a multiplier plus a constant"},
          {"Enter YES or NO"}, v.arithmetic, status);
  if (status == kStatusGood && v.arithmetic) {
    IO_INPR(false, 0.0f, 0.0f, true, "MULTIPLIER FOR LOOP COUNT VALUE",
            {"Enter the factor by which the loop count is multiplied"},
            {"Enter a valid real number"}, v.multiplier, status);
    IO_INPR(false, 0.0f, 0.0f, true, "CONSTANT TO ADD TO MODIFIED LOOP COUNT VALUE",
            {"Enter the value added to the multiplied loop count"}, {"Enter a valid real number"},
            v.constant, status);
  }
  if (text) ask_fixed_part("VARIABLE VALUE EXTENSION", "extension", v.extension, status);
}

// Asks for a new sequence; false when it is not to run.
bool define_sequence(std::string& macro_file, KztTypeChooser choose_type, Status& status) {
  Sequence& s = sequence;
  if (vosq_io_dbdb.output_macro) {
    say("WARNING: The \"SEQUENCE\" command cannot be used within a macro. (It is");
    say("         used to repeately run a defined macro.)");
    io_refuse_command();
    return false;
  }
  // A refused loop, or a macro file that cannot run, is asked for again
  // offering what was offered before it.
  LoopCount loop{s.start, s.end, s.step};
  if (!io_ask_until_accepted(
          loop,
          [](LoopCount& l, Status& q) {
            IO_INPI(false, 0, 0, true, "LOOP COUNT START VALUE", kLoopHelp,
                    {"Enter a valid integer"}, l.start, q);
            IO_INPI(false, 0, 0, true, "LOOP COUNT END LIMIT VALUE (INCLUSIVE)", kLoopHelp,
                    {"Enter a valid integer"}, l.end, q);
            IO_INPI(false, 0, 0, true, "LOOP COUNT INCREMENT STEP", kLoopHelp,
                    {"Enter a valid integer"}, l.step, q);
          },
          valid_loop,
          [](Status&) {
            say("WARNING: The entered values do not define a valid finite loop, please");
            say("         re-enter valid parameter values");
            escape_hint();
          },
          status))
    return false;
  s.start = loop.start;
  s.end = loop.end;
  s.step = loop.step;
  if (!io_ask_until_accepted(
          macro_file,
          [](std::string& name, Status& q) {
            io_input_file_name(true, "INPUT MACRO FILE NAME",
                               {"Enter Name of a file containing a macro"}, {"Enter a file name"},
                               1, name, q);
          },
          [&](const std::string& name) { return macro_file_usable(name, status); },
          [](Status&) {}, status))
    return false;
  IO_INPI(true, 0, kMaxSequenceVariables, true, "NUMBER OF VARIABLES TO DEFINE",
          {"Enter the number of variables whose values are made from the loop count"},
          {"Enter a valid integer within the range"}, s.num_variables, status);
  for (int i = 0; i < s.num_variables && status == kStatusGood; ++i)
    define_variable(i, choose_type, status);
  if (status != kStatusGood) return false;
  s.count = s.start;
  s.runs = 0;
  s.macro_file = macro_file;
  return true;
}

// Sets ##COUNT and the sequence's variables for the current count; false
// when a value cannot be made.
bool set_variables(Status& status) {
  const Sequence& s = sequence;
  kzt_set_variable("##COUNT", 'i', static_cast<int>(s.count), false, 0.0f, "", status);
  for (int i = 0; i < s.num_variables; ++i) {
    const SequenceVariable& v = s.variables[static_cast<std::size_t>(i)];
    const float real = v.arithmetic ? static_cast<float>(s.count) * v.multiplier + v.constant
                                    : static_cast<float>(s.count);
    // Halves round away from zero; only values an integer holds are used.
    const float nearest = std::round(real);
    bool ok = !v.arithmetic || (nearest >= -2147483648.0f && nearest < 2147483648.0f);
    // The count itself lies between the start and the end values, which are
    // integers.
    const int number = !ok            ? 0
                       : v.arithmetic ? static_cast<int>(nearest)
                                      : static_cast<int>(s.count);
    std::string text;
    if (ok && (v.type == 's' || v.type == 'u')) {
      int retstat = 0;
      IO_FILENAME(v.base, number, v.fixed_length, v.characters, v.extension, retstat, text, status);
      ok = status == kStatusGood && retstat == 0;
    }
    if (!ok) {
      say("WARNING: The variable value could not be constructed properly");
      return false;
    }
    if (v.type == 'i')
      kzt_set_variable(v.name, 'i', number, false, 0.0f, "", status);
    else if (v.type == 'r')
      kzt_set_variable(v.name, 'r', 0, false, real, "", status);
    else if (v.type == 'l')
      kzt_set_variable(v.name, 'l', 0, number != 0, 0.0f, "", status);
    else
      kzt_set_variable(v.name, 's', 0, false, 0.0f, text, status);
  }
  return status == kStatusGood;
}

}  // namespace

void KZT_QUESTION(bool graphics_on, const GsDisplayedImage* shown, Status& status) {
  if (st_bad(status, "Subroutine KZT_QUESTION V0.4")) return;
  Question q;
  const bool coordinate_possible = graphics_on && shown != nullptr;
  define(q, coordinate_possible, status);
  if (status != kStatusGood) return;
  if (q.kind == Kind::kCoordinate && !coordinate_possible) {
    // A clicked coordinate needs data shown in the graphics window.
    say(graphics_on ? "WARNING: A \"GRAPHICAL COORDINATE\" question needs data to click on"
                    : "WARNING: A \"GRAPHICAL COORDINATE\" question needs the graphics window");
    bool replaying = vosq_io_dbdb.input_macro;
    end_macro_and_sequence(replaying);
    return;
  }
  ask(q, graphics_on, shown, status);
}

void KZT_SEQUENCE(std::string& macro_file, KztTypeChooser choose_type, Status& status) {
  if (st_bad(status, "Subroutine KZT_SEQUENCE V0.5")) return;
  Sequence& s = sequence;
  // The window's sequence is no count of this one: SEQUENCE sets a new one
  // up, and the window's ends once it is defined.
  if (io_sequence_driver() != SequenceDriver::kKeyboard) {
    if (!define_sequence(macro_file, choose_type, status)) return;
    io_end_sequence("another sequence was set up");
    io_start_sequence(SequenceDriver::kKeyboard);
  }
  const bool ended = (s.step > 0 && s.count > s.end) || (s.step < 0 && s.count < s.end) ||
                     (s.start == s.end && s.runs > 0);
  if (ended) {
    io_leave_macro_for_sequence(true);
    vosq_io_dbdb.file_sequence = false;
    say("INFO: *** END OF SEQUENCE ***");
    say(" ");
    return;
  }
  say(" ");
  say("INFO: Sequence counter value = " + format_i(s.count, 8));
  if (!set_variables(status)) {
    vosq_io_dbdb.file_sequence = false;
    return;
  }
  // The sequence's macro takes over the input from a macro that is still
  // replaying (one that started the sequence, or a member's).
  io_leave_macro_for_sequence(false);
  std::string count_macro = s.macro_file;
  io_open_sequence_macro(count_macro, status);
  if (status != kStatusGood) {
    io_end_sequence("its macro file could not be opened");
    return;
  }
  s.count += s.step;
  ++s.runs;
}

}  // namespace kesta
