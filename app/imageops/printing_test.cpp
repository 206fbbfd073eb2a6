#include "app/imageops/printing.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "app/imageops/imageops_graphics_test_support.hpp"
#include "core/io_output.hpp"
#include "core/test_support.hpp"
#include "graphics/device/device_test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

// The drawn area of each page of a PostScript file as Ghostscript's bounding
// box device measures it (x1 y1 x2 y2 in points; all 0 for a blank page).
std::vector<std::array<int, 4>> page_boxes(const std::string& path) {
  const std::string command =
      "timeout 60 gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox \"" + path + "\" 2>&1";
  std::vector<std::array<int, 4>> boxes;
  std::FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return boxes;
  char line[256];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    std::array<int, 4> b{};
    if (std::sscanf(line, "%%%%BoundingBox: %d %d %d %d", &b[0], &b[1], &b[2], &b[3]) == 4)
      boxes.push_back(b);
  }
  pclose(out);
  return boxes;
}

struct Printing : kesta::testing::NoWindowGraphics {
  static constexpr Index kX = 16, kY = 12;
  std::vector<float> data = std::vector<float>(kX * kY), xaxis = std::vector<float>(kX),
                     yaxis = std::vector<float>(kY);
  kesta::testing::TempDir dir;
  void SetUp() override {
    NoWindowGraphics::SetUp();
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = static_cast<float>(x * y);
    for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  }
  void print(bool gui, std::string_view kind, Index ye, Status& status) {
    KZT_PRINT(gui, kind, false, kX, kY, xaxis, yaxis, data, {}, {}, "Title", "X", "Y", "Z", false,
              1, 1, kX, ye, status);
  }
};

TEST_F(Printing, EachKindDrawsAPageAndKeyboardPagesShareOneFile) {
  const std::string path = dir.file("all.ps");
  ScriptedInput input({path});
  TerminalCapture terminal;
  Status status = kStatusGood;
  for (const std::string_view kind :
       {"image   ", "masked_image", "contour", "3-d surface", "3-d lines", "x/y graph"})
    print(false, kind, kind == "x/y graph" ? 1 : kY, status);
  ASSERT_EQ(status, kStatusGood);
  GS_CLOSE_PS(status);
  ASSERT_EQ(status, kStatusGood);
  const auto boxes = page_boxes(path);
  ASSERT_EQ(boxes.size(), 6u) << terminal.text();
  for (const auto& b : boxes) EXPECT_GT((b[2] - b[0]) * (b[3] - b[1]), 1000);
}

