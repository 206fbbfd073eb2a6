// The MACROS / LOG FILE menu driven by typed answers and by macro files:
// RUN SEQUENCE up and down a numbered series, macros that do not nest,
// recording and the log.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/main/data_store.hpp"
#include "app/main/program_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// A native image of 4 x 4 pixels, VALUE and above, as PATH.
void write_image(const std::string& path, float value) {
  std::vector<float> axis = {0.5f, 1.5f, 2.5f, 3.5f}, data(16), variances(16, 0.0f);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = value + static_cast<float>(i);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  Status status = kStatusGood;
  int retstat = -1;
  FIO_OUT_KESTA(false, "", 4, 4, 1, 1, 4, 4, axis, axis, data, variances, "t", "x", "y", "z",
                false, 1.0e-4f, 1.0e-4f, retstat, status);
  ASSERT_EQ(retstat, 0);
}

struct MacroMenu : testing::PageFixture {
  testing::TempDir dir;
  KztDataSets sets;

  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    vosq_io_dbdb = IoDbdb{};
    Status s = kStatusGood;
    kzt_allocate_arrays(4, 4, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    for (int n = 1; n <= 10; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "img%03d.kzt", n);
      write_text(dir.file(name), "x\n");
    }
    // Each member shows the help lines of the menu and ends at the menu.
    write_text(dir.file("member.mac"), "?\nO.K.\n");
  }
  void TearDown() override {
    Status s = kStatusGood;
    IO_CLOSE_INMACRO(s);
    IO_CLOSE_OUTMACRO(s);
    IO_CLOSE_LOGFILE(s);
    vosq_io_dbdb = IoDbdb{};
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    io_clear_database();  // the keys the images read stored
    PageFixture::TearDown();
  }
  std::string file(const std::string& name) const { return dir.file(name); }

  // The menu on typed LINES; the transcript of the terminal.
  std::string run(std::vector<std::string> lines, Status& status) {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input(std::move(lines));
    KZT_GUI_MACROS(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    if (getenv("DEBUGP")) std::cerr << ::testing::PrintToString(input.prompts);
    return terminal.text();
  }
  // The counter values of the transcript, in order.
  static std::vector<int> counts(const std::string& out) {
    std::vector<int> found;
    const std::string key = "INFO: Sequence counter value = ";
    for (std::size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1))
      found.push_back(std::stoi(out.substr(at + key.size(), 8)));
    return found;
  }
};

