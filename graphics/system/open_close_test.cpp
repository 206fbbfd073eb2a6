// Command-line graphics options and PostScript copies: the same drawing
// into a file, copies sharing one file, the closing lines, failures.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/system.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::PageFixture;

struct PrintTest : PageFixture {
  testing::TempDir dir;
  std::vector<float> data, xaxis, yaxis;
  void SetUp() override {
    PageFixture::SetUp();
    testing::reset_dialogue();
    data.resize(64 * 32);
    for (Index y = 1; y <= 32; ++y)
      for (Index x = 1; x <= 64; ++x) data[element(x, y, 64)] = static_cast<float>(x);
    for (int i = 0; i < 64; ++i) xaxis.push_back(static_cast<float>(i) + 0.5f);
    for (int i = 0; i < 32; ++i) yaxis.push_back(static_cast<float>(i) + 0.5f);
  }
  void TearDown() override {
    Status s = kStatusGood;
    GS_CLOSE_PS(s);
    PageFixture::TearDown();
  }
  void draw_image(Status& s) {
    GS_PLOT(64, 32, data, xaxis, yaxis, 1, 1, 64, 32, "Ramp", "X", "Y", "Z", s);
  }
  void draw_graph(Status& s) {
    GS_PLOT(64, 32, data, xaxis, yaxis, 1, 5, 64, 5, "Row", "X", "Y", "Z", s);
  }
  // Opens a copy, answering the file prompt with NAME when it is asked.
  bool on_print(const std::string& name, Status& s, std::size_t* asked = nullptr) {
    testing::ScriptedInput input({name});
    bool opened = false;
    GS_ON_PRINT(false, opened, s);
    if (asked) *asked = input.prompts.size();
    return opened;
  }
  // A copy to PATH, opened and drawn, fails at the close for REASON.
  void expect_copy_refused(const std::string& path, const std::string& reason) {
    testing::TerminalCapture terminal;
    Status s = kStatusGood;
    ASSERT_TRUE(on_print(path, s));
    draw_image(s);
    GS_OFF_PRINT(s);
    GS_CLOSE_PS(s);
    EXPECT_EQ(s, 11010);
    EXPECT_NE(terminal.text().find("ERROR: The PostScript file \"" + path +
                                   "\" could not be written: " + reason),
              std::string::npos)
        << terminal.text();
  }
  std::vector<std::string> last_lines(const std::string& path, std::size_t n) {
    const auto lines = testing::read_lines(path);
    return {lines.end() - static_cast<std::ptrdiff_t>(n), lines.end()};
  }
};

