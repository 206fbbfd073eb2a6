#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "app/imageops/upcalls.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/main/data_store.hpp"
#include "app/main/data_store_test_support.hpp"
#include "app/program/program.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/state.hpp"

using namespace kesta;
using kesta::testing::DataSetFixture;
using kesta::testing::ScriptedInput;
using kesta::testing::TempDir;
using kesta::testing::TerminalCapture;

namespace {

class Dispatcher : public DataSetFixture {
 protected:
  // Runs COMMAND through the dispatcher; returns the next default.
  std::string run(std::string command, Status& status) {
    KZT_KEYSUB(from_gui, command, display_command, graphics_kind, sets, precondition, continue_flag,
               status);
    return command;
  }
  std::string run(const std::string& command) {
    Status status = kStatusGood;
    std::string next = run(command, status);
    EXPECT_EQ(status, kStatusGood) << command;
    return next;
  }

  bool from_gui = false;
  std::string display_command = "IMAGE";
  std::string graphics_kind;
  int precondition = 0;
  bool continue_flag = true;
};

TEST_F(Dispatcher, TableHasEveryCommandWithItsHelpLine) {
  const auto& names = kzt_command_names();
  const auto& help = kzt_command_help();
  ASSERT_EQ(names.size(), 129u);
  ASSERT_EQ(help.size(), 129u);
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(help[i].rfind(names[i] + ": ", 0), 0u) << help[i];
    EXPECT_LE(help[i].size(), 80u) << help[i];
    // Every name can be abbreviated: none begins another.
    for (std::size_t j = 0; j < names.size(); ++j) {
      if (i != j) {
        EXPECT_NE(names[j].rfind(names[i], 0), 0u) << names[i] << " / " << names[j];
      }
    }
  }
}

struct PreconditionCase {
  const char* command;
  bool data, memory_defined, memory_exist, variances;
  Index mxnumdat;
  int code;
};

class Preconditions : public Dispatcher, public ::testing::WithParamInterface<PreconditionCase> {};

