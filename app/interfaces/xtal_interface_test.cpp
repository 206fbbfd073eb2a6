// The automatic input of the on-line crystallography interface (polling,
// half-written files, the alarm) and its menu driven by typed answers.

#include "app/interfaces/xtal_interface.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/imageops/program_target.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/gui_input.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widget_test_support.hpp"
#include "graphics/system/widgets.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

double fake_time = 0.0;
int sleeps = 0;

struct XtalPolling : testing::PageFixture {
  KztDataSets sets;
  XtalState state;
  std::string button = "STOP INPUT", help = "STOP INPUT: ...", command;
  int mode = 0;
  testing::TempDir dir;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    kzt_xtal_clock() = {[] { return fake_time; }, [](float s) {
                          ++sleeps;
                          fake_time += s;
                        }};
    kzt_xtal_alarm() = XtalAlarm{};
    fake_time = 100.0;
    sleeps = 0;
    sets.input_file = dir.file("frame_001.img");
    state.auto_input = true;
    state.input_mode = 10;
    state.last_poll = state.last_event = state.timeout_reference = fake_time;
  }
  void TearDown() override {
    kzt_xtal_clock() = XtalClock{};
    kzt_xtal_alarm() = XtalAlarm{};
    PageFixture::TearDown();
  }
  // One pass after a read that gave no event: true when it polled.
  bool idle_pass(Status& status) {
    return kzt_xtal_poll(sets, state, kGsChoiceNone, mode, command, button, help, status);
  }
  // Idle passes until the next poll (a second and a half on): its command.
  std::string next_poll(Status& status) {
    fake_time += 1.5;
    for (int i = 0; i < 3; ++i)
      if (idle_pass(status)) return command;
    return "no poll";
  }
};

TEST_F(XtalPolling, CompleteFileTakenAtTheSecondPollHalfWrittenWaits) {
  Status status = kStatusGood;
  // Within the second: no poll, and no sleep while the user was just active.
  fake_time += 0.5;
  EXPECT_FALSE(idle_pass(status));
  EXPECT_EQ(mode, 10);
  EXPECT_EQ(sleeps, 0);
  // Over a second since the last poll: this pass polls (no file yet).
  fake_time += 0.6;
  EXPECT_TRUE(idle_pass(status));
  EXPECT_EQ(command, "null");
  // The pass after a poll reads input; idle reads over a second after the
  // last user event then sleep a second each, until the next poll is due.
  EXPECT_FALSE(idle_pass(status));
  EXPECT_EQ(sleeps, 0);
  EXPECT_FALSE(idle_pass(status));
  EXPECT_EQ(sleeps, 1);
  EXPECT_FALSE(idle_pass(status));  // 1.0 s since the poll: not more than one
  EXPECT_EQ(sleeps, 2);
  EXPECT_TRUE(idle_pass(status));
  EXPECT_FALSE(idle_pass(status));

  // The next file appears in two halves, then stays: taken once its size
  // held from one poll to the next.
  const std::string next = dir.file("frame_002.img");
  { std::ofstream(next) << "first half"; }
  EXPECT_EQ(next_poll(status), "null");
  { std::ofstream(next, std::ios::app) << " and the second half"; }
  EXPECT_EQ(next_poll(status), "null");
  EXPECT_EQ(next_poll(status), "NEXT FILE");
  EXPECT_EQ(status, kStatusGood);

  // An empty file, or a folder of that name, is never taken.
  state.polled_file.clear();
  { std::ofstream(next, std::ios::trunc); }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(next_poll(status), "null");
  std::filesystem::remove(next);
  std::filesystem::create_directory(next);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(next_poll(status), "null");
  // A user event is served at once: no poll, no sleep.
  fake_time += 5.0;
  const int before = sleeps;
  EXPECT_FALSE(idle_pass(status));  // (the pass after the poll reads)
  EXPECT_FALSE(kzt_xtal_poll(sets, state, kGsChoiceButton, mode, command, button, help, status));
  EXPECT_TRUE(idle_pass(status));
  EXPECT_FALSE(idle_pass(status));
  EXPECT_FALSE(idle_pass(status));
  EXPECT_EQ(sleeps, before);
}