// The rows of a data set printed as graphs take a page each, as the window
// shows them one at a time (CONTINUE between them); a NO there ends the
// print with the pages drawn so far.
TEST_F(Printing, EachRowGraphIsItsOwnPage) {
  Status status = kStatusGood;
  for (const bool gui : {false, true}) {
    const std::string path = dir.file(gui ? "window.ps" : "rows.ps");
    {
      ScriptedInput input({path, "YES", "YES"});
      TerminalCapture terminal;
      print(gui, "x/y graph", 3, status);
      ASSERT_EQ(status, kStatusGood);
      if (!gui) {
        EXPECT_NE(terminal.text().find("INFO: Pages 1 to 3 added to the graphics file"),
                  std::string::npos)
            << terminal.text();
      }
      gs_end_graphics_file(status);
    }
    const auto boxes = page_boxes(path);
    ASSERT_EQ(boxes.size(), 3u) << path;
    for (const auto& b : boxes) EXPECT_GT((b[2] - b[0]) * (b[3] - b[1]), 1000);
  }
  {
    const std::string path = dir.file("first.ps");
    ScriptedInput input({path, "NO"});
    TerminalCapture terminal;
    print(false, "x/y graph", 3, status);
    ASSERT_EQ(status, kStatusGood);
    gs_end_graphics_file(status);
    EXPECT_EQ(page_boxes(path).size(), 1u);
  }
  // A row without a finite value is said and takes no page (no empty graph
  // between the others).
  for (Index x = 1; x <= kX; ++x) data[element(x, 2, kX)] = std::numeric_limits<float>::quiet_NaN();
  {
    const std::string path = dir.file("gap.ps");
    ScriptedInput input({path, "YES", "YES"});
    TerminalCapture terminal;
    print(false, "x/y graph", 3, status);
    ASSERT_EQ(status, kStatusGood);
    gs_end_graphics_file(status);
    EXPECT_NE(terminal.text().find("WARNING: No finite data value in row 2 to plot\n"),
              std::string::npos)
        << terminal.text();
    const auto boxes = page_boxes(path);
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& b : boxes) EXPECT_GT((b[2] - b[0]) * (b[3] - b[1]), 1000);
  }
  // A 3-D surface under logarithmic scaling chosen after it was drawn, of
  // heights all below zero: one line, no page, status good.
  {
    std::vector<float> kept = data;
    for (float& v : data) v = -1.0f - v;
    QG_SET_LOGZSCALING(true, status);
    const std::string path = dir.file("log.ps");
    ScriptedInput input({path});
    TerminalCapture terminal;
    print(false, "3-d surface", kY, status);
    QG_SET_LOGZSCALING(false, status);
    ASSERT_EQ(status, kStatusGood);
    gs_end_graphics_file(status);
    EXPECT_EQ(terminal.text().find("STATUS"), std::string::npos) << terminal.text();
    EXPECT_NE(terminal.text().find(
                  "WARNING: Logarithmic scaling demanded of data which is all below zero !\n"),
              std::string::npos)
        << terminal.text();
    EXPECT_FALSE(std::filesystem::exists(path));
    data = kept;
  }
  // Data without a finite value give no page of any kind but the image,
  // whose bad pixels show: said, and no file left that would hold none.
  std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
  for (const std::string_view kind : {"contour", "3-d surface", "3-d lines", "x/y graph"}) {
    const std::string path = dir.file("none.ps");
    ScriptedInput input({path});
    TerminalCapture terminal;
    print(false, kind, kind == "x/y graph" ? 1 : kY, status);
    ASSERT_EQ(status, kStatusGood) << kind;
    gs_end_graphics_file(status);
    EXPECT_NE(terminal.text().find("WARNING: No finite data value in the region to print\n"),
              std::string::npos)
        << kind << terminal.text();
    EXPECT_EQ(terminal.text().find("added"), std::string::npos) << kind << terminal.text();
    EXPECT_FALSE(std::filesystem::exists(path)) << kind;
  }
}

// A kind of graphics that nothing draws is said as a warning: no page is added,
// nothing says it was written, a file that would hold no page is not left
// (an old one stays as it was) and a keyboard file keeps its pages.
TEST_F(Printing, GraphicalPrintClosesItsFileAndFailuresStayGood) {
  const std::string path = dir.file("one.ps");
  Status status = kStatusGood;
  const auto unknown_kind = [&](bool gui, const std::string& file) {
    ScriptedInput input({file});
    TerminalCapture terminal;
    print(gui, "unknown", kY, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: Unknown type of graphics to output\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("Finished writing graphics file"), std::string::npos) << out;
  };
  unknown_kind(true, path);
  EXPECT_FALSE(std::filesystem::exists(path));
  {
    ScriptedInput input({path});
    TerminalCapture terminal;
    print(true, "image", kY, status);
  }
  bool open = true;
  GS_INQ_PSFILE(open, status);
  EXPECT_FALSE(open);
  EXPECT_EQ(page_boxes(path).size(), 1u);
  const std::string before = kesta::testing::read_file(path);
  unknown_kind(true, path);
  EXPECT_EQ(kesta::testing::read_file(path), before);

  const std::string pages = dir.file("pages.ps");
  {
    ScriptedInput input({pages});
    TerminalCapture terminal;
    print(false, "image", kY, status);
  }
  unknown_kind(false, "");
  GS_INQ_PSFILE(open, status);
  EXPECT_TRUE(open);
  GS_CLOSE_PS(status);
  EXPECT_EQ(page_boxes(pages).size(), 1u);
  EXPECT_NE(kesta::testing::read_file(pages).find("% End of PostScript file"), std::string::npos);

  ScriptedInput input({dir.file("missing/dir/x.ps")});
  TerminalCapture terminal;
  print(false, "image", kY, status);
  EXPECT_EQ(status, kStatusGood);
}