TEST_P(Preconditions, FirstMissingRequirementStopsTheCommand) {
  const PreconditionCase c = GetParam();
  make(4, 3, true, true);
  const float before = at(vosq_kzt_arrays.data, 1, 1);
  sets.data_defined = c.data;
  sets.memory_defined = c.memory_defined;
  sets.memory_exist = c.memory_exist;
  sets.variances_exist = c.variances;
  sets.mxnumdat = c.mxnumdat;
  sets.mynumdat = 3;
  TerminalCapture terminal;
  Status status = kStatusGood;
  EXPECT_EQ(run(c.command, status), c.command);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(precondition, c.code) << c.command;
  EXPECT_EQ(terminal.text(), "");
  EXPECT_EQ(at(vosq_kzt_arrays.data, 1, 1), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Preconditions,
    ::testing::Values(
        PreconditionCase{"ADD", false, true, true, true, 4, kNeedsData},
        PreconditionCase{"ADD", true, false, true, true, 4, kNeedsMemoryData},
        // The memory ends at column 3, the region at column 4.
        PreconditionCase{"ADD", true, true, true, true, 3, kNeedsMemoryOverRegion},
        PreconditionCase{"SUBTRACT", true, true, true, true, 3, kNeedsMemoryOverRegion},
        PreconditionCase{"BLUR", false, false, true, false, 0, kNeedsData},
        PreconditionCase{"STORE", true, false, false, false, 0, kNeedsMemoryArrays},
        PreconditionCase{"EXCHANGE", true, false, false, false, 0, kNeedsMemoryArrays},
        PreconditionCase{"RECALL", true, false, true, false, 0, kNeedsMemoryData},
        PreconditionCase{"WEIGHTED AVERAGE", true, false, true, true, 4, kNeedsMemoryData},
        PreconditionCase{"WEIGHTED AVERAGE", true, true, true, false, 4, kNeedsVariances},
        PreconditionCase{"V2C", true, false, true, false, 0, kNeedsVariances},
        // Graphics are tested before data.
        PreconditionCase{"PLOT DATA", false, false, true, false, 0, kNeedsGraphics},
        PreconditionCase{"IMAGE", false, false, true, false, 0, kNeedsGraphics},
        // Commands that need a window check for it.
        PreconditionCase{"3-D SURFACE PLOT", true, false, true, false, 0, kNeedsGraphics},
        PreconditionCase{"GUI", true, false, true, false, 0, kNeedsGraphics},
        PreconditionCase{"ROTATE LUT", true, false, true, false, 0, kNeedsGraphics},
        // A contour plot needs data only: without a window it draws nothing.
        PreconditionCase{"CONTOUR PLOT", false, false, true, false, 0, kNeedsData},
        PreconditionCase{"POLARISATION EFFECT", true, false, true, false, 0, kNeedsGraphics}),
    // Named by the command and the case's place (not by the bytes of the
    // case, which change from build to build).
    [](const ::testing::TestParamInfo<PreconditionCase>& info) {
      std::string name;
      for (const char* c = info.param.command; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name + "_" + std::to_string(info.index);
    });

// CONTOUR PLOT says why it draws nothing: without graphics (as the other
// drawing commands say it, though a macro goes on), for one or two rows
// away from row 1, for data without a finite value and for data of which no
// cell can be drawn; none of these leaves a kind of graphics for PRINT
// GRAPHICS, not even that of an earlier drawing.
TEST_F(Dispatcher, ContourPlotThatDrawsNothingSaysWhy) {
  make(8, 6, false, false);
  sets.data_defined = true;
  KztArrays& a = vosq_kzt_arrays;
  const auto said = [&](bool graphics, Index ys, Index ye) {
    sets.graphics_on = graphics;
    a.ystrelm = ys;
    a.yendelm = ye;
    graphics_kind = "image";
    TerminalCapture terminal;
    EXPECT_EQ(run("CONTOUR PLOT"), "PRINT GRAPHICS");
    EXPECT_EQ(graphics_kind, "") << terminal.text();
    return terminal.text();
  };
  EXPECT_EQ(said(false, 1, 6),
            "WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA\n");
  EXPECT_EQ(said(true, 3, 4).rfind("WARNING: Nothing drawn: ", 0), 0u);
  for (Index k = 0; k < 8 * 6; ++k)
    if ((k % 8 + k / 8) % 2 == 1) a.data[k] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(said(true, 1, 6).rfind("WARNING: Nothing can be drawn: ", 0), 0u);
  std::fill(a.data, a.data + 8 * 6, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(said(true, 1, 6), "WARNING: No finite data value in the region to contour\n");
  EXPECT_EQ(said(true, 1, 2), "WARNING: No finite data value in the region to plot\n");
  // Values in row 2 only: the graph is of row 1, which has none.
  std::fill(a.data + 8, a.data + 16, 1.0f);
  EXPECT_EQ(said(true, 1, 2), "WARNING: No finite data value in row 1 to plot\n");
}

// PLOT DATA of a row and 3-D SURFACE PLOT that draw nothing leave nothing
// for PRINT GRAPHICS either: it does not print the drawing before them.
TEST_F(Dispatcher, DrawingsThatDrawNothingLeaveNothingToPrint) {
  make(8, 6, false, false);
  sets.data_defined = true;
  sets.graphics_on = true;
  KztArrays& a = vosq_kzt_arrays;
  const auto kind_after = [&](const std::string& command, Index ys, Index ye) {
    a.ystrelm = ys;
    a.yendelm = ye;
    graphics_kind = "contour";
    TerminalCapture terminal;
    run(command);
    EXPECT_NE(terminal.text().find("WARNING: No"), std::string::npos) << terminal.text();
    return graphics_kind;
  };
  for (Index k = 0; k < 8 * 6; ++k)
    if ((k % 8 + k / 8) % 2 == 1) a.data[k] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(kind_after("3-D SURFACE PLOT", 1, 6), "");  // no cell can be drawn
  EXPECT_EQ(kind_after("3-D SURFACE PLOT", 3, 4), "");  // rows away from row 1
  std::fill(a.data, a.data + 8 * 6, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(kind_after("3-D SURFACE PLOT", 1, 6), "");
  EXPECT_EQ(kind_after("PLOT DATA", 2, 2), "");
}

TEST_F(Dispatcher, UnknownNullAndPendingStatus) {
  make(2, 2, true, false);
  TerminalCapture terminal;
  EXPECT_EQ(run("null"), "null");
  EXPECT_EQ(terminal.text(), "");
  EXPECT_EQ(run("NO SUCH COMMAND"), "INPUT DATA");
  EXPECT_EQ(terminal.text(), "WARNING: Illegal command, please re-enter\n");
  for (Status pending : {kStatusEscape, kStatusConsumed}) {
    Status status = pending;
    EXPECT_EQ(run("CLEAR DATA", status), "CLEAR DATA");
    EXPECT_EQ(status, kStatusGood);
  }
  EXPECT_EQ(at(vosq_kzt_arrays.data, 2, 2), 22.0f);
}

TEST(StartUp, FillsEveryUpwardCall) {
  const ImageopsUpcalls saved = imageops_upcalls;
  kzt_fill_upcalls();
  EXPECT_TRUE(imageops_upcalls_missing(imageops_upcalls).empty());
  imageops_upcalls = saved;
}

// HELP, the last command to be built, pages the keyboard help and changes
// nothing; HELP is proposed again.
TEST_F(Dispatcher, HelpPagesTheKeyboardHelpAndChangesNothing) {
  make(2, 2, true, false);
  TerminalCapture terminal;
  EXPECT_EQ(run("HELP"), "HELP");
  EXPECT_NE(terminal.text().find("KESTA: THE KEYBOARD COMMAND INTERFACE"), std::string::npos);
  EXPECT_EQ(terminal.text().find("not available yet"), std::string::npos);
  EXPECT_TRUE(sets.data_defined);
  EXPECT_FALSE(sets.memory_defined);
}

TEST_F(Dispatcher, ExtendWithoutDataOnlyProposesTheDisplayCommand) {
  make(2, 2, true, false);
  sets.data_defined = false;
  TerminalCapture terminal;
  EXPECT_EQ(run("EXTEND"), "IMAGE");
  EXPECT_EQ(precondition, 0);
  EXPECT_EQ(terminal.text(), "");
}

TEST_F(Dispatcher, ArithmeticWithTheMemoryPropagatesVariances) {
  make(3, 3, true, true);
  sets.memory_defined = true;
  sets.mxnumdat = 3;
  sets.mynumdat = 3;
  region(2, 1, 3, 2);
  const KztArrays& a = vosq_kzt_arrays;

  EXPECT_EQ(run("ADD"), "FIT");
  EXPECT_EQ(at(a.data, 2, 1), 21.0f + 201.0f);
  EXPECT_EQ(at(a.variances, 2, 1), 3.0f + 1.0f);
  EXPECT_EQ(at(a.data, 1, 1), 11.0f);  // outside the region
  EXPECT_EQ(at(a.data, 2, 3), 23.0f);

  EXPECT_EQ(run("SUBTRACT"), "IMAGE");
  EXPECT_EQ(at(a.data, 2, 1), 21.0f);
  EXPECT_EQ(at(a.variances, 2, 1), 5.0f);

  // The variance of the product uses both factors before the data change.
  EXPECT_EQ(run("MULTIPLY"), "FIT");
  EXPECT_EQ(at(a.data, 3, 2), 32.0f * 302.0f);
  EXPECT_FLOAT_EQ(at(a.variances, 3, 2), 32.0f * 32.0f * 1.0f + 302.0f * 302.0f * 7.0f);

  EXPECT_EQ(run("CLEAR DATA"), "SYMMETRIC FUNCTION");
  EXPECT_EQ(at(a.data, 3, 2), 0.0f);
  EXPECT_EQ(at(a.variances, 3, 2), 0.0f);
  EXPECT_EQ(at(a.data, 3, 3), 33.0f);
}

TEST_F(Dispatcher, WeightedAverageOfDataAndMemory) {
  make(2, 1, true, true);
  sets.memory_defined = true;
  sets.mxnumdat = 2;
  sets.mynumdat = 1;
  EXPECT_EQ(run("WEIGHTED AVERAGE"), "OUTPUT DATA");
  // (1,1): data 11 with variance 2, memory 101 with variance 1.
  EXPECT_FLOAT_EQ(at(vosq_kzt_arrays.data, 1, 1), (11.0f / 2.0f + 101.0f) / 1.5f);
  EXPECT_FLOAT_EQ(at(vosq_kzt_arrays.variances, 1, 1), 1.0f / 1.5f);
}

TEST_F(Dispatcher, StoreExchangeRecallAndRegionCommands) {
  make(3, 2, true, false);
  const KztArrays& a = vosq_kzt_arrays;
  region(2, 2, 3, 2);
  EXPECT_EQ(run("STORE"), "INPUT DATA");
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(run("FULL REGION"), "OUTPUT DATA");
  EXPECT_EQ(a.xstrelm, 1);
  EXPECT_EQ(a.yendelm, 2);
  {
    // REGION in data units: pixel centres at 0.5, 1.5, 2.5.
    TerminalCapture terminal;
    ScriptedInput input({"1.4", "0.2", "2.6", "1.7"});
    run("REGION");
    EXPECT_EQ(a.xstrelm, 2);
    EXPECT_EQ(a.ystrelm, 1);
    EXPECT_EQ(a.xendelm, 3);
    EXPECT_EQ(a.yendelm, 2);
    run("FULL REGION");
  }
  {
    // CURVE STYLES: the typed dialogue on curve 2 alone.
    TerminalCapture terminal;
    ScriptedInput input({"2", "", "NO", "NO", "NO"});
    run("CURVE STYLES");
    EXPECT_FALSE(gs_state.curve_styles[1].line);
    EXPECT_TRUE(gs_state.curve_styles[2].line);
    Status restored = kStatusGood;
    GS_SET_CURVESTYLE(2, true, true, true, restored);
  }
  float* const current = a.data;
  EXPECT_EQ(run("EXCHANGE"), "IMAGE");
  EXPECT_EQ(a.mdata, current);
  EXPECT_EQ(a.xstrelm, 2);  // the stored region came with the memory
  a.data[0] = -5.0f;
  EXPECT_EQ(run("RECALL"), "FIT");
  EXPECT_EQ(a.data[0], 11.0f);
}

TEST_F(Dispatcher, V2cTwiceRestoresDataAndVariances) {
  make(2, 2, false, true);
  float* const data = vosq_kzt_arrays.data;
  float* const variances = vosq_kzt_arrays.variances;
  run("V2C");
  EXPECT_EQ(vosq_kzt_arrays.data, variances);
  run("V2C");
  EXPECT_EQ(vosq_kzt_arrays.data, data);
  EXPECT_EQ(vosq_kzt_arrays.variances, variances);
}

TEST_F(Dispatcher, DimensionsReallocatesOnlyAfterEveryAnswer) {
  make(4, 3, true, false);
  sets.memory_defined = true;
  bool mask_exist = false;
  Status status = kStatusGood;
  kzt_create_mask(mask_exist, status);
  sets.mask_exist = true;
  vosq_kzt_arrays.mask[0] = 1;
  TerminalCapture terminal;
  {
    // An escape at the last question keeps everything.
    float* const data = vosq_kzt_arrays.data;
    ScriptedInput input({"6", "5", "NO", "\\\\"});
    run("DIMENSIONS", status);
    EXPECT_EQ(status, kStatusEscape);
    EXPECT_EQ(vosq_kzt_arrays.data, data);
    EXPECT_EQ(vosq_kzt_arrays.xmaxdat, 4);
    EXPECT_EQ(at(vosq_kzt_arrays.data, 4, 3), 43.0f);
    EXPECT_TRUE(sets.data_defined);
    EXPECT_TRUE(sets.memory_exist);
  }
  ScriptedInput input({"6 5 NO YES"});
  status = kStatusGood;
  EXPECT_EQ(run("DIMENSIONS", status), "INPUT DATA");
  ASSERT_EQ(status, kStatusGood);
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(a.xmaxdat, 6);
  EXPECT_EQ(a.ymaxdat, 5);
  EXPECT_EQ(a.mdata, nullptr);
  EXPECT_NE(a.variances, nullptr);
  EXPECT_FALSE(sets.memory_exist);
  EXPECT_TRUE(sets.variances_exist);
  EXPECT_FALSE(sets.data_defined);
  EXPECT_FALSE(sets.memory_defined);
  ASSERT_EQ(kzt_mask().size(), 30u);
  EXPECT_EQ(kzt_mask()[0], 0);  // the mask was re-created empty
  EXPECT_LE(a.xendelm, a.xmaxdat);
}

TEST_F(Dispatcher, ExitAsksForConfirmationUnlessFromTheGraphicalInterface) {
  make(2, 2, true, false);
  TerminalCapture terminal;
  {
    ScriptedInput input({"NO"});
    EXPECT_EQ(run("QUIT"), "INPUT DATA");
    EXPECT_TRUE(continue_flag);
  }
  {
    ScriptedInput input({"YES"});
    run("EXIT");
    EXPECT_FALSE(continue_flag);
  }
  continue_flag = true;
  from_gui = true;
  ScriptedInput input({});
  run("EXIT");
  EXPECT_FALSE(continue_flag);
  EXPECT_TRUE(input.prompts.empty());
}

TEST_F(Dispatcher, TitleAndLabels) {
  make(2, 2, true, false);
  TerminalCapture terminal;
  ScriptedInput input({"Powder pattern", "2-theta", "Counts"});
  EXPECT_EQ(run("TITLE"), "IMAGE");
  EXPECT_EQ(run("X-AXIS LABEL"), "IMAGE");
  run("Z-AXIS LABEL");
  EXPECT_EQ(sets.title, "Powder pattern");
  EXPECT_EQ(sets.xlabel, "2-theta");
  EXPECT_EQ(sets.zlabel, "Counts");
  EXPECT_EQ(sets.ylabel, "");
}

// Memory running out inside a command (here while its answer is read) ends
// that command with the memory-allocation status; the session goes on.
TEST_F(Dispatcher, AllocationFailureEndsOnlyTheCommand) {
  make(2, 2, true, false);
  sets.title = "kept";
  TerminalCapture terminal;
  io_set_line_source([](std::string_view, std::string&) -> bool { throw std::bad_alloc(); });
  Status status = kStatusGood;
  run("TITLE", status);
  io_set_line_source({});
  EXPECT_EQ(status, 11002);
  EXPECT_EQ(sets.title, "kept");
  EXPECT_EQ(at(vosq_kzt_arrays.data, 2, 2), 22.0f);
  EXPECT_NE(terminal.text().find("WARNING: Not enough memory for \"TITLE\""), std::string::npos)
      << terminal.text();
  ScriptedInput input({"Next"});
  status = kStatusGood;
  run("TITLE", status);
  EXPECT_EQ(sets.title, "Next");
}

TEST_F(Dispatcher, LogCommands) {
  make(2, 2, true, false);
  TempDir dir;
  TerminalCapture terminal;
  EXPECT_EQ(run("CLOSE LOG"), "OPEN LOG");
  EXPECT_NE(terminal.text().find("WARNING: Log file is not open"), std::string::npos);
  ScriptedInput input({dir.file("run.log")});
  EXPECT_EQ(run("OPEN LOG"), "INPUT DATA");
  EXPECT_TRUE(sets.log_file_open);
  run("OPEN LOG");
  EXPECT_NE(terminal.text().find("WARNING: Log file is already open"), std::string::npos);
  run("INFORMATION");
  EXPECT_EQ(run("CLOSE LOG"), "EXIT");
  EXPECT_FALSE(sets.log_file_open);
  EXPECT_NE(
      kesta::testing::file_contents(dir.file("run.log")).find("INFO: Current data is defined"),
      std::string::npos);
}

// The keyboard loop.

class Keyboard : public DataSetFixture {
 protected:
  std::string loop(bool from_gui, Status& status) {
    TerminalCapture terminal;
    KZT_KEYBOARD(from_gui, sets, status);
    return terminal.text();
  }
  void replay(const std::string& macro) {
    std::FILE* f = std::fopen(dir.file("in.mac").c_str(), "w");
    std::fputs(macro.c_str(), f);
    std::fclose(f);
    std::string name = dir.file("in.mac");
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, name, status);
    ASSERT_EQ(status, kStatusGood);
  }
  TempDir dir;
};

TEST_F(Keyboard, ProposesDefaultsAndKeepsThemAfterAnAssignment) {
  make(3, 3, true, false);
  sets.data_defined = false;
  ScriptedInput input({"FULL REGION", "INFO", "abc = 5", "EXIT", "YES"});
  Status status = kStatusGood;
  loop(false, status);
  EXPECT_EQ(status, kStatusGood);
  ASSERT_GE(input.prompts.size(), 4u);
  EXPECT_EQ(input.prompts[0], "Main menu: ENTER COMMAND [INPUT DATA]:");
  EXPECT_EQ(input.prompts[1], "Main menu: ENTER COMMAND [INPUT DATA]:");
  EXPECT_EQ(input.prompts[2], "Main menu: ENTER COMMAND [DIMENSIONS]:");
  EXPECT_EQ(input.prompts[3], "Main menu: ENTER COMMAND [DIMENSIONS]:");
}

// A 3-D surface or contour plot refused for its data draws nothing: the next
// proposal is the one before it, not PRINT GRAPHICS of nothing.
TEST_F(Keyboard, RefusedDrawingKeepsTheProposalBeforeIt) {
  make(8, 6, false, false);
  sets.data_defined = true;
  sets.graphics_on = true;
  KztArrays& a = vosq_kzt_arrays;
  std::fill(a.data, a.data + 8 * 6, std::numeric_limits<float>::quiet_NaN());
  ScriptedInput input({"3-D SURFACE PLOT", "CONTOUR PLOT", "FULL REGION", "3-D SURFACE PLOT",
                       "EXIT", "YES"});
  Status status = kStatusGood;
  const std::string out = loop(false, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(out.find("WARNING: No finite data value in the region to draw as a 3-D surface"),
            std::string::npos)
      << out;
  ASSERT_GE(input.prompts.size(), 5u);
  EXPECT_EQ(input.prompts[1], "Main menu: ENTER COMMAND [INPUT DATA]:");
  EXPECT_EQ(input.prompts[2], "Main menu: ENTER COMMAND [INPUT DATA]:");
  EXPECT_EQ(input.prompts[3], "Main menu: ENTER COMMAND [OUTPUT DATA]:");
  EXPECT_EQ(input.prompts[4], "Main menu: ENTER COMMAND [OUTPUT DATA]:");
}

TEST_F(Keyboard, MissingVariancesWarnButLetTheMacroGoOn) {
  make(3, 3, true, false);
  replay("V2C\nINFORMATION\n");
  ScriptedInput input({"EXIT", "YES"});
  Status status = kStatusGood;
  const std::string out = loop(false, status);
  EXPECT_NE(out.find("WARNING: No variance arrays exist at the moment, you must \"EXIT\" and\n"
                     "         restart with error arrays  defined\n"),
            std::string::npos);
  EXPECT_NE(out.find("INFO: Program arrays have          3 elements"), std::string::npos);
  EXPECT_EQ(out.find("Macro automatically terminated"), std::string::npos);
}

TEST_F(Keyboard, BadStatusIsReportedAndNoEndsTheLoop) {
  make(3, 3, true, false);
  ScriptedInput input({"TITLE", "\\\\", "NO"});
  Status status = kStatusGood;
  const std::string out = loop(false, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_NE(out.find("STATUS: The \"status\" value is set to the user escape value"),
            std::string::npos);
  EXPECT_EQ(input.prompts.back(), "RESET \"status\" [YES]:");
  EXPECT_EQ(input.remaining(), 0u);
}

TEST_F(Keyboard, AssignmentAtACommandQuestionIsNoFailure) {
  make(3, 3, true, false);
  ScriptedInput input({"EXIT", "answer = 42", "YES"});
  Status status = kStatusGood;
  const std::string out = loop(false, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(out.find("STATUS:"), std::string::npos) << out;
  // The question is asked again, and its answer ends the loop.
  EXPECT_EQ(input.prompts, (std::vector<std::string>{"Main menu: ENTER COMMAND [INPUT DATA]:",
                                                     "CONFIRM EXIT [NO]:", "CONFIRM EXIT [NO]:"}));
  EXPECT_EQ(input.remaining(), 0u);
}

// Left for the window's menus where there is no window (closed, or never
// opened), the questions stay at the terminal: no line says they moved to
// the window (it is said where the window is open).
TEST_F(Keyboard, ExitFromTheGraphicalInterfaceHandsControlBack) {
  make(3, 3, true, false);
  ScriptedInput input({"EXIT"});
  Status status = kStatusGood;
  const std::string out = loop(true, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(out.find("graphics window"), std::string::npos) << out;
  EXPECT_EQ(input.remaining(), 0u);
}

}  // namespace

namespace kesta {
namespace {

// The keyboard help describes exactly the commands of the table: each name in
// double quotes, underlined, "?" first and the rest in alphabetical order.
TEST(KeyboardHelp, DescribesEveryCommandInOrder) {
  std::vector<std::string> expected(kzt_command_names().begin() + 1, kzt_command_names().end());
  std::sort(expected.begin(), expected.end());
  expected.insert(expected.begin(), "?");
  ASSERT_EQ(kzt_command_names().front(), "?");
  std::vector<std::string> described;
  const std::span<const std::string> help = kzt_help_text();
  for (std::size_t k = 0; k + 1 < help.size(); ++k) {
    const std::string& line = help[k];
    if (line.size() < 3 || line.front() != '"' || line.back() != '"') continue;
    if (help[k + 1] != std::string(line.size(), '-')) continue;
    described.push_back(line.substr(1, line.size() - 2));
  }
  EXPECT_EQ(described, expected);
  EXPECT_EQ(described.size(), 129u);
}

}  // namespace
}  // namespace kesta
