// The click input of the 2-D model and the two-panel display of a fitted
// row in a real window on a private X server, answers replayed from an input
// macro, the window read back with xwd.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/model_input.hpp"
#include "app/fitting/olmi_interactive.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// A window of the program on its own X server.
struct Window {
  testing::PrivateXServer server{24};
  testing::TerminalCapture quiet;
  testing::TempDir dir;
  unsigned long id = 0;
  Window() {
    testing::reset_dialogue();
    io_clear_database();
    const char* argv[] = {"kesta"};
    io_set_args(1, argv);
    gs_state = GsState{};
    Status status = kStatusGood;
    GS_OPEN_GRAPHICS(status);
    if (status == kStatusGood) id = x11_window_id();
  }
  ~Window() {
    Status status = kStatusGood;
    GS_CLOSE_GRAPHICS(status);
    testing::reset_dialogue();
  }
  void replay(const std::string& lines) {
    std::string macro = dir.file("input.mac");
    std::ofstream(macro) << lines;
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, macro, status);
  }
  // Pixels of the shot within the page rectangle (page units) unlike the
  // colour at its lower left corner.
  int drawn(const testing::Screenshot& s, float x0, float y0, float x1, float y1) const {
    int count = 0;
    const auto at = [&](float x, float y) {
      return s.at(std::clamp(static_cast<int>(x * s.height), 0, s.width - 1),
                  std::clamp(static_cast<int>((1.0f - y) * s.height), 0, s.height - 1));
    };
    const auto background = at(x0, y0);
    for (float y = y0; y < y1; y += 0.003f)
      for (float x = x0; x < x1; x += 0.003f) count += at(x, y) != background;
    return count;
  }
};

TEST(FittingWindow, ReplayedClicksBuildTheModelOverTheResidual) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  Window w;
  ASSERT_NE(w.id, 0u);
  const KztArrays saved = vosq_kzt_arrays;
  Status status = kStatusGood;
  testing::gaussian_program_arrays(0.0f, status);
  w.replay("GAUSSIAN\n1\n20.5\n15.5\n1\n24.0\n15.5\n1\n20.5\n17.85\nEXIT\n");
  KztDataSets sets;
  sets.graphics_on = true;
  FitModel model;
  {
    testing::Watchdog watchdog(60);
    KZT_GUI_PARAMETERS(true, sets, model, status);
  }
  EXPECT_EQ(status, kStatusGood);
  ASSERT_EQ(model.num_parameters, 6);
  EXPECT_NEAR(model.params[2], 100.0f, 0.01f);
  // The residual (drawn last) holds almost nothing of the peak: its image
  // and the menu are on the page.
  const testing::Screenshot shot = testing::screenshot(w.id, w.dir.path().string());
  ASSERT_TRUE(shot.ok);
  EXPECT_GT(w.drawn(shot, 0.0f, 0.0f, 1.0f, 1.0f), 1000);
  kzt_free_arrays(vosq_kzt_arrays, status);
  vosq_kzt_arrays = saved;
}

TEST(FittingWindow, FittedRowIsDrawnInTwoPanels) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  Window w;
  ASSERT_NE(w.id, 0u);
  std::vector<float> row(80, 10.0f);
  for (std::size_t i = 0; i < row.size(); ++i) {
    const double d = (i + 0.5 - 29.5) / 3.0;
    row[i] += static_cast<float>(100.0 * std::exp(-0.5 * d * d));
  }
  const std::vector<float> axis = testing::centre_axis(80);
  FitModel model;
  model.num_features = 1;
  model.num_parameters = 3;
  model.params = {29.5f, 90.0f, 3.0f};
  model.codes = {20010201, 20201, 10030201};
  Status status = kStatusGood;
  float x0 = 0, y0 = 0, x1 = 1, y1 = 1;
  GS_INQ_GPP(x0, y0, x1, y1, status);
  KZT_OLMIDISPLAY(model, row, {}, {}, axis, 80, 1, 80, "Scan: Row 1", status);
  GS_UPDATE(status);
  EXPECT_EQ(status, kStatusGood);
  const testing::Screenshot shot = testing::screenshot(w.id, w.dir.path().string());
  ASSERT_TRUE(shot.ok);
  const float split = y0 + 0.3f * (y1 - y0);
  // Both panels carry a graph: the model over the data above, the
  // residuals below.
  EXPECT_GT(w.drawn(shot, x0, split + 0.01f, x1, y1), 200);
  EXPECT_GT(w.drawn(shot, x0, y0, x1, split - 0.01f), 200);
}

}  // namespace
}  // namespace kesta
