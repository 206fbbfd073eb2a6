// End-to-end tests of the macro utilities: the real program with macro files
// and answers on its standard input.

#include <gtest/gtest.h>

#include <string>

#include "app/main/program_test_support.hpp"
#include "core/test_support.hpp"

namespace {

using kesta::testing::file_contents;
using kesta::testing::ProgramResult;
using kesta::testing::run_program;
using kesta::testing::TempDir;
using kesta::testing::write_text_file;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

const std::string kMacroHeader = "%!*\\ BEGINNING OF IO MACRO FILE\n";

TEST(MacroUtilities, RecordedQuestionIsAskedAgainOnReplay) {
  TempDir dir;
  const ProgramResult recording =
      run_program(dir, "-nogr -dim4x4",
                  "START MACRO\nq.mac\nQUESTION\nINTEGER VALUE\nFrames?\nNO\nYES\n5\nNO\n"
                  "Number of frames\n\\\\\nNFRAMES\n3\nSTOP MACRO\nEXIT\nYES\n");
  EXPECT_EQ(recording.code, 0) << recording.output;
  const std::string recorded = file_contents(dir.file("q.mac"));
  // The answer given at the definition is not part of the macro.
  EXPECT_TRUE(has(recorded,
                  "\nNFRAMES\n%!*\\\n%!*\\ End of Definition\n%!*\\\n"
                  "%!*\\ END OF IO MACRO FILE\n"))
      << recorded;

  const ProgramResult replay =
      run_program(dir, "-nogr -dim4x4", "MACRO\nq.mac\n42\nLIST VARIABLES\nEXIT\nYES\n");
  EXPECT_EQ(replay.code, 0);
  EXPECT_TRUE(has(replay.output, "INTERACTIVE INPUT REQUIRED FOR THE MACRO")) << replay.output;
  EXPECT_TRUE(has(replay.output, "Frames? [5]:")) << replay.output;
  // The replayed escape that ends the help text ends its prompt's line.
  EXPECT_TRUE(has(replay.output, "TEXT:\\\\\nENTER VARIABLE NAME [#VALUE]:NFRAMES\n"))
      << replay.output;
  EXPECT_TRUE(has(replay.output, "      NFRAMES i = 42\n")) << replay.output;
}

// An assignment replayed at a command's question sets its variable and the
// question is asked again: the next line answers it, not the main menu.
TEST(MacroUtilities, AnAssignmentInAMacroIsAskedAgainNotRunAsACommand) {
  TempDir dir;
  write_text_file(dir.file("i.mac"),
                  kMacroHeader + "I2C\nn = 2\n3\nv = 1\nNO\n\n\nLIST VARIABLES\n");
  const ProgramResult r = run_program(dir, "-nogr -dim4x4 -maci.mac", "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "ENTER INTEGER [1]:n = 2\nENTER INTEGER [1]:3\n")) << r.output;
  EXPECT_TRUE(has(r.output, "VARIABLE LENGTH OUTPUT [NO]:v = 1\nVARIABLE LENGTH OUTPUT [NO]:NO\n"))
      << r.output;
  EXPECT_TRUE(has(r.output, "      #CVALUE s(3) = 003\n")) << r.output;
}

// Commands refused while a recording runs are not recorded: its replay
// neither refuses them again nor obeys them.
TEST(MacroUtilities, RefusedCommandsAreKeptOffARecording) {
  TempDir dir;
  const ProgramResult recording = run_program(
      dir, "-nogr -dim4x4",
      "START MACRO\nr1.mac\nSTART MACRO\nSEQUENCE\nSTATISTICS\nI2C\n5\n\n\n\nSTOP MACRO\n"
      "EXIT\nYES\n");
  EXPECT_EQ(recording.code, 0);
  EXPECT_TRUE(has(recording.output, "Output macro file is already open")) << recording.output;
  EXPECT_TRUE(has(recording.output, "cannot be used within a macro")) << recording.output;
  EXPECT_TRUE(has(recording.output, "WARNING: No data exists")) << recording.output;
  const std::string recorded = file_contents(dir.file("r1.mac"));
  EXPECT_TRUE(has(recorded, "%!*\\\nI2C\n5\n\n\n\n%!*\\ END OF IO MACRO FILE\n")) << recorded;

  const ProgramResult replay = run_program(dir, "-nogr -dim4x4 -macr1.mac", "EXIT\nYES\n");
  EXPECT_EQ(replay.code, 0);
  EXPECT_FALSE(has(replay.output, "WARNING")) << replay.output;

  // So are those of a command's sub-menu.
  const ProgramResult sub_menu = run_program(
      dir, "-nogr -dim4x4",
      "CREATE DATA\n\n\n\n\n\n\n\n\n\nSTART MACRO\nc.mac\nCALIBRATION\nFIT GRID PEAKS\nEXIT\n\n"
      "STOP MACRO\nEXIT\nYES\n");
  EXPECT_TRUE(has(sub_menu.output, "No peak centres have been found")) << sub_menu.output;
  EXPECT_TRUE(has(file_contents(dir.file("c.mac")), "%!*\\\nCALIBRATION\nEXIT\n\n%!*\\ END"))
      << file_contents(dir.file("c.mac"));
}

TEST(MacroUtilities, SequenceRunsTheMacroForEveryCount) {
  TempDir dir;
  // An assignment in the macro (as made file names use) is no end of it.
  write_text_file(dir.file("seq.mac"),
                  kMacroHeader + "c = ##COUNT\nLIST VARIABLES\nMESSAGE\nRun finished\n\\\\\n");
  const ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n10\n1\n-3\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  std::size_t at = 0;
  for (const char* count : {"10", "7", "4", "1"}) {
    const std::string counter =
        "INFO: Sequence counter value = " + std::string(8 - std::string(count).size(), ' ') + count;
    at = r.output.find(counter, at);
    ASSERT_NE(at, std::string::npos) << counter << "\n" << r.output;
    at = r.output.find("      ##COUNT i = " + std::string(count) + "\n", at);
    ASSERT_NE(at, std::string::npos) << count << "\n" << r.output;
    at = r.output.find("      c i = " + std::string(count) + "\n", at);
    ASSERT_NE(at, std::string::npos) << count << "\n" << r.output;
  }
  EXPECT_FALSE(has(r.output, "the sequence takes over")) << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 4);
  // The message shows without graphics, once per run (after its replayed line).
  EXPECT_EQ(occurrences(r.output, "Run finished\n"), 8) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: *** END OF SEQUENCE ***\n \nMain menu: ENTER COMMAND [EXIT]:"))
      << r.output;
}

// A macro that ends inside a command's questions ends its run too: the
// sequence goes on with the next count instead of waiting at the menu.
TEST(MacroUtilities, SequenceGoesOnWhenTheMacroEndsInsideACommand) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"), kMacroHeader + "LIST VARIABLES\nI2C\n5\n");
  const ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n2\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 2) << r.output;
  EXPECT_TRUE(has(r.output, "      ##COUNT i = 2\n")) << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: *** END OF SEQUENCE ***"), 1) << r.output;
}

