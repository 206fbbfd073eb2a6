// Runs one widget by name in a graphics window and prints what it returns:
//   kesta_widget_runner menu|choice|message|warning|prompt|text|integer|real|
//                       yesno|colour|datatype|scantype|form|file|progress
// The answers come from the window (or, without one, the terminal).

#include <cstdio>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/system.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace {

using namespace kesta;

void print(const std::string& line) { std::printf("%s\n", line.c_str()); }

std::string status_text(Status status) {
  if (status == kStatusGood) return "GOOD";
  if (status == kStatusEscape) return "ESCAPE";
  return std::to_string(status);
}

int run(const std::string& name) {
  Status s = kStatusGood;
  const std::vector<std::string> buttons{"ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN"};
  const std::vector<std::string> help{"Help for the widget runner"};
  if (name == "menu") {
    GS_SET_MENULAYOUT(0, 3, 20, 10, s);
    GS_FMENU(1, 1, {"CHOOSE A BUTTON"}, 7, 7, buttons, s);
    int type = 0;
    std::string command;
    float x = 0, y = 0;
    GS_INP_MENUCHOICE(7, 7, buttons, 0, type, command, x, y, s);
    print("TYPE " + std::to_string(type) + " CHOICE " + command);
  } else if (name == "choice") {
    bool cancelled = false;
    std::string choice;
    GS_INP_CHOICE(1, 1, {"PICK ONE"}, 1, 1, help, 1, 1, help, 7, 7, buttons, cancelled, choice, s);
    print(cancelled ? "CANCELLED" : "CHOICE " + choice);
  } else if (name == "message") {
    std::vector<std::string> lines;
    for (int k = 1; k <= 100; ++k) lines.push_back("Line " + std::to_string(k));
    GS_MESSAGE(100, 100, lines, s);
  } else if (name == "warning") {
    GS_FWARNING(1, 1, {"Something needs attention"}, s);
  } else if (name == "prompt") {
    GS_FPROMPT(2, 2, {"A prompt box", "of two lines"}, s);
  } else if (name == "text") {
    std::string text = "default";
    GS_INPC(true, "ENTER A TEXT", help, help, 1, text, s);
    print("TEXT " + text);
  } else if (name == "integer") {
    int value = 5;
    GS_INPI(true, 1, 10, true, "ENTER A NUMBER", help, {"From 1 to 10"}, value, s);
    print("INTEGER " + std::to_string(value));
  } else if (name == "real") {
    float value = 0.5f;
    GS_INPR(true, 0.0f, 1.0f, true, "ENTER A FRACTION", help, {"From 0 to 1"}, value, s);
    print("REAL " + std::to_string(value));
  } else if (name == "yesno") {
    bool value = true;
    GS_INPL(false, false, false, true, "CONTINUE", help, help, value, s);
    print(value ? "YES" : "NO");
  } else if (name == "colour") {
    int colour = 1;
    GS_GUI_COLOUR("SELECT REQUIRED COLOUR", colour, s);
    print("COLOUR " + std::to_string(colour));
  } else if (name == "datatype") {
    std::string choice;
    GS_INP_DATATYPE("DATA TYPE", help, choice, s);
    print("DATA TYPE " + choice);
  } else if (name == "scantype") {
    int type = -1;
    GS_INP_SCANTYPE("SCAN TYPE", help, type, s);
    print("SCAN TYPE " + std::to_string(type));
  } else if (name == "form") {
    std::vector<GsFormItem> items(3);
    items[0].label = "COUNT";
    items[0].type = 1;
    items[0].description = "Number of cycles";
    items[0].prompt = "NUMBER OF CYCLES";
    items[0].int_value = 3;
    items[1].label = "OUTPUT";
    items[1].type = 8;
    items[1].description = "Output file";
    items[1].prompt = "OUTPUT FILE";
    items[2].label = "COLOUR";
    items[2].type = 5;
    items[2].description = "Colour of the curve";
    items[2].prompt = "CURVE COLOUR";
    items[2].int_value = 1;
    int code = 0;
    GS_FORM(1, 1, {"A FORM"}, 1, 1, help, 8, items, code, s);
    print("RETURN " + std::to_string(code) + " COUNT " + std::to_string(items[0].int_value) +
          " OUTPUT " + items[1].string_value + " COLOUR " + std::to_string(items[2].int_value));
  } else if (name == "file") {
    int cancelled = 0;
    std::string file;
    GS_FILESELECTION(1, 1, {"SELECT A FILE"}, 1, 1, help, 1, true, cancelled, file, s);
    print(cancelled != 0 ? "CANCELLED" : "FILE " + file);
  } else if (name == "progress") {
    GS_PROGRESS("Working", 0.4f, s);
  } else {
    std::fprintf(stderr, "unknown widget %s\n", name.c_str());
    return 2;
  }
  print("STATUS " + status_text(s));
  return s == kStatusGood ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WIDGET\n", argv[0]);
    return 2;
  }
  const char* program[] = {argv[0]};
  kesta::io_set_args(1, program);
  kesta::Status s = kesta::kStatusGood;
  kesta::ST_DEF_SYSTEM(s);
  kesta::GS_OPEN_GRAPHICS(s);
  kesta::QG_WINDOW_TITLE("KESTA WIDGET RUNNER", s);
  const int code = s == kesta::kStatusGood ? run(argv[1]) : 1;
  s = kesta::kStatusGood;
  kesta::GS_CLOSE_GRAPHICS(s);
  return code;
}
