// The automatic input of the on-line crystallography interface (polling,
// half-written files, the alarm) and its menu driven by typed answers.

#include "app/interfaces/xtal_interface.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widgets.hpp"

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
  EXPECT_NE(text("TIME-OUT ALARM: NEW FILE DOESN'T EXIST YET"), nullptr);
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

}  // namespace
}  // namespace kesta