TEST_F(MacroMenu, SequenceUpAndDownTheSeries) {
  struct Case {
    const char* first;
    const char* last;
    std::vector<int> expected;
  };
  for (const Case& c : {Case{"img001.kzt", "img010.kzt", {1, 4, 7, 10}},
                        Case{"img010.kzt", "img001.kzt", {10, 7, 4, 1}}}) {
    Status status = kStatusGood;
    const std::string out = run({"RUN SEQUENCE", file("member.mac"), file(c.first), file(c.last),
                                 "3", "out", "EXIT"},
                                status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(counts(out), c.expected) << out;
    EXPECT_NE(out.find("      Input file = " + file("img004.kzt")), std::string::npos) << out;
    EXPECT_NE(out.find("      Output file = " + file("img004.out")), std::string::npos);
    EXPECT_NE(out.find("INFO: *** END OF SEQUENCE ***"), std::string::npos);
    EXPECT_FALSE(vosq_io_dbdb.file_sequence);
    EXPECT_NE(out.find("WARNING: AT PRESENT ONLY WORKS WITH #IN AND #OUT MACROS"),
              std::string::npos);
  }
  // The variables of the last member.
  Status status = kStatusGood;
  char type = ' ';
  int ivalue = 0, length = 0, retstat = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string svalue;
  IO_INQ_VARIABLE("##COUNT", retstat, type, ivalue, lvalue, rvalue, length, svalue, status);
  EXPECT_EQ(ivalue, 1);
  IO_INQ_VARIABLE("#OUT", retstat, type, ivalue, lvalue, rvalue, length, svalue, status);
  EXPECT_EQ(svalue, file("img001.out"));
}

TEST_F(MacroMenu, SeriesThatCannotBeDeducedOrEscaped) {
  write_text(dir.file("alpha.kzt"), "x\n");
  Status status = kStatusGood;
  std::string out = run({"RUN SEQUENCE", file("member.mac"), file("img001.kzt"),
                         file("alpha.kzt"), "RUN SEQUENCE", file("member.mac"),
                         file("img001.kzt"), file("img010.kzt"), "\\\\", "EXIT"},
                        status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("WARNING: COULD NOT DEDUCE REQUIRED FILE SEQUENCE"), std::string::npos);
  EXPECT_TRUE(counts(out).empty());
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  // A step of 2 over 2..4.
  out = run({"RUN SEQUENCE", file("member.mac"), file("img002.kzt"), file("img004.kzt"),
             "2", "o", "EXIT"},
            status);
  EXPECT_EQ(counts(out), (std::vector<int>{2, 4})) << out;

  // Refused in a replaying macro, the series ends the macro: its later
  // lines were for the sequence, and are not run at this menu.
  write_text(dir.file("main.mac"), "RUN SEQUENCE\n" + file("member.mac") + "\n" +
                                       file("img001.kzt") + "\n" + file("alpha.kzt") +
                                       "\nOPEN LOG FILE\nNO\n" + file("after.log") + "\n");
  std::string name = file("main.mac");
  IO_OPEN_INMACRO(false, name, status);
  out = run({"EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("WARNING: COULD NOT DEDUCE REQUIRED FILE SEQUENCE\n"
                     "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--"
                     "WARNING\n \nWARNING: A command was refused during a macro. Macro "
                     "automatically terminated.\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  EXPECT_FALSE(std::filesystem::exists(file("after.log"))) << out;
}

// RUN SEQUENCE on a line of a member's macro moves the sequence on: the
// rest of that macro is not read, the next member's macro runs whole, and
// the last member's rest is not run as choices after the sequence's end.
TEST_F(MacroMenu, RunSequenceInAMembersMacroLeavesItThroughTheLastFile) {
  write_text(dir.file("moving.mac"), "?\nO.K.\nRUN SEQUENCE\nOPEN LOG FILE\nNO\n" +
                                         file("rest.log") + "\nCLOSE LOG FILE\n");
  Status status = kStatusGood;
  const std::string out = run({"RUN SEQUENCE", file("moving.mac"), file("img001.kzt"),
                               file("img003.kzt"), "1", "out", "EXIT"},
                              status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(counts(out), (std::vector<int>{1, 2, 3})) << out;
  std::size_t help = 0;
  const std::string shown = "(GRAPHICAL INPUT):?\n";
  for (std::size_t at = out.find(shown); at != std::string::npos; at = out.find(shown, at + 1))
    ++help;
  EXPECT_EQ(help, 3u) << out;
  EXPECT_NE(out.find("INFO: The rest of the running macro is not read: the sequence has ended\n"
                     "INFO: *** END OF SEQUENCE ***\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(std::filesystem::exists(file("rest.log"))) << out;
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
}

// Started from a replaying macro, the sequence takes none of its lines: the
// first member starts when that macro ends at the menu. RUN MACRO inside a
// macro takes its file name and runs nothing.
TEST_F(MacroMenu, SequenceAndRunMacroFromARunningMacro) {
  write_text(
      dir.file("main.mac"),
      "RUN MACRO\n" + file("member.mac") + "\nRUN SEQUENCE\n" + file("member.mac") + "\n" +
          file("img003.kzt") + "\n" + file("img005.kzt") + "\n1\nout\nHELP\nO.K.\n");
  Status status = kStatusGood;
  std::string name = file("main.mac");
  IO_OPEN_INMACRO(false, name, status);
  ASSERT_EQ(status, kStatusGood);
  const std::string out = run({"EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("cannot be run from within a running macro"), std::string::npos) << out;
  EXPECT_EQ(counts(out), (std::vector<int>{3, 4, 5}));
  // The main macro's HELP was replayed before the first member.
  EXPECT_LT(out.find("(GRAPHICAL INPUT):HELP"), out.find("INFO: Sequence counter value"));
}

// A member that ends inside a question of a choice (here the log's file
// selection) hands control on as an end at the menu does: every file runs.
// A sequence the keyboard set up whose macro ends at this menu has no next
// count here: it ends and says so, and no sequence of this menu is run.
// A member that ends at a question inside a choice stopped short, as every
// later one would: the sequence ends there with its note, and the menu goes
// on with the user.
TEST_F(MacroMenu, MembersEndingInsideAChoiceAndAKeyboardSequence) {
  write_text(dir.file("inside.mac"), "OPEN LOG FILE\nNO\n");
  Status status = kStatusGood;
  std::string out = run({"RUN SEQUENCE", file("inside.mac"), file("img001.kzt"),
                         file("img003.kzt"), "1", "out", "EXIT"},
                        status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(counts(out), (std::vector<int>{1})) << out;
  EXPECT_NE(out.find(" \nNOTE: Sequence terminated: its macro ended at a question of OPEN LOG "
                     "FILE\n \n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("END OF SEQUENCE"), std::string::npos) << out;
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);

  std::string name = file("member.mac");
  io_open_sequence_macro(name, status);
  vosq_io_dbdb.file_sequence = true;
  out = run({"EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(counts(out).empty()) << out;
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_NE(out.find(" \nNOTE: Sequence terminated: its macro ended at the graphical menu "
                     "KESTA: MACROS / LOG FILE MENU\n \n"),
            std::string::npos)
      << out;
}

// A member that leaves this menu and ends at a question of another
// interface (a value box, a coordinate count) or at another graphical menu
// stopped short, as every later member would: the sequence ends after the
// first file, the note names where, and the user is left there.
TEST_F(MacroMenu, MembersEndingAtAQuestionOfAnotherInterface) {
  for (int n = 1; n <= 3; ++n) write_image(file("img00" + std::to_string(n) + ".kzt"), n);
  struct Case {
    const char* ending;  // after the interface's INPUT
    const char* note;
    std::vector<std::string> way_back;  // to the top menu
    float read;                         // the first pixel then
  };
  for (const Case& c :
       {Case{"", "a question of INPUT", {"EXIT"}, 0.0f},  // nothing read yet
        Case{"#IN\nMATHS\nSCALAR +\n", "a question of SCALAR +", {"EXIT", "EXIT"}, 1.0f},
        Case{"#IN\nMATHS\nSCALAR /\n", "a question of SCALAR /", {"EXIT", "EXIT"}, 1.0f},
        Case{"#IN\nZOOM IN\n", "a question of ZOOM IN", {"EXIT"}, 1.0f},
        Case{"#IN\nGEOMETRIC\nTRANSFORM\nANGLE\n", "a question of TRANSFORM", {"EXIT", "EXIT"},
             1.0f},
        Case{"#IN\nMATHS\n", "the graphical menu MATHS", {"EXIT", "EXIT"}, 1.0f}}) {
    SCOPED_TRACE(c.ending);
    write_text(file("ends.mac"),
               "EXIT\nIMAGE PROCESSING (GENERAL)\nINPUT\n" + std::string(c.ending));
    sets = KztDataSets{};
    testing::TerminalCapture terminal;
    Status status = kStatusGood;
    {
      std::vector<std::string> lines = {"MACROS / LOG FILE", "RUN SEQUENCE", file("ends.mac"),
                                        file("img001.kzt"), file("img003.kzt"), "1", "out"};
      lines.insert(lines.end(), c.way_back.begin(), c.way_back.end());
      lines.insert(lines.end(), {"EXIT KESTA", "YES"});
      testing::ScriptedInput input(lines);
      KZT_GUI(true, sets, status);
      EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    }
    const std::string out = terminal.text();
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(counts(out), std::vector<int>{1}) << out;
    EXPECT_FALSE(vosq_io_dbdb.file_sequence);
    EXPECT_EQ(kzt_image(vosq_kzt_arrays.data)[0], c.read) << out;
    EXPECT_EQ(out.find("END OF SEQUENCE"), std::string::npos) << out;
    EXPECT_EQ(out.find("Problem in form widget"), std::string::npos) << out;
    EXPECT_NE(out.find(" \nNOTE: Sequence terminated: its macro ended at " + std::string(c.note) +
                       "\n \n"),
              std::string::npos)
        << out;
  }
}

// A sequence of this menu ended from elsewhere (its macro left in another
// interface) leaves nothing behind: a keyboard sequence whose macro then
// ends at this menu is ended there, not taken for a set-up of this menu.
TEST_F(MacroMenu, ASequenceEndedElsewhereIsNotResumedByTheKeyboards) {
  write_text(dir.file("leave.mac"), "EXIT\n");
  write_text(dir.file("main.mac"), "RUN SEQUENCE\n" + file("leave.mac") + "\n" +
                                       file("img001.kzt") + "\n" + file("img003.kzt") +
                                       "\n1\nout\n");
  Status status = kStatusGood;
  std::string name = file("main.mac");
  IO_OPEN_INMACRO(false, name, status);
  run({}, status);
  ASSERT_EQ(io_sequence_driver(), SequenceDriver::kWindow);
  IO_CLOSE_INMACRO(status);
  io_end_sequence("its macro was left before its end");
  name = file("member.mac");
  io_open_sequence_macro(name, status);
  io_start_sequence(SequenceDriver::kKeyboard);
  const std::string out = run({"EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(counts(out).empty()) << out;
  EXPECT_EQ(io_sequence_driver(), SequenceDriver::kNone);
  EXPECT_NE(out.find("NOTE: Sequence terminated: its macro ended at the graphical menu KESTA: "
                     "MACROS / LOG FILE MENU\n"),
            std::string::npos)
      << out;
}

// A recording made in the window starts in this menu, where CREATE MACRO
// began it, usually with the EXIT that left it. Replayed from the start of
// the run it is entered here too: both roads answer the same questions.
TEST_F(MacroMenu, AWindowRecordingReplaysTheSameFromTheStartAndFromThisMenu) {
  write_image(file("img.kzt"), 5.0f);
  write_text(file("rec.mac"),
             "%!*\\ BEGINNING OF GUI MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
             "EXIT\nIMAGE PROCESSING (GENERAL)\nINPUT\n" + file("img.kzt") +
             "\nEXIT\nMACROS / LOG FILE\n%!*\\ END OF IO MACRO FILE\n");
  const auto replayed = [this](bool from_start) {
    testing::TerminalCapture terminal;
    Status status = kStatusGood;
    std::vector<std::string> lines = {"EXIT", "EXIT KESTA", "YES"};
    if (from_start) {
      std::string name = file("rec.mac");
      IO_OPEN_INMACRO(false, name, status);
    } else {
      lines.insert(lines.begin(), {"MACROS / LOG FILE", "RUN MACRO", file("rec.mac")});
    }
    sets = KztDataSets{};
    testing::ScriptedInput input(lines);
    KZT_GUI(true, sets, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    EXPECT_TRUE(sets.data_defined);
    const std::string out = terminal.text();
    EXPECT_EQ(out.find("does not correspond"), std::string::npos) << out;
    EXPECT_EQ(out.find("CONFIRM EXIT"), out.rfind("CONFIRM EXIT")) << out;
    return out.substr(out.find("MENU CHOICE (GRAPHICAL INPUT):EXIT"));
  };
  EXPECT_EQ(replayed(true), replayed(false));
}

TEST_F(MacroMenu, RecordingAndLog) {
  Status status = kStatusGood;
  // Recording refuses RUN SEQUENCE, and CREATE MACRO before it asks for a
  // file; neither is kept in the recording. STOP MACRO makes the recorded
  // file the one RUN MACRO offers.
  std::string out = run({"CREATE MACRO", "NO", file("rec.mac"), "RUN SEQUENCE", "CREATE MACRO",
                         "STOP MACRO", "OPEN LOG FILE", "NO", file("session.log"), "?",
                         "O.K.", "CLOSE LOG FILE", "EXIT"},
                        status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("WARNING: The \"SEQUENCE\" command cannot be used within a macro."),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("WARNING: Output macro file is already open"), std::string::npos) << out;
  std::ifstream recorded(file("rec.mac"));
  std::stringstream macro;
  macro << recorded.rdbuf();
  EXPECT_EQ(macro.str(),
            "%!*\\ BEGINNING OF GUI MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
            "%!*\\ END OF IO MACRO FILE\n");
  std::ifstream log(file("session.log"));
  EXPECT_TRUE(log.good());
  EXPECT_FALSE(vosq_io_dbdb.log_open);
  EXPECT_FALSE(sets.log_file_open);
  // A log in a folder that does not exist: the warning box, and the menu
  // goes on.
  out = run({"OPEN LOG FILE", "NO", file("none/x.log"), "EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("WARNING: PROBLEM OPENING FILE FOR THE LOG"), std::string::npos) << out;
  EXPECT_FALSE(sets.log_file_open);
  // A FIFO as the macro to run is refused without blocking.
  const std::string fifo = file("pipe.mac");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  run({"RUN MACRO", fifo, "EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
}

// The real program with ARGS in DIR, its home there too.
std::unique_ptr<testing::PtyChild> start_in(const testing::TempDir& dir,
                                            std::vector<std::string> args) {
  return std::make_unique<testing::PtyChild>([&dir, args] {
    if (chdir(dir.path().c_str()) != 0) return 126;
    setenv("HOME", dir.path().c_str(), 1);
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(KESTA_PROGRAM, argv.data());
    return 127;
  });
}

// The real program in its window: RUN SEQUENCE over three files with a
// member macro that starts with an assignment and then writes the member's
// output file. The assignment is no end of the macro: every member writes its
// own file, and control returns to the window only when a member ends.
TEST(MacroMenuWindow, AnAssignmentInTheSequencesMacroIsNoEndOfIt) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  for (const char* name : {"img001.kzt", "img002.kzt", "img003.kzt"})
    write_text(dir.file(name), "x\n");
  write_text(dir.file("member.mac"), "c = ##COUNT\nOPEN LOG FILE\nNO\n#OUT\nCLOSE LOG FILE\n");
  write_text(dir.file("gui.mac"),
             "MACROS / LOG FILE\nRUN SEQUENCE\nmember.mac\nimg001.kzt\nimg003.kzt\n1\nout\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  const auto started = start_in(dir, {"kesta", "-dim64x64", "-macgui.mac"});
  testing::PtyChild& child = *started;
  constexpr int kWait = 60000;
  ASSERT_TRUE(child.wait_for("INFO: *** END OF SEQUENCE ***", kWait)) << child.output();
  const std::string out = child.output();
  // Each member ends once at the menu, after its own output file; the
  // outer macro's end starts the first.
  const std::string returned = "INFO: Control returned to graphics window";
  int returns = 0;
  for (std::size_t at = out.find(returned); at != std::string::npos;
       at = out.find(returned, at + 1))
    ++returns;
  EXPECT_EQ(returns, 4) << out;
  for (const char* name : {"img001.out", "img002.out", "img003.out"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name << "\n" << out;
  // The window is let go; the menus are then answered at the terminal.
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(testing::run_bounded("xdotool windowclose " + std::to_string(window)));
  ASSERT_TRUE(child.wait_for("WARNING: The graphics window was closed", kWait));
  ASSERT_TRUE(child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child.output();
  child.type("EXIT\n");
  ASSERT_TRUE(child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child.output();
  child.type("EXIT KESTA\n");
  ASSERT_TRUE(child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child.output();
  child.type("YES\n");
  EXPECT_EQ(child.finish(kWait), 0) << child.output();
}


// The real program in its window: an input that fails while a macro runs
// ends the macro, and the sequence it is a member of, each with its framed
// warning, so that no later line works on the image read before. A member
// missing from RUN SEQUENCE's series writes no output of its own and the
// counts after it do not run; a plain macro of the window stops there too.
TEST(MacroMenuWindow, AFailedInputEndsTheSequenceAndTheMacro) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  write_image(dir.file("img001.kzt"), 1.0f);
  write_image(dir.file("img003.kzt"), 3.0f);
  write_text(dir.file("member.mac"),
             "EXIT\nIMAGE PROCESSING (GENERAL)\nINPUT\n#IN\nEXIT\nMACROS / LOG FILE\n"
             "OPEN LOG FILE\nNO\n#OUT\nCLOSE LOG FILE\n");
  write_text(dir.file("sequence.mac"),
             "MACROS / LOG FILE\nRUN SEQUENCE\nmember.mac\nimg001.kzt\nimg003.kzt\n1\nout\n");
  write_text(dir.file("plain.mac"),
             "IMAGE PROCESSING (GENERAL)\nINPUT\nimg002.kzt\nEXIT\nMACROS / LOG FILE\n"
             "OPEN LOG FILE\nNO\nafter.log\nCLOSE LOG FILE\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  constexpr int kWait = 60000;
  const auto run = [&dir](const char* macro) {
    auto child = std::make_unique<testing::PtyChild>([&dir, macro] {
      if (chdir(dir.path().c_str()) != 0) return 126;
      setenv("HOME", dir.path().c_str(), 1);
      std::vector<std::string> args{"kesta", "-dim64x64", std::string("-mac") + macro};
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KESTA_PROGRAM, argv.data());
      return 127;
    });
    // The macro has ended: the window waits for the user, who lets it go
    // and ends the input at the terminal.
    EXPECT_TRUE(child->wait_for("Macro automatically terminated.", kWait)) << child->output();
    EXPECT_TRUE(testing::run_bounded(
        "xdotool windowclose " +
        std::to_string(testing::find_window("KESTA GRAPHICS WINDOW"))));
    EXPECT_TRUE(child->wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child->output();
    child->type("\x04");
    EXPECT_EQ(child->finish(kWait), 0) << child->output();
    return child->output();
  };
  const std::string rule =
      "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--WARNING\r\n";
  const auto framed = [&rule](const std::string& line) {
    return rule + " \r\n" + line + "\r\n \r\n" + rule;
  };
  std::string out = run("sequence.mac");
  EXPECT_NE(out.find("WARNING: File img002.kzt cannot be opened: No such file or directory; the "
                     "data are unchanged\r\n" +
                     framed("WARNING: File input failed during a macro. Macro automatically "
                            "terminated.") +
                     framed("WARNING: File input failed during a sequence. Sequence terminated.")),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("img001.out"))) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("img002.out"))) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("img003.out"))) << out;
  EXPECT_EQ(out.find("Sequence counter value =        3"), std::string::npos) << out;
  EXPECT_EQ(out.find("END OF SEQUENCE"), std::string::npos) << out;

  out = run("plain.mac");
  EXPECT_NE(out.find(framed("WARNING: File input failed during a macro. Macro automatically "
                            "terminated.")),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("during a sequence"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("after.log"))) << out;
}

// The real program in its window: RUN SEQUENCE whose member leaves the menu
// and runs out at a question: SCALAR +'s value box in MATHS, a value box of
// TRANSFORM's form, INPUT's file selection. The member stopped short, as
// every later one would: the sequence ends there with its note, and the box
// waits in the window for the user.
TEST(MacroMenuWindow, ASequenceWhoseMacroEndsAtAWindowQuestionEndsThere) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  for (int n = 1; n <= 3; ++n) write_image(dir.file("img00" + std::to_string(n) + ".kzt"), n);
  write_text(dir.file("sequence.mac"),
             "MACROS / LOG FILE\nRUN SEQUENCE\nmember.mac\nimg001.kzt\nimg003.kzt\n1\nout\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  struct Case {
    const char* ending;  // after the interface's INPUT
    const char* question;
  };
  for (const Case& c : {Case{"#IN\nMATHS\nSCALAR +\n", "ADDITION CONSTANT"},
                        Case{"#IN\nGEOMETRIC\nTRANSFORM\nANGLE\n", "ANGLE OF ROTATION"},
                        Case{"", "SELECT FILE TO INPUT IMAGE DATA"}}) {
    SCOPED_TRACE(c.ending);
    write_text(dir.file("member.mac"),
               "EXIT\nIMAGE PROCESSING (GENERAL)\nINPUT\n" + std::string(c.ending));
    const auto started = start_in(dir, {"kesta", "-dim64x64", "-macsequence.mac"});
    testing::PtyChild& child = *started;
    constexpr int kWait = 60000;
    ASSERT_TRUE(child.wait_for("NOTE: Sequence terminated: its macro ended at the question " +
                                   std::string(c.question),
                               kWait))
        << child.output();
    ASSERT_TRUE(testing::run_bounded(
        "xdotool windowclose " + std::to_string(testing::find_window("KESTA GRAPHICS WINDOW"))));
    ASSERT_TRUE(child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child.output();
    child.type("\x04");
    EXPECT_EQ(child.finish(kWait), 0) << child.output();
    const std::string out = child.output();
    EXPECT_NE(out.find("INFO: Control returned to graphics window\r\n \r\nNOTE: Sequence "
                       "terminated"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("INFO: Sequence counter value =        2"), std::string::npos) << out;
    EXPECT_EQ(out.find("END OF SEQUENCE"), std::string::npos) << out;
    EXPECT_EQ(out.find("Problem in form widget"), std::string::npos) << out;
  }
}

// The keyboard's SEQUENCE and the window's RUN SEQUENCE run series of their
// own. A sequence set up by the one is not taken by the other for its next
// count: RUN SEQUENCE in the keyboard sequence's macro sets a sequence of the
// window up (the keyboard's ends and says so), and the window sequence's
// macro that ends in the keyboard interface ends that sequence, rather than
// running the keyboard's remembered series. A macro that ends at a menu of
// a choice (a yes/no box) ends the sequence there and then.
TEST(MacroMenuWindow, TheKeyboardsAndTheWindowsSequencesKeepApart) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  for (const char* name : {"img001.kzt", "img002.kzt", "img003.kzt"})
    write_text(dir.file(name), "x\n");
  const std::string header =
      "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n";
  write_text(dir.file("member.mac"), "HELP\nO.K.\n");
  write_text(dir.file("window.mac"), header +
                                         "GUI\nMACROS / LOG FILE\nRUN SEQUENCE\nmember.mac\n"
                                         "img001.kzt\nimg003.kzt\n1\nout\nEXIT\nEXIT MENU\n");
  write_text(dir.file("yes_no.mac"), header + "GUI\nMACROS / LOG FILE\nOPEN LOG FILE\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::ProgramResult r = testing::run_program(
      dir, "-key -dim64x64", "SEQUENCE\n1\n2\n1\nwindow.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output.find("Input file =\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("could not be opened"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(" \nNOTE: Sequence terminated: another sequence was set up\n \n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(" \nNOTE: Sequence terminated: its macro ended in the keyboard "
                          "interface\n \n"),
            std::string::npos)
      << r.output;

  write_text(dir.file("member.mac"), "EXIT\nKEYBOARD INTERFACE\nLIST VARIABLES\n");
  write_text(dir.file("gui.mac"),
             "MACROS / LOG FILE\nRUN SEQUENCE\nmember.mac\nimg001.kzt\nimg003.kzt\n1\nout\n");
  const auto start = [&dir](std::vector<std::string> args) { return start_in(dir, args); };
  constexpr int kWait = 60000;
  const auto close_window = [] {
    return testing::run_bounded("xdotool windowclose " +
                                std::to_string(testing::find_window("KESTA GRAPHICS WINDOW")));
  };
  {
    // Nobody answers the log's yes/no box: the note comes while it waits.
    auto keyboard = start({"kesta", "-key", "-dim64x64"});
    ASSERT_TRUE(keyboard->wait_for("Main menu: ENTER COMMAND", kWait));
    keyboard->type("SEQUENCE\n1\n2\n1\nyes_no.mac\n0\n");
    ASSERT_TRUE(keyboard->wait_for("INFO: Control returned to graphics window\r\n \r\n"
                                   "NOTE: Sequence terminated: its macro ended at the "
                                   "graphical menu SAVE LOG IN: ",
                                   10000))
        << keyboard->output();
    ASSERT_TRUE(close_window());
    keyboard->type("\x04");
    keyboard->finish(kWait);
  }

  // The window's sequence, whose macro ends in the keyboard interface.
  auto window = start({"kesta", "-dim64x64", "-macgui.mac"});
  testing::PtyChild& child = *window;
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND [DEFINE VARIABLE]:", kWait))
      << child.output();
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND", kWait)) << child.output();
  child.type("EXIT\n");
  ASSERT_TRUE(child.wait_for("INFO: Control transferred to graphics window", kWait));
  ASSERT_TRUE(close_window());
  ASSERT_TRUE(child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait)) << child.output();
  child.type("\x04");
  EXPECT_EQ(child.finish(kWait), 0) << child.output();
  const std::string out = child.output();
  EXPECT_NE(out.find("NOTE: Sequence terminated: its macro ended in the keyboard interface"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Sequence counter value =        0"), std::string::npos) << out;
  EXPECT_EQ(out.find("kesta.mac"), std::string::npos) << out;
}

}  // namespace
}  // namespace kesta