// A page drawn into the keyboard's file, which stays open for more, is said
// to be added, never finished: only a temporary copy exists until the file
// is closed, which says it is finished, naming it and its pages. A window
// print closes its file and says so. The next keyboard print proposes no
// file: Return there, or the user escape, stores nothing and leaves the
// finished file as it was.
TEST_F(Printing, KeyboardPagesAreAddedAndReturnStoresNoFile) {
  const std::string path = dir.file("pages.ps");
  const std::string added = "\": the file is written when it is closed (END GRAPHICS FILE, a "
                            "PRINT in the graphics window, or the end of the session)\n";
  Status status = kStatusGood;
  {
    ScriptedInput input({path});
    TerminalCapture terminal;
    print(false, "image", kY, status);
    print(false, "contour", kY, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("INFO: Page 1 added to the graphics file \"" + path + added),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("INFO: Page 2 added to the graphics file \"" + path + added),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Finished"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  {
    // END GRAPHICS FILE: the file is whole, and said to be, once.
    TerminalCapture terminal;
    gs_end_graphics_file(status);
    gs_end_graphics_file(status);
    EXPECT_EQ(terminal.text(),
              "INFO: Finished writing graphics file \"" + path + "\" (2 pages)\n");
  }
  EXPECT_EQ(page_boxes(path).size(), 2u);
  const std::string kept = kesta::testing::read_file(path);
  for (const char* answer : {"", "\\\\"}) {
    ScriptedInput input({answer});
    TerminalCapture terminal;
    print(false, "image", kY, status);
    EXPECT_EQ(status, *answer == '\0' ? kStatusGood : kStatusEscape);
    st_reset(status);
    ASSERT_EQ(input.prompts.size(), 1u);
    EXPECT_EQ(input.prompts[0].find('['), std::string::npos) << input.prompts[0];
    EXPECT_EQ(terminal.text().find("Writing graphics file"), std::string::npos) << terminal.text();
    bool open = true;
    GS_INQ_PSFILE(open, status);
    EXPECT_FALSE(open);
    EXPECT_EQ(kesta::testing::read_file(path), kept);
  }
  // The window's print is finished under its name before it is said to be.
  const std::string single = dir.file("single.ps");
  ScriptedInput input({single});
  TerminalCapture terminal;
  print(true, "image", kY, status);
  EXPECT_NE(terminal.text().find("INFO: Finished writing graphics file \"" + single +
                                 "\" (1 page)\n"),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(terminal.text().find("added"), std::string::npos);
  EXPECT_EQ(page_boxes(single).size(), 1u);
}

// A window print while the keyboard's file is open adds its page to that
// file and closes it: one line says so, naming the file and all its pages.
TEST_F(Printing, AWindowPrintClosesTheKeyboardFileAndSaysItsPages) {
  const std::string path = dir.file("kept.ps");
  Status status = kStatusGood;
  {
    ScriptedInput input({path});
    TerminalCapture terminal;
    print(false, "image", kY, status);
    print(false, "contour", kY, status);
  }
  ScriptedInput input(std::vector<std::string>{});
  TerminalCapture terminal;
  print(true, "3-d surface", kY, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(input.prompts.empty());
  const std::string out = terminal.text();
  EXPECT_NE(out.find("INFO: Finished writing graphics file \"" + path + "\" (3 pages)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Finished"), out.rfind("Finished")) << out;
  bool open = true;
  GS_INQ_PSFILE(open, status);
  EXPECT_FALSE(open);
  EXPECT_EQ(page_boxes(path).size(), 3u);
}

// A name that cannot be opened for writing (a folder) is refused when it is
// given, with the reason; a page that cannot be written is said at that page
// and its copy given up. Neither is followed by "Finished writing graphics file".
TEST_F(Printing, AFileThatCannotTakeThePageIsSaidAtThatPage) {
  const auto copy_open = [] {
    bool open = true;
    Status local = kStatusGood;
    GS_INQ_PSFILE(open, local);
    return open;
  };
  {
    ScriptedInput input({dir.path().string()});
    TerminalCapture terminal;
    Status status = kStatusGood;
    print(false, "image", kY, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: Error in opening file " + dir.path().string() +
                       ": it is a directory, not a file"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Failed to open ASCII text file"), std::string::npos) << out;
    EXPECT_EQ(out.find("Writing graphics file"), std::string::npos) << out;
    EXPECT_EQ(out.find("Finished writing graphics file"), std::string::npos) << out;
    EXPECT_FALSE(copy_open());
  }
  // So is a named pipe that nothing reads: it cannot be opened for writing.
  {
    const std::string pipe = dir.file("pipe.ps");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ScriptedInput input({pipe});
    TerminalCapture terminal;
    Status status = kStatusGood;
    print(false, "image", kY, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: Error in opening file " + pipe +
                       ": it is a named pipe that nothing reads"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Writing graphics file"), std::string::npos) << out;
    EXPECT_FALSE(copy_open());
    std::filesystem::remove(pipe);
  }
  // A device without room, and a file that grows past what the system allows
  // (standing in for a full disk; its write fails inside the page, where the
  // file layer gives the system's code): said at the page; the next print
  // asks for a file again.
  const std::string limited = dir.file("limited.ps");
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/full", "writing to it failed: No space left on device"},
      {limited, "writing failed: File too large, so no file was written"},
  };
  // The limit lets the file's opening lines through, not its page.
  long opening = 0;
  {
    ScriptedInput input({dir.file("probe.ps")});
    TerminalCapture terminal;
    Status status = kStatusGood;
    bool opened = false;
    GS_ON_PRINT(false, opened, status);
    ASSERT_TRUE(opened);
    std::fflush(io_stream(kStreamPostScript));
    opening = std::ftell(io_stream(kStreamPostScript));
    GS_CLOSE_PS(status);
    std::filesystem::remove(dir.file("probe.ps"));
  }
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_signal = std::signal(SIGXFSZ, SIG_IGN);
  for (const auto& [path, reason] : cases) {
    ScriptedInput input({path});
    TerminalCapture terminal;
    Status status = kStatusGood;
    rlimit limit = old_limit;
    limit.rlim_cur = static_cast<rlim_t>(opening + 256);
    if (path == limited) {
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    print(false, "image", kY, status);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    EXPECT_EQ(status, 11010) << path;
    const std::string out = terminal.text();
    EXPECT_NE(out.find("ERROR: The PostScript file \"" + path + "\" could not be written: " + reason),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Finished writing graphics file"), std::string::npos) << out;
    // The copy's line alone: the line of the page that failed is not said
    // again by the stream's own report.
    EXPECT_EQ(out.find("ERROR: Failed to output ASCII text"), std::string::npos) << out;
    EXPECT_EQ(out.find("IOSTAT"), std::string::npos) << out;
    EXPECT_FALSE(copy_open()) << path;
  }
  std::signal(SIGXFSZ, old_signal);
  EXPECT_FALSE(std::filesystem::exists(limited));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);

  ScriptedInput input({dir.file("good.ps")});
  TerminalCapture terminal;
  Status status = kStatusGood;
  print(false, "image", kY, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("INFO: Page 1 added to the graphics file"), std::string::npos);
  GS_CLOSE_PS(status);
  EXPECT_EQ(page_boxes(dir.file("good.ps")).size(), 1u);
}

// A page that fails after others were finished keeps them: past a file-size
// limit (in a child, which alone takes the limit) the second page fails
// and the file is the first page, closed as a whole document, as the line
// says with the system's cause; the next print asks for a file again. A
// device gets its pages through a spool file, which meets the limit.
TEST_F(Printing, ASecondPagePastTheSizeLimitKeepsTheFirstAsADocument) {
  const std::string said = dir.file("said.txt");
  const auto second_page_past_limit = [&](const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      ScriptedInput input({path});
      TerminalCapture terminal;
      Status status = kStatusGood;
      print(false, "image", kY, status);
      std::fflush(io_stream(kStreamPostScript));
      rlimit limit{};
      ::getrlimit(RLIMIT_FSIZE, &limit);
      const rlimit old_limit = limit;
      limit.rlim_cur = static_cast<rlim_t>(std::ftell(io_stream(kStreamPostScript)) + 256);
      if (status != kStatusGood || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
      print(false, "contour", kY, status);
      ::setrlimit(RLIMIT_FSIZE, &old_limit);
      bool open = true;
      Status local = kStatusGood;
      GS_INQ_PSFILE(open, local);
      std::FILE* out = std::fopen(said.c_str(), "w");
      std::fputs(terminal.text().c_str(), out);
      std::fclose(out);
      ::_exit(status == 11010 && !open ? 0 : 3);
    }
    int wait_status = 0;
    EXPECT_EQ(::waitpid(child, &wait_status, 0), child);
    const std::string out = kesta::testing::read_file(said);
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << out;
    // The first page was added; the file is never said to be finished.
    EXPECT_NE(out.find("INFO: Page 1 added to the graphics file \"" + path + "\""),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Page 2 added"), std::string::npos) << out;
    EXPECT_EQ(out.find("Finished writing graphics file"), std::string::npos) << out;
    return out;
  };

  const std::string path = dir.file("u.ps");
  std::string out = second_page_past_limit(path);
  EXPECT_NE(out.find("ERROR: The PostScript file \"" + path +
                     "\" could not take page 2 (writing failed: File too large), so it holds "
                     "page 1 only"),
            std::string::npos)
      << out;
  EXPECT_TRUE(kesta::testing::gs_syntax_ok(path));
  const auto boxes = page_boxes(path);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_GT((boxes[0][2] - boxes[0][0]) * (boxes[0][3] - boxes[0][1]), 1000);
  const std::string text = kesta::testing::read_file(path);
  EXPECT_EQ(text.substr(text.size() - 34), "showpage\n% End of PostScript file\n");

  out = second_page_past_limit("/dev/null");
  EXPECT_NE(out.find("ERROR: The PostScript file \"/dev/null\" could not take page 2 (its spool "
                     "file could not be written: File too large), so it holds page 1 only"),
            std::string::npos)
      << out;
}

// A device's pages go through a spool file in the temporary folder: where
// that folder is not there, the print is refused with the cause and the
// session goes on.
TEST_F(Printing, ASpoolWithoutATemporaryFolderIsRefusedWithItsCause) {
  const char* kept = std::getenv("TMPDIR");
  const std::string old = kept != nullptr ? kept : "";
  ::setenv("TMPDIR", dir.file("no-such-folder").c_str(), 1);
  ScriptedInput input({"/dev/null"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  print(false, "image", kY, status);
  if (kept != nullptr)
    ::setenv("TMPDIR", old.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  EXPECT_NE(terminal.text().find("its spool file could not be made: No such file or directory"),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(terminal.text().find("Finished writing graphics file"), std::string::npos);
}

TEST_F(Printing, PostscriptOptionsToggleColour) {
  TerminalCapture terminal;
  Status status = kStatusGood;
  bool colour = false;
  int second = 0, third = 0;
  GS_INQ_POSTSCRIPT(colour, second, third, status);
  KZT_POSTSCRIPT(status);
  KZT_POSTSCRIPT(status);
  bool after = !colour;
  GS_INQ_POSTSCRIPT(after, second, third, status);
  EXPECT_EQ(after, colour);
  const std::string first = colour ? "INFO: Black and white PostScript output will be produced"
                                   : "INFO: Colour PostScript output will be produced";
  const std::string text = terminal.text();
  EXPECT_LT(text.find(first), text.rfind(colour ? "INFO: Colour" : "INFO: Black"));
  EXPECT_NE(text.find("WARNING: The user input may change for this option"), std::string::npos);
}

}  // namespace