TEST_F(XtalPolling, AlarmAfterTheTruncatedTimeoutStopsAutoInput) {
  kzt_xtal_alarm().on = true;
  kzt_xtal_alarm().seconds = 5;
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  // 5.9 s truncates to 5: no alarm yet (a poll instead).
  fake_time = state.timeout_reference + 5.9;
  EXPECT_TRUE(idle_pass(status));
  EXPECT_EQ(command, "null");
  EXPECT_TRUE(state.auto_input);
  idle_pass(status);
  fake_time = state.timeout_reference + 6.0;
  EXPECT_TRUE(idle_pass(status));
  EXPECT_EQ(command, "null");
  EXPECT_FALSE(state.auto_input);
  EXPECT_FALSE(kzt_xtal_alarm().on);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(button, "AUTO INPUT");
  EXPECT_EQ(help, "AUTO INPUT: Automatically input files from a sequence");
  std::string bells;
  for (int i = 0; i < 20; ++i) bells += "\a\n";
  EXPECT_EQ(terminal.text().substr(0, 40), bells);
  EXPECT_NE(terminal.text().find("WARNING: TIME-OUT ALARM: NEW FILE DOESN'T EXIST YET"),
            std::string::npos);
  // Off: nothing more is polled.
  fake_time += 10.0;
  EXPECT_FALSE(idle_pass(status));
}

struct XtalMenuTyped : testing::PageFixture {
  KztDataSets sets;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    kzt_xtal_alarm() = XtalAlarm{};
    Status s = kStatusGood;
    kzt_allocate_arrays(8, 8, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    sets.graphics_on = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    kzt_xtal_alarm() = XtalAlarm{};
    PageFixture::TearDown();
  }
};