// A sequence whose macro is closed with lines still unread (here by an
// escape at its interactive question) ends; a macro run later is not taken
// for its remaining counts.
TEST(MacroUtilities, AStalledSequenceEndsAndRunsNoOtherMacro) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"),
                  kMacroHeader +
                      "LIST VARIABLES\nQUESTION\nINTEGER VALUE\nFrames?\nNO\nYES\n5\nNO\n"
                      "Number of frames\n\\\\\nNFRAMES\nMESSAGE\nnot reached\n\\\\\n");
  write_text_file(dir.file("other.mac"), kMacroHeader + "MESSAGE\nother ran\n\\\\\n");
  const ProgramResult r = run_program(
      dir, "-nogr -dim4x4",
      "SEQUENCE\n1\n3\n1\nseq.mac\n0\n\\\\\nMACRO\nother.mac\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 1) << r.output;
  EXPECT_EQ(occurrences(r.output, "\nNOTE: Sequence terminated by user request.\n \n"), 1)
      << r.output;
  EXPECT_FALSE(has(r.output, "not reached")) << r.output;
  EXPECT_EQ(occurrences(r.output, "other ran\n"), 2) << r.output;
  EXPECT_FALSE(has(r.output, "END OF SEQUENCE")) << r.output;
}

// A macro whose lines run out at the RESET question (after an escape) has
// reached its end as at any other prompt: every count runs. So does one
// ending at a reader's question, or at a sub-menu of a command after an
// assignment there.
TEST(MacroUtilities, ASequenceMacroEndingAtTheResetQuestionRunsEveryCount) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"), kMacroHeader + "LIST VARIABLES\nTITLE\n\\\\\n");
  ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 3) << r.output;
  EXPECT_EQ(occurrences(r.output, "RESET \"status\" [YES]:  *** END OF MACRO FILE ***\n"), 3)
      << r.output;
  EXPECT_FALSE(has(r.output, "Sequence terminated")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: *** END OF SEQUENCE ***\n \nMain menu: ENTER COMMAND"))
      << r.output;

  // Nor is a macro ending at a reader's question of INPUT DATA a failed input.
  write_text_file(dir.file("seq.mac"), kMacroHeader + "INPUT DATA\nKESTA STANDARD FORMAT\n");
  r = run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 3) << r.output;
  EXPECT_FALSE(has(r.output, "File input failed")) << r.output;
  EXPECT_FALSE(has(r.output, "Sequence terminated")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: *** END OF SEQUENCE ***\n \nMain menu: ENTER COMMAND"))
      << r.output;

  write_text_file(dir.file("seq.mac"), kMacroHeader + "BRAGGS' EQUATION\nb = 1\n");
  r = run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 3) << r.output;
  EXPECT_FALSE(has(r.output, "RESET")) << r.output;
  EXPECT_FALSE(has(r.output, "Sequence terminated")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: *** END OF SEQUENCE ***\n \nMain menu: ENTER COMMAND"))
      << r.output;
}

