#include "core/menu.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;

const std::vector<std::string> kChoices = {"INPUT DATA", "IMAGE", "EXIT", "EXIT MENU", "?", "HELP"};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kHeader =
    "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n";

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  void TearDown() override { testing::reset_dialogue(); }
  testing::TerminalCapture terminal;
};

TEST_F(MenuTest, CommandMatchesLeadingWords) {
  struct Case {
    std::string input;
    int result;
    std::string command;
    MenuMatch how = MenuMatch::kLeadingPart;
  };
  const std::vector<Case> cases = {
      {"in,,da", 0, "INPUT DATA"},
      {"input   data", 0, "INPUT DATA"},
      {"\tinput,data ,", 0, "INPUT DATA"},
      {"ima", 0, "IMAGE"},
      {"i", -2, "INPUT DATA"},
      {"exits", -1, ""},
      // An exact match has no priority over a longer choice.
      {"EXIT", -2, "EXIT"},
      {"exit m", 0, "EXIT MENU"},
      {"imagex", -1, ""},
      {"", -1, ""},
      // A line standing for a click names the whole button.
      {"exit", 0, "EXIT", MenuMatch::kWholeName},
      {" Exit ,", 0, "EXIT", MenuMatch::kWholeName},
      {"ex", -2, "EXIT", MenuMatch::kWholeName},
      {"exit m", 0, "EXIT MENU", MenuMatch::kWholeName},
      {"in da", 0, "INPUT DATA", MenuMatch::kWholeName},
  };
  for (const auto& c : cases) {
    Status status = kStatusGood;
    int result = 99;
    std::string command;
    io_command(c.how, c.input, kChoices, static_cast<int>(kChoices.size()), result, command,
               status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(result, c.result) << c.input;
    EXPECT_EQ(command, c.command) << c.input;
  }
  EXPECT_EQ(terminal.text(), "ERROR: Null command entered\n");
}

TEST_F(MenuTest, CommandLimits) {
  const std::vector<std::string> choices = {"A B C D E F G H I J", "A B C D E F G H I J K"};
  Status status = kStatusGood;
  int result = 0;
  std::string command;
  // Only the first ten words take part: the eleventh does not tell them apart.
  IO_COMMAND("a b c d e f g h i j k", choices, 2, result, command, status);
  EXPECT_EQ(result, -2);
  // Only NUM_CHOICES choices are offered.
  IO_COMMAND("a", choices, 1, result, command, status);
  EXPECT_EQ(result, 0);
  // Abbreviated words count only when the entry as a whole begins no choice.
  const std::vector<std::string> near = {"INPUT DATA", "IN DEPTH"};
  IO_COMMAND("in d", near, 2, result, command, status);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(command, "IN DEPTH");
  IO_COMMAND("inp d", near, 2, result, command, status);
  EXPECT_EQ(command, "INPUT DATA");
  IO_COMMAND("i d x", near, 2, result, command, status);
  EXPECT_EQ(result, -1);
  IO_COMMAND("a", {}, 0, result, command, status);
  EXPECT_EQ(status, 10001);
  status = kStatusGood;
  IO_COMMAND("a", choices, 3, result, command, status);
  EXPECT_EQ(status, 10005);
  status = kStatusGood;
  IO_COMMAND("a", choices, 0, result, command, status);
  EXPECT_EQ(status, 10005);
}

TEST_F(MenuTest, MenuAsksUntilOneChoiceIsSelected) {
  ScriptedInput input({"i", "exits", "$", "in,,da"});
  Status status = kStatusGood;
  std::string command = "IMAGE";
  IO_MENU(true, "ENTER COMMAND", {"menu help"}, {"menu error"}, static_cast<int>(kChoices.size()),
          kChoices, command, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(command, "INPUT DATA");
  const std::string unknown =
      "WARNING: Entered text does not correspond to any of the available choices.\n"
      "Please enter a command from the menu.\n";
  EXPECT_EQ(terminal.text(),
            "WARNING: Entered command is ambiguous. Please enter more letters.\n" + unknown + unknown);
  EXPECT_EQ(input.prompts.front(), "ENTER COMMAND [IMAGE]:");
}

TEST_F(MenuTest, HelpChoicesAreTheCallersOtherwiseTheMenuShowsHelp) {
  {
    // "?" is a choice: it is returned for the caller to answer.
    ScriptedInput input({"?"});
    Status status = kStatusGood;
    std::string command = "IMAGE";
    IO_MENU(true, "CMD", {"menu help"}, {"E"}, 6, kChoices, command, status);
    EXPECT_EQ(command, "?");
  }
  {
    ScriptedInput input({"?", "help", "ima"});
    Status status = kStatusGood;
    std::string command = "IMAGE";
    IO_MENU(true, "CMD", {"menu help"}, {"E"}, 4, kChoices, command, status);
    EXPECT_EQ(command, "IMAGE");
    EXPECT_EQ(terminal.text(), "menu help\nmenu help\n");
  }
}

TEST_F(MenuTest, ShellLine) {
  testing::TempDir dir;
  const std::string marker = dir.file("ran");
  ScriptedInput input({"$touch " + marker});
  Status status = kStatusGood;
  std::string command = "IMAGE";
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(command, "null");
  EXPECT_EQ(terminal.text(), "INFO: Sending the command to the operating system\n");
  EXPECT_TRUE(std::ifstream(marker).good());
}

TEST_F(MenuTest, RecordedAnswerIsTheFullCommand) {
  testing::TempDir dir;
  std::string mac = dir.file("menu.mac");
  Status status = kStatusGood;
  IO_OPEN_OUTMACRO(false, false, mac, status);
  ScriptedInput input({"", "input  ,,,  data", "5 ima", "6 ?", "ima", "xyz", "exit m", "\\\\"});
  std::string command = "IMAGE";
  // The empty answer takes the default, which is what gets recorded.
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(command, "IMAGE");
  // A shorter full command truncates the record.
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(command, "INPUT DATA");
  // The part of a type-ahead line that answered an earlier prompt is kept.
  int number = 0;
  IO_INPI(false, 0, 0, false, "N", {"H"}, {"E"}, number, status);
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(number, 5);
  EXPECT_EQ(command, "IMAGE");
  // The rest of "6 ?" asked for help; the answer then came on a line of its own.
  IO_INPI(false, 0, 0, false, "N", {"H"}, {"E"}, number, status);
  IO_MENU(true, "CMD", {"H"}, {"E"}, 4, kChoices, command, status);
  EXPECT_EQ(number, 6);
  EXPECT_EQ(command, "IMAGE");
  // A refused answer stays recorded; the accepted one is replaced.
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(command, "EXIT MENU");
  EXPECT_EQ(status, kStatusGood);
  IO_MENU(true, "CMD", {"H"}, {"E"}, 6, kChoices, command, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(read_file(mac), kHeader + "IMAGE\nINPUT DATA\n5 IMAGE\n6 ?\nIMAGE\nxyz\nEXIT MENU\n");
  status = kStatusGood;
  IO_CLOSE_OUTMACRO(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(read_file(mac),
            kHeader + "IMAGE\nINPUT DATA\n5 IMAGE\n6 ?\nIMAGE\nxyz\n%!*\\ END OF IO MACRO FILE\n");
}

}  // namespace
}  // namespace kesta