TEST_F(XtalMenuTyped, HelpOrderAutoInputToggleAndRefusals) {
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  {
    // Without data: AUTO INPUT is refused with its own box, PEAK SEARCH with
    // the common one. With data: AUTO INPUT asks the alarm (YES, 30 s) and
    // the peak search, becomes STOP INPUT, and STOP INPUT switches back.
    testing::ScriptedInput input({"?", "O.K.", "AUTO INPUT", "PEAK SEARCH", "EXIT"});
    KZT_GUI_XTALLOGRAPHY(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
  }
  EXPECT_EQ(status, kStatusGood);
  const std::string out = terminal.text();
  EXPECT_NE(out.find("NO FILES DEFINED: USE \"INPUT\" TO SELECT A FILE"), std::string::npos) << out;
  EXPECT_NE(out.find("DATA NEEDED, BUT NONE IS DEFINED"), std::string::npos);
  // "?" lists the help lines as stored: INPUT's line seventh, FULL's eighth.
  const auto at = [&](std::string_view t) { return out.find(t); };
  EXPECT_LT(at("INPUT: Input data from a file on disk"), at("FULL: View image of full data"));
  EXPECT_LT(at("EXCHANGE: Swap current data with the \"memory\""),
            at("INPUT: Input data from a file on disk"));
  EXPECT_LT(at("FULL: View image of full data"), at("OPTIONS: Further display control menu"));

  sets.data_defined = true;
  KztArrays& a = vosq_kzt_arrays;
  a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = 8;
  a.xstrelm = a.ystrelm = 1;
  for (Index k = 0; k < 8; ++k) {
    kzt_xline(a.xaxis)[k] = static_cast<float>(k) + 0.5f;
    kzt_yline(a.yaxis)[k] = static_cast<float>(k) + 0.5f;
  }
  std::span<float> data = kzt_image(a.data);
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(k);
  items.clear();
  {
    testing::ScriptedInput input({"AUTO INPUT", "YES", "30", "NO", "STOP INPUT", "EXIT"});
    KZT_GUI_XTALLOGRAPHY(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
  }
  EXPECT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_TRUE(kzt_xtal_alarm().on);
  EXPECT_EQ(kzt_xtal_alarm().seconds, 30);
  EXPECT_NE(text("STOP INPUT"), nullptr);
}

double auto_time = 0.0;

// A window whose waits are answered from what is drawn: AUTO INPUT, NO to
// the alarm, YES to the peak search, then no event at all (the loop polls;
// a quarter of a second passes each time) until the second frame is in the
// data, then EXIT. A wait of any other kind once AUTO INPUT runs is a box
// waiting for a click nobody gives.
class UnattendedWindow : public testing::ScriptedWindow {
 public:
  using ScriptedWindow::ScriptedWindow;
  float frame2_value = 0.0f;
  std::function<void(int)> on_idle;  // given the count of idle waits
  int idle = 0;
  int box_waits = 0;
  int answers = 0;
  bool running = false;

  int input_coordinate(int mode, int& type, float& x, float& y) override {
    if (++waits > 400) return 1;  // the wait fails: the interface leaves
    const GsDrawnMenu& m = gs_drawn_menu;
    type = kInputButton;
    if (m.num_titles > 0 && m.titles[0] == "SET TIME-OUT ALARM") return at(m, 4, x, y);
    if (m.num_titles > 0 && m.titles[0] == "AUTO PEAK SEARCH") return at(m, 3, x, y);
    if (!running && m.num_buttons == 20) {
      if (mode == 10) {
        running = true;
      } else {
        return at(m, ++answers == 1 ? 4 : 1, x, y);  // AUTO INPUT (EXIT if it ran out)
      }
    }
    if (mode != 10) {
      ++box_waits;
      x = y = 0.01f;
      return 0;
    }
    if (kzt_image(vosq_kzt_arrays.data)[0] == frame2_value) return at(m, 1, x, y);  // EXIT
    type = kInputNothing;
    auto_time += 0.25;
    if (on_idle) on_idle(++idle);
    return 0;
  }

 private:
  static int at(const GsDrawnMenu& m, int button, float& x, float& y) {
    const GsRect& b = m.boxes[button - 1];
    x = (b.xmin + b.xmax) / 2;
    y = (b.ymin + b.ymax) / 2;
    return 0;
  }
};

struct XtalAutoInput : testing::PageFixture {
  KztDataSets sets;
  UnattendedWindow* window = nullptr;
  testing::TempDir dir;
  // The peak lists are written beside where the program runs: in the test's
  // own folder, not the checkout.
  std::filesystem::path working = std::filesystem::current_path();
  void SetUp() override {
    std::filesystem::current_path(dir.path());
    testing::reset_dialogue();
    PageFixture::SetUp();
    fio_reset_gui_input();
    kzt_xtal_alarm() = XtalAlarm{};
    auto_time = 1000.0;
    kzt_xtal_clock() = {[] { return auto_time; }, [](float s) { auto_time += s; }};
    Status s = kStatusGood;
    kzt_allocate_arrays(32, 32, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    sets.graphics_on = true;
  }
  void TearDown() override {
    kzt_xtal_clock() = XtalClock{};
    kzt_xtal_alarm() = XtalAlarm{};
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    fio_reset_gui_input();
    PageFixture::TearDown();
    testing::reset_dialogue();
    std::filesystem::current_path(working);
  }
  // A 32 x 32 frame of the native format, every pixel VALUE but a peak.
  void write_frame(const std::string& path, float value) {
    std::vector<float> data(32 * 32, value), xaxis(32), yaxis(32);
    data[element(16, 16, 32)] = 100.0f * value;
    for (int k = 0; k < 32; ++k) xaxis[k] = yaxis[k] = k + 0.5f;
    testing::ScriptedInput input({path});
    int retstat = 1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", 32, 32, 1, 1, 32, 32, xaxis, yaxis, data, {}, "frame", "x", "y", "z",
                  false, 1e-4f, 1e-4f, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  // FIRST read as the INPUT button does (typed answers), then the window
  // that waits for the frame of value TARGET.
  void start_series(const std::string& first, float target) {
    qg_db_system.category[0] = kCategoryPostScript;
    {
      testing::ScriptedInput input({first});
      const ProgramImageTarget program(sets);
      Status s = kStatusGood;
      FIO_GUI_INPUT({"SELECT FILE"}, kFioSelectFile, program.target(), sets.data_defined,
                    sets.input_file, s);
      ASSERT_EQ(s, kStatusGood);
      ASSERT_TRUE(sets.data_defined);
    }
    KztArrays& a = vosq_kzt_arrays;
    a.xstrelm = a.ystrelm = 1;
    a.xendelm = a.yendelm = 32;
    auto driver = std::make_unique<UnattendedWindow>(&items);
    window = driver.get();
    window->frame2_value = target;
    qg_db_system.driver[0] = std::move(driver);
    qg_db_system.category[0] = kCategoryX11;
    const QgDbTransform& t = qg_db_transform;
    Status s = kStatusGood;
    window->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
  }
  // The interface run until the target frame is in: no box may have waited
  // on the way. The terminal's text.
  std::string run_unattended() {
    testing::TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_GUI_XTALLOGRAPHY(sets, status);
    const std::string out = terminal.text();
    EXPECT_EQ(status, kStatusGood) << out;
    EXPECT_EQ(window->box_waits, 0) << out;
    EXPECT_EQ(kzt_image(vosq_kzt_arrays.data)[0], window->frame2_value) << out;
    return out;
  }
  std::string broken_second(std::size_t second_bytes, std::string_view why);
  static int count(const std::string& text, std::string_view what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
};

// The detector writes the next frame in two halves some seconds apart. The
// half-written file fails to read: that is said once on the terminal, no box
// waits, the peak search does not run on the old frame, and the series stays
// at that file until it is whole and read.
TEST_F(XtalAutoInput, HalfWrittenFrameIsReadOnceWholeWithoutAnyBox) {
  const std::string first = dir.file("frame_001.kzt"), second = dir.file("frame_002.kzt");
  write_frame(first, 1.0f);
  write_frame(dir.file("whole.kzt"), 2.0f);
  const std::string bytes = testing::file_contents(dir.file("whole.kzt"));
  start_series(first, 2.0f);
  ASSERT_EQ(kzt_image(vosq_kzt_arrays.data)[0], 1.0f);

  // The first half early on, the rest after several polls have seen it.
  window->on_idle = [&](int idle) {
    if (idle == 3) std::ofstream(second, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    if (idle == 40)
      std::ofstream(second, std::ios::binary | std::ios::app) << bytes.substr(bytes.size() / 2);
  };
  const std::string out = run_unattended();
  EXPECT_EQ(sets.input_file, second);
  EXPECT_EQ(count(out, "PROBLEM INPUTTING DATA FROM FILE: " + second), 1) << out;
  // One search, of the second frame, which is named when it is read.
  EXPECT_EQ(count(out, "INFO: Number of peaks found"), 1) << out;
  EXPECT_EQ(count(out, "INFO: Input " + second + "\n"), 1) << out;
  EXPECT_LT(out.find("INFO: Input " + second), out.find("INFO: Number of peaks found")) << out;
}

// A frame that stays broken (SECOND_BYTES of the whole frame) holds the
// series until the next one appears: then it is left out with a warning
// saying WHY, and the series goes on. The terminal's text.
std::string XtalAutoInput::broken_second(std::size_t second_bytes, std::string_view why) {
  const std::string first = dir.file("frame_001.kzt"), second = dir.file("frame_002.kzt"),
                    third = dir.file("frame_003.kzt");
  write_frame(first, 1.0f);
  write_frame(dir.file("whole.kzt"), 3.0f);
  const std::string bytes = testing::file_contents(dir.file("whole.kzt"));
  start_series(first, 3.0f);
  window->on_idle = [&](int idle) {
    if (idle == 3) std::ofstream(second, std::ios::binary) << bytes.substr(0, second_bytes);
    if (idle == 40) std::ofstream(third, std::ios::binary) << bytes;
  };
  const std::string out = run_unattended();
  EXPECT_EQ(sets.input_file, third);
  EXPECT_EQ(count(out, "WARNING: " + second + " " + std::string(why) + " and is left out"), 1)
      << out;
  EXPECT_EQ(count(out, "INFO: Number of peaks found"), 1) << out;
  // Only the frames read are named.
  EXPECT_EQ(count(out, "INFO: Input " + third + "\n"), 1) << out;
  EXPECT_EQ(count(out, "INFO: Input " + second), 0) << out;
  return out;
}

TEST_F(XtalAutoInput, BrokenFrameLeftOutOnceTheNextOneExists) {
  const std::string out = broken_second(100, "could not be read");
  EXPECT_EQ(count(out, "PROBLEM INPUTTING DATA FROM FILE: " + dir.file("frame_002.kzt")), 1)
      << out;
}

// A frame left empty (its writer gave up) is not read while it may still be
// written, but it does not hold the series once the next frame exists.
TEST_F(XtalAutoInput, EmptyFrameLeftOutOnceTheNextOneExists) {
  const std::string out = broken_second(0, "is empty");
  EXPECT_EQ(count(out, "PROBLEM INPUTTING DATA"), 0) << out;
}

// The real program in its window: SET GEOMETRY, then NO CHANGE at the beam
// centre, asks the rest in the geometry form in the window, not at the
// terminal; the form's values are stored, the detector rotation kept.
TEST(XtalWindow, SetGeometryAsksItsFormInTheWindow) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::TempDir dir;
  ASSERT_TRUE(testing::write_square_image(dir.file("flat.kzt"), 32, std::vector<float>(1024, 1.0f)));
  testing::write_text_file(dir.file("xtal.mac"),
                           "ON-LINE CRYSTALLOGRAPHY\nINPUT\nflat.kzt\nSET GEOMETRY\nNO CHANGE\n"
                           "DISTANCE\n150\nX-PIXEL SIZE\n50\nO.K.\nEXIT\nEXIT KESTA\nYES\n");
  const testing::ProgramResult r = testing::run_program(dir, "-dim32x32 -macxtal.mac", "");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("Enter sample to detector distance (mm)"), std::string::npos);
  EXPECT_EQ(r.output.find("WAVELENGTH (Angstroms)"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("ROTATION OFFSET ANGLE"), std::string::npos) << r.output;
  const std::string defaults = testing::file_contents(dir.file(".kesta.def"));
  const auto saved = [&](const std::string& key) {
    const std::size_t at = defaults.find("\n" + key + "\n");
    return at == std::string::npos ? -999.0f
                                   : std::strtof(defaults.c_str() + at + key.size() + 2, nullptr);
  };
  EXPECT_NEAR(saved("SAMPLE_DISTANCE"), 0.15f, 1e-6f) << defaults << r.output;
  EXPECT_NEAR(saved("X_PIXEL_SIZE"), 5.0e-5f, 1e-10f) << defaults;
  EXPECT_NEAR(saved("DETECTOR_ROTATION"), 0.0f, 1e-9f) << defaults;
}

}  // namespace
}  // namespace kesta