// A STOP MACRO in the sequence's macro offers the recorded file as the next
// macro to run; the later counts still run the sequence's own macro.
TEST(MacroUtilities, AStopMacroInTheSequencesMacroLeavesItsMacro) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"), kMacroHeader + "STOP MACRO\nMESSAGE\ncount ran\n\\\\\n");
  const ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 3) << r.output;
  EXPECT_FALSE(has(r.output, "Sequence terminated")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: *** END OF SEQUENCE ***")) << r.output;
}

// A SEQUENCE line in the sequence's own macro moves it on, the last count's
// as every earlier one's: the rest of that macro is not read, also once the
// sequence has ended.
TEST(MacroUtilities, ASequenceLineInTheMembersMacroLeavesItThroughTheLastCount) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"),
                  kMacroHeader + "LIST VARIABLES\nSEQUENCE\nMESSAGE\nrest ran\n\\\\\n");
  const ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "      ##COUNT i = "), 3) << r.output;
  EXPECT_EQ(occurrences(r.output, "the sequence takes over\n"), 2) << r.output;
  EXPECT_TRUE(has(r.output,
                  "Main menu: ENTER COMMAND [DEFINE VARIABLE]:SEQUENCE\n"
                  "INFO: The rest of the running macro is not read: the sequence has ended\n"
                  "INFO: *** END OF SEQUENCE ***\n \nMain menu: ENTER COMMAND [EXIT]:EXIT\n"))
      << r.output;
  EXPECT_FALSE(has(r.output, "rest ran")) << r.output;
}

// The macro file gone before the next count: the sequence ends with its note.
TEST(MacroUtilities, ASequenceWhoseMacroVanishedEnds) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"), kMacroHeader + "LIST VARIABLES\n$rm seq.mac\n");
  const ProgramResult r =
      run_program(dir, "-nogr -dim4x4", "SEQUENCE\n1\n3\n1\nseq.mac\n0\nYES\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 2) << r.output;
  EXPECT_TRUE(has(r.output, " \nNOTE: Sequence terminated: its macro file could not be opened\n \n"))
      << r.output;
}

TEST(MacroUtilities, SequenceRefusesAGuiMacroAndEndsAOneValueLoop) {
  TempDir dir;
  write_text_file(dir.file("gui.mac"), "%!*\\ BEGINNING OF GUI MACRO FILE\nEXIT\n");
  write_text_file(dir.file("plain.mac"), "LIST VARIABLES\n");
  write_text_file(dir.file("seq.mac"), kMacroHeader + "LIST VARIABLES\n");
  const ProgramResult r = run_program(
      dir, "-nogr -dim4x4",
      "SEQUENCE\n3\n3\n0\nmissing.mac\ngui.mac\nplain.mac\nseq.mac\n0\nSEQUENCE\n2\n2\n0\n"
      "\\\\\nYES\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  // A missing file is said with its name and the reason.
  EXPECT_TRUE(has(r.output,
                  "WARNING: The entered file could not be opened (probably it doesn't exist)\n"
                  "         (You can enter user escape (\\\\) to exit this command.)\n"
                  "         missing.mac cannot be opened: No such file or directory\n"))
      << r.output;
  // A recording made in the window's menus is named for what it is.
  EXPECT_TRUE(has(r.output,
                  "INPUT MACRO FILE NAME [kesta.mac]:gui.mac\n"
                  "WARNING: Macro file \"gui.mac\" was recorded in the graphics window and needs "
                  "the window's menus to run\n"
                  "         (You can enter user escape (\\\\) to exit this command.)\n"))
      << r.output;
  EXPECT_TRUE(has(r.output, "INPUT MACRO FILE NAME [kesta.mac]:plain.mac\n"
                            "WARNING: The entered file is not a valid macro file"))
      << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value ="), 1) << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: *** END OF SEQUENCE ***"), 1);
  EXPECT_TRUE(has(r.output, "INPUT MACRO FILE NAME [seq.mac]:")) << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

// Enter after a refused loop, and after a macro file that did not open,
// takes what was offered before: the typed answers still line up.
TEST(MacroUtilities, EnterAfterARefusalTakesTheEarlierProposal) {
  TempDir dir;
  write_text_file(dir.file("seq.mac"), kMacroHeader + "LIST VARIABLES\n");
  const ProgramResult r = run_program(
      dir, "-nogr -dim4x4",
      "SEQUENCE\n2\n2\n0\nseq.mac\n0\nSEQUENCE\n5\n1\n1\n\n\n\nmissing.mac\n\n0\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(occurrences(r.output, "do not define a valid finite loop"), 1) << r.output;
  EXPECT_EQ(occurrences(r.output, "missing.mac cannot be opened"), 1) << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: Sequence counter value =        2"), 2) << r.output;
  EXPECT_EQ(occurrences(r.output, "INFO: *** END OF SEQUENCE ***"), 2) << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA")) << r.output;
}

}  // namespace