TEST_F(PrintTest, CommandLineOptions) {
  struct Case {
    std::vector<const char*> argv;
    int colours;
    int format;
    bool warned;
  };
  const Case cases[] = {
      {{"kesta", "-col8"}, 16, 0, false},
      {{"kesta", "-COLOURS1000", "-dim100x100"}, 256, 0, false},
      {{"kesta", "-COLOURS", "64"}, 108, 0, true},
      {{"kesta", "land", "+dform"}, 108, 1, false},
  };
  for (const Case& c : cases) {
    io_set_args(static_cast<int>(c.argv.size()), c.argv.data());
    testing::TerminalCapture terminal;
    gs_state = GsState{};
    Status s = kStatusGood;
    GS_OPEN_NOTERM(s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(gs_state.colour_cells, c.colours) << c.argv[1];
    EXPECT_EQ(gs_state.window_format, c.format) << c.argv[1];
    EXPECT_EQ(terminal.text().find("WARNING: Bad command line option") != std::string::npos,
              c.warned)
        << c.argv[1];
  }
  EXPECT_TRUE(gs_state.form_document);
  EXPECT_FLOAT_EQ(gs_state.gpp.ymax, 0.6071f);
  const char* none[] = {"kesta"};
  io_set_args(1, none);
}

TEST_F(PrintTest, CopiesShareOneFileUntilClosed) {
  const std::string path = dir.path().string() + "/copy.ps";
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  std::size_t asked = 0;
  ASSERT_TRUE(on_print(path, s, &asked)) << s << " " << terminal.text();
  EXPECT_EQ(asked, 1u);
  draw_image(s);
  GS_OFF_PRINT(s);
  EXPECT_TRUE(items.empty());  // the screen saw nothing of the copy
  ASSERT_TRUE(on_print("not asked", s, &asked));
  EXPECT_EQ(asked, 0u);
  draw_graph(s);
  GS_OFF_PRINT(s);
  ASSERT_EQ(s, kStatusGood);
  // Until closed, the copy is a temporary file; the target does not exist.
  EXPECT_FALSE(std::filesystem::exists(path));
  GS_CLOSE_PS(s);
  GS_CLOSE_PS(s);  // nothing open: nothing happens
  ASSERT_EQ(s, kStatusGood);
  EXPECT_NE(terminal.text().find("INFO: Writing graphics file: Please wait"), std::string::npos);

  const std::string text = testing::read_file(path);
  std::size_t pages = 0;
  for (std::size_t at = text.find("\nshowpage\n"); at != std::string::npos;
       at = text.find("\nshowpage\n", at + 1))
    ++pages;
  EXPECT_EQ(pages, 2u);
  EXPECT_EQ(last_lines(path, 2),
            (std::vector<std::string>{"showpage", "% End of PostScript file"}));
  EXPECT_TRUE(testing::gs_syntax_ok(path));

  // The ramp runs dark to light in the grey-scale scheme from left to right.
  GS_SET_LUTCHOICE(3, 64, s);
  GS_COLOURS(s);
  const std::string grey = dir.path().string() + "/grey.ps";
  ASSERT_TRUE(on_print(grey, s));
  draw_image(s);
  GS_OFF_PRINT(s);
  GS_CLOSE_PS(s);
  const testing::Rendered r = testing::gs_render(grey);
  ASSERT_TRUE(r.ok);
  // The image lies inside the graph page position, 0.1..0.6071 of the width.
  const int y = static_cast<int>(r.height * (1.0 - 0.55));
  const int left = r.at(static_cast<int>(r.width * 0.15), y)[0];
  const int right = r.at(static_cast<int>(r.width * 0.55), y)[0];
  EXPECT_LT(left + 100, right);
}

TEST_F(PrintTest, ClosingLinesInBothPageFormats) {
  struct Case {
    bool landscape;
    bool end_page;
    std::vector<std::string> tail;
  };
  const Case cases[] = {
      {false, true, {"showpage", "% End of PostScript file"}},
      {false, false, {"showpage", "% End of PostScript file"}},
      {true, true, {"showpage", "0.1 0.1 scale", "% End of PostScript file"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    Status s = kStatusGood;
    gs_state.window_format = c.landscape ? 1 : 0;
    const std::string path = dir.path().string() + "/page" + std::to_string(n++) + ".ps";
    ASSERT_TRUE(on_print(path, s));
    draw_image(s);
    if (c.end_page) GS_OFF_PRINT(s);
    GS_CLOSE_PS(s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(last_lines(path, c.tail.size()), c.tail) << n;
    EXPECT_TRUE(testing::gs_syntax_ok(path)) << n;
  }
  // Grey PostScript whatever the page format.
  Status s = kStatusGood;
  gs_state.ps_colour = false;
  ASSERT_TRUE(on_print(dir.path().string() + "/grey.ps", s));
  EXPECT_EQ(qg_db_system.device_type[static_cast<std::size_t>(qg_find_workstation(2))], 23);
}

TEST_F(PrintTest, APipeNeverSeesTheLineSteppedOver) {
  testing::Watchdog watchdog(60);
  const std::string fifo = dir.path().string() + "/pipe.ps";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reading end is open before the copy is delivered (a pipe nobody
  // reads is refused); the reader takes what comes until the writer is done.
  const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  std::atomic<bool> delivered{false};
  std::string received;
  std::thread reader([fd, &delivered, &received] {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 20);
      const bool done = delivered.load();
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 && done) break;  // the writer closed, and all it wrote is read
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
  });
  Status s = kStatusGood;
  const bool opened = on_print(fifo, s);
  draw_image(s);
  GS_OFF_PRINT(s);
  GS_CLOSE_PS(s);
  delivered = true;
  reader.join();
  ::close(fd);
  ASSERT_TRUE(opened);
  ASSERT_EQ(s, kStatusGood);
  const std::string end = "\nshowpage\n% End of PostScript file\n";
  ASSERT_GE(received.size(), end.size());
  EXPECT_EQ(received.substr(received.size() - end.size()), end);
}

// A pipe that nothing reads is refused when it is named, never waited on.
TEST_F(PrintTest, APipeWithoutAReaderIsRefusedWhenNamed) {
  testing::Watchdog watchdog(60);
  const std::string fifo = dir.path().string() + "/nobody.ps";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  EXPECT_FALSE(on_print(fifo, s));
  EXPECT_EQ(s, 11000);
  EXPECT_FALSE(gs_state.ps_file);
  EXPECT_LT(qg_find_workstation(2), 0);
  EXPECT_NE(terminal.text().find("WARNING: Error in opening file " + fifo +
                                 ": it is a named pipe that nothing reads\n"),
            std::string::npos)
      << terminal.text();
}

// A device that refuses the copy at the close: the system's reason.
TEST_F(PrintTest, ADeviceThatRefusesTheCopyGivesTheReason) {
  expect_copy_refused("/dev/full", "writing to it failed: No space left on device");
}

TEST_F(PrintTest, AFileThatCannotBeOpenedChangesNothing) {
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  const std::string path = dir.path().string() + "/missing/copy.ps";
  EXPECT_FALSE(on_print(path, s));
  EXPECT_EQ(s, 11000);
  EXPECT_FALSE(gs_state.ps_file);
  EXPECT_LT(qg_find_workstation(2), 0);
  // One line, the writers' own, gives the name and the reason: here the
  // missing folder.
  EXPECT_EQ(terminal.text(), "WARNING: Error in opening file " + path +
                                 ": cannot write in the folder \"" + dir.path().string() +
                                 "/missing\": No such file or directory, so no file was written\n");

  // The macro being replayed is refused under any of its names, and says so.
  const std::string macro = dir.path().string() + "/run.mac";
  std::ofstream(macro) << "A\n";
  const std::string link = dir.path().string() + "/link.ps";
  ASSERT_EQ(::symlink("run.mac", link.c_str()), 0);
  Status m = kStatusGood;
  std::string name = macro;
  IO_OPEN_INMACRO(false, name, m);
  ASSERT_EQ(m, kStatusGood);
  for (const std::string& other : {link, dir.path().string() + "/./run.mac"}) {
    testing::TerminalCapture refused;
    Status r = kStatusGood;
    GS_OPEN_PS(other, r);
    EXPECT_EQ(r, 11000);
    EXPECT_FALSE(gs_state.ps_file);
    EXPECT_EQ(refused.text(),
              "WARNING: Error in opening file " + other + ": it is the running macro\n");
  }
  IO_CLOSE_INMACRO(m);
  EXPECT_EQ(testing::file_contents(macro), "A\n");

  // A blank answer opens nothing and leaves the screen active.
  Status t = kStatusGood;
  EXPECT_FALSE(on_print("", t));
  EXPECT_EQ(t, kStatusGood);
  GS_OPEN_PS("  ", t);
  EXPECT_EQ(t, 140033);
}

}  // namespace
}  // namespace kesta
