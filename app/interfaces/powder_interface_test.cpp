// The powder diffraction and SAXS / GISAXS interfaces driven by typed
// answers on a page that is not a window (the widgets then read the
// terminal, as in a replay), on real image files.

#include "app/interfaces/powder_interface.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/cake_menu.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;
using testing::TerminalCapture;

constexpr double kDegree = 3.14159265358979 / 180.0;

struct PowderInterface : testing::PageFixture {
  testing::TempDir dir;
  KztDataSets sets;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    io_clear_database();
    kzt_pd_state() = {};
    kzt_saxs_state() = {};
    kzt_integrate_forms() = {KZT_GUI_GEOMETRY, kzt_integrate_control_form};
    Status s = kStatusGood;
    kzt_allocate_arrays(200, 200, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    kzt_undefined_extent(vosq_kzt_arrays);
    const KztArrays& a = vosq_kzt_arrays;
    for (Index k = 0; k < 200; ++k) a.xaxis[k] = a.yaxis[k] = static_cast<float>(k) + 0.5f;
    sets.graphics_on = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    kzt_integrate_forms() = {};
    io_clear_database();
    PageFixture::TearDown();
  }
  // An N x N image of 100-micron pixels: a Gaussian ring at 5 degrees
  // 2-theta about pixel coordinate (N/2, N/2) seen from 100 mm, on 1.0.
  std::string ring_file(Index n, const char* name) {
    std::vector<float> axis(static_cast<std::size_t>(n)), data(static_cast<std::size_t>(n * n));
    for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
    const double c = static_cast<double>(n) / 2.0;
    for (Index j = 0; j < n; ++j)
      for (Index i = 0; i < n; ++i) {
        const double r = std::hypot((i + 0.5 - c) * 1e-4, (j + 0.5 - c) * 1e-4);
        const double u = (std::atan(r / 0.1) - 5.0 * kDegree) / (0.15 * kDegree);
        data[static_cast<std::size_t>(i + j * n)] =
            static_cast<float>(1.0 + 100.0 * std::exp(-0.5 * u * u));
      }
    std::string file = dir.file(name);
    ScriptedInput answer({file});
    TerminalCapture quiet;
    int retstat = -1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "Ring", "X", "Y", "Z", false,
                  1.0e-4f, 1.0e-4f, retstat, s);
    EXPECT_EQ(retstat, 0);
    return file;
  }
  Status run_pd(std::vector<std::string> answers) {
    ScriptedInput input(std::move(answers));
    Status status = kStatusGood;
    KZT_GUI_PD(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    return status;
  }
  Status run_saxs(std::vector<std::string> answers) {
    ScriptedInput input(std::move(answers));
    Status status = kStatusGood;
    KZT_GUI_SAXS(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    return status;
  }
  // No data and no memory described (the mask made by an earlier visit stays).
  void fresh_sets() {
    const bool mask_exist = sets.mask_exist;
    sets = KztDataSets{};
    sets.graphics_on = true;
    sets.mask_exist = mask_exist;
  }
  static float key(const char* name) {
    float v = -1.0f;
    int retstat = 0;
    Status s = kStatusGood;
    IO_INQ_RKEYVALUE(name, v, retstat, s);
    return v;
  }
  void set_geometry(float x, float y, float distance, float wavelength) {
    Status s = kStatusGood;
    KZT_SET_GEOMETRY(true, x, y, distance, wavelength, 0.0f, 0.0f, 0.0f, s);
  }
};

// The main road: input (the correction form follows), integrate, exchange.
TEST_F(PowderInterface, RingImageIntegratesToAScanAndExchangesBack) {
  TerminalCapture terminal;
  const std::string file = ring_file(200, "ring.kzt");
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  Status s = kStatusGood;
  GS_SET_CURVESTYLE(1, false, false, true, s);
  GS_SET_AUTODDR(false, false, false, false, s);
  EXPECT_EQ(run_pd({"INPUT", file, "O.K.", "INTEGRATE", "O.K.", "O.K.", "EXIT"}), kStatusGood)
      << terminal.text();
  KztArrays& a = vosq_kzt_arrays;
  ASSERT_TRUE(sets.data_defined);
  // 141 one-pixel bins reach the corners: atan(sqrt(2) x 10 mm / 100 mm).
  ASSERT_EQ(a.xnumdat, 141);
  EXPECT_EQ(a.ynumdat, 1);
  const float step = a.xaxis[1] - a.xaxis[0];
  EXPECT_NEAR(a.xaxis[140] + step / 2.0f, 8.0495f, 2e-3f);
  double sum = 0.0, moment = 0.0;
  for (Index i = 0; i < 141; ++i)
    if (a.xaxis[i] > 4.0f && a.xaxis[i] < 6.0f) {
      sum += a.data[i] - 1.0;
      moment += (a.data[i] - 1.0) * a.xaxis[i];
    }
  EXPECT_NEAR(moment / sum, 5.000, 0.01);
  EXPECT_EQ(sets.mxnumdat, 200);  // the image went to the memory
  EXPECT_FALSE(kzt_pd_state().mask_data);
  EXPECT_TRUE(kzt_pd_state().mask_memory);
  bool line = false, markers = true, errors = false;
  GS_INQ_CURVESTYLE(1, line, markers, errors, s);
  EXPECT_TRUE(line);
  EXPECT_FALSE(markers);
  EXPECT_TRUE(errors);
  bool x1 = false, y1 = false, x2 = false, y2 = false;
  GS_INQ_AUTODDR(x1, y1, x2, y2, s);
  EXPECT_TRUE(x1 && y1 && x2 && y2);

  // Integrating and exchanging in one visit shows the masked image again.
  EXPECT_EQ(run_pd({"EXCHANGE", "EXIT"}), kStatusGood);
  EXPECT_EQ(a.xnumdat, 200);
  EXPECT_EQ(run_pd({"INTEGRATE", "O.K.", "O.K.", "EXCHANGE", "EXIT"}), kStatusGood);
  EXPECT_EQ(a.xnumdat, 200);
  EXPECT_EQ(sets.mxnumdat, 141);
  EXPECT_TRUE(kzt_pd_state().mask_data);
  EXPECT_FALSE(kzt_pd_state().mask_memory);

  // A cake leaves the masked image in the memory; the scan of the cake
  // replaces that image and takes no mask from it.
  EXPECT_EQ(run_pd({"CAKE", "NO CHANGE", "0", "1", "100.0", "150.0", "0", "1", "150.0", "100.0",
                    "INTEGRATE", "O.K.", "O.K.", "EXIT", "INTEGRATE", "O.K.", "O.K.", "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_EQ(a.ynumdat, 1);
  EXPECT_FALSE(kzt_pd_state().mask_data);
  EXPECT_FALSE(kzt_pd_state().mask_memory);
}

// The commands that work on an image refuse a scan of one row (an
// integrated scan): one line each, nothing asked, data and memory as they
// were, on both interfaces.
TEST_F(PowderInterface, ImageCommandsRefuseAScan) {
  const std::string file = ring_file(200, "ring.kzt");
  TerminalCapture terminal;
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  ASSERT_EQ(run_pd({"INPUT", file, "O.K.", "INTEGRATE", "O.K.", "O.K.", "EXIT"}), kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  ASSERT_EQ(a.ynumdat, 1);
  const std::vector<float> data(a.data, a.data + 200 * 200), memory(a.mdata, a.mdata + 200 * 200);
  const Index xnum = a.xnumdat, mxnum = sets.mxnumdat;
  const std::string before = terminal.text();
  EXPECT_EQ(run_pd({"INTEGRATE", "CAKE", "TILT", "CALIBRANT", "BEAM CENTRE", "CORRECTION", "EXIT"}),
            kStatusGood);
  EXPECT_EQ(run_saxs({"INTEGRATE", "PROJECTION", "SPHERICAL MOD", "EXIT"}), kStatusGood);
  const std::string said = terminal.text().substr(before.size());
  for (const char* command : {"INTEGRATE", "CAKE", "TILT", "CALIBRANT", "BEAM CENTRE",
                              "CORRECTION", "PROJECTION", "SPHERICAL MOD"})
    EXPECT_NE(said.find(std::string("THE DATA IS 1-D: ") + command + " NEEDS AN IMAGE"),
              std::string::npos)
        << command << "\n" << said;
  EXPECT_EQ(said.find("Starting to transform"), std::string::npos) << said;
  EXPECT_EQ(a.xnumdat, xnum);
  EXPECT_EQ(sets.mxnumdat, mxnum);
  EXPECT_EQ(std::vector<float>(a.data, a.data + 200 * 200), data);
  EXPECT_EQ(std::vector<float>(a.mdata, a.mdata + 200 * 200), memory);
}

// An escape from the integration forms exchanges nothing, so the mask flags
// stay; a cancelled or failed input leaves the data and their region.
TEST_F(PowderInterface, CancelledFormsLeaveDataAndFlags) {
  TerminalCapture terminal;
  const std::string file = ring_file(200, "ring.kzt");
  EXPECT_EQ(run_pd({"INPUT", file, "O.K.", "EXIT"}), kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  a.xstrelm = 20;
  a.xendelm = 60;
  const float* before = a.data;
  // (A directory and a FIFO given as the file read nothing.)
  const std::string fifo = dir.file("pipe.kzt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(run_pd({"INTEGRATE", "CANCEL", "INPUT", "\\\\", "INPUT", dir.path().string(),
                    "INPUT", fifo, "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(a.xnumdat, 200);
  EXPECT_TRUE(sets.data_defined);
  EXPECT_EQ(a.xstrelm, 20);
  EXPECT_EQ(a.xendelm, 60);
  EXPECT_TRUE(kzt_pd_state().mask_data);
  EXPECT_FALSE(kzt_pd_state().mask_memory);
}

// The geometry is stored on entry and on leaving, and a change made by
// another interface is seen at the next entry; without memory arrays the
// correction is refused.
TEST_F(PowderInterface, GeometryKeysAndMissingMemory) {
  TerminalCapture terminal;
  EXPECT_EQ(run_pd({"EXIT"}), kStatusGood);
  EXPECT_FLOAT_EQ(key("X_BEAM_CENTRE"), 500.0f);
  EXPECT_FLOAT_EQ(key("SAMPLE_DISTANCE"), 0.315f);
  EXPECT_FLOAT_EQ(key("WAVELENGTH"), 1.54e-10f);
  set_geometry(120.0f, 80.0f, 0.25f, 0.7e-10f);
  sets.data_defined = true;
  sets.memory_exist = false;
  items.clear();
  EXPECT_EQ(run_pd({"CORRECTION", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: MEMORY DOES NOT EXIST"), std::string::npos);
  const PowderInterfaceState& st = kzt_pd_state();
  EXPECT_FLOAT_EQ(st.x_beam, 120.0f);
  EXPECT_FLOAT_EQ(st.y_beam, 80.0f);
  EXPECT_FLOAT_EQ(st.sample_distance, 0.25f);
  EXPECT_FLOAT_EQ(st.wavelength, 0.7e-10f);
  // The other interface keeps its own copy until it is entered.
  EXPECT_FLOAT_EQ(kzt_saxs_state().sample_distance, 0.315f);

  // The beam-centre menu works in metres: the centre typed in pixels comes
  // back in pixels, kept for the next visit and stored on leaving.
  sets.memory_exist = true;
  EXPECT_EQ(run_pd({"BEAM CENTRE", "KEYBOARD", "321.5", "123.25", "EXIT"}), kStatusGood)
      << terminal.text();
  EXPECT_NEAR(st.x_beam, 321.5f, 1e-3f);
  EXPECT_NEAR(st.y_beam, 123.25f, 1e-3f);
  EXPECT_NEAR(key("X_BEAM_CENTRE"), 321.5f, 1e-3f);
  EXPECT_NEAR(key("Y_BEAM_CENTRE"), 123.25f, 1e-3f);
}

// SAXS: INTEGRATE makes the scan current with the mask flags swapped, then
// 1-D TRANSFORMS works on its row and says so; MATHS opens the maths menu.
// On the image (many rows) the transform is refused and nothing says it
// was made.
TEST_F(PowderInterface, SaxsIntegrateThenTransform) {
  const std::string file = ring_file(200, "ring.kzt");
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  {
    TerminalCapture terminal;
    EXPECT_EQ(run_saxs({"INPUT", file, "1-D TRANSFORMS", "EXIT"}), kStatusGood);
    EXPECT_NE(terminal.text().find("WARNING: THE DATA IS NOT 1-D !"), std::string::npos);
    EXPECT_EQ(terminal.text().find("Transformation completed"), std::string::npos)
        << terminal.text();
  }
  TerminalCapture terminal;
  EXPECT_EQ(run_saxs({"INPUT", file, "INTEGRATE", "O.K.", "O.K.", "1-D TRANSFORMS", "O.K.",
                      "MATHS", "EXIT", "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_EQ(vosq_kzt_arrays.ynumdat, 1);
  EXPECT_EQ(vosq_kzt_arrays.xnumdat, 141);
  EXPECT_FALSE(kzt_saxs_state().mask_data);
  EXPECT_TRUE(kzt_saxs_state().mask_memory);
  EXPECT_NE(terminal.text().find("Transformation completed"), std::string::npos);
  EXPECT_EQ(terminal.text().find("not available yet"), std::string::npos) << terminal.text();
}

// REMEMBER ROI: read from its key on entry, never written; the region
// survives an input that still holds it and is reset otherwise.
TEST_F(PowderInterface, SaxsRememberRegionAndToggle) {
  const std::string big = ring_file(200, "big.kzt");
  const std::string small = ring_file(100, "small.kzt");
  TerminalCapture terminal;  // after the files, whose writing has its own
  KztArrays& a = vosq_kzt_arrays;
  a.xstrelm = 50;
  a.ystrelm = 40;
  a.xendelm = 150;
  a.yendelm = 120;
  int retstat = 0;
  Status s = kStatusGood;
  IO_SET_LKEYVALUE("REMEMBER_ROI", true, retstat, s);
  // The button reads FORGET ROI at once; the first input keeps the region.
  EXPECT_EQ(run_saxs({"FORGET ROI", "REMEMBER ROI", "INPUT", big, "NORMALISE", "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_NE(terminal.text().find("WARNING: NOT YET IMPLEMENTED"), std::string::npos);
  EXPECT_EQ((std::array<Index, 4>{a.xstrelm, a.ystrelm, a.xendelm, a.yendelm}),
            (std::array<Index, 4>{50, 40, 150, 120}));
  // A smaller image no longer holds it: the whole image.
  EXPECT_EQ(run_saxs({"INPUT", small, "EXIT"}), kStatusGood);
  EXPECT_EQ((std::array<Index, 4>{a.xstrelm, a.ystrelm, a.xendelm, a.yendelm}),
            (std::array<Index, 4>{1, 1, 100, 100}));

  // Without the key the switch starts off; the toggle changes the "?" line.
  io_clear_database();
  items.clear();
  a.xendelm = 50;
  EXPECT_EQ(run_saxs({"REMEMBER ROI", "?", "INPUT", small, "EXIT"}), kStatusGood);
  EXPECT_NE(text("FORGET ROI: Don't remember region of interest between input images"), nullptr);
  EXPECT_EQ(a.xendelm, 50);
  bool remember = false;
  retstat = 0;
  IO_INQ_LKEYVALUE("REMEMBER_ROI", remember, retstat, s);
  EXPECT_NE(retstat, 0);
  EXPECT_EQ(run_saxs({"INPUT", small, "EXIT"}), kStatusGood);
  EXPECT_EQ(a.xendelm, 100);
}

// PROJECTION: a completed projection is shown at once with the mask flags
// swapped; a cancelled one leaves data, memory and flags as they were.
TEST_F(PowderInterface, SaxsProjectionShownOrCancelled) {
  const std::string file = ring_file(200, "ring.kzt");
  TerminalCapture terminal;
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  const std::vector<std::string> strip = {"PROJECTION", "1",   "150", "100", "2",  "125",
                                          "90",         "125", "110", "YES"};
  std::vector<std::string> cancelled = {"INPUT", file};
  cancelled.insert(cancelled.end(), strip.begin(), strip.end());
  cancelled.insert(cancelled.end(), {"CANCEL", "EXIT"});
  EXPECT_EQ(run_saxs(cancelled), kStatusGood) << terminal.text();
  KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(a.ynumdat, 200);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_TRUE(kzt_saxs_state().mask_data);

  std::vector<std::string> done = strip;
  done.insert(done.end(), {"O.K.", "O.K.", "O.K.", "EXIT"});
  EXPECT_EQ(run_saxs(done), kStatusGood) << terminal.text();
  EXPECT_EQ(a.ynumdat, 1);
  EXPECT_GT(a.xnumdat, 1);
  EXPECT_EQ(sets.mynumdat, 200);  // the image is in the memory
  EXPECT_FALSE(kzt_saxs_state().mask_data);
  EXPECT_TRUE(kzt_saxs_state().mask_memory);
  bool x1 = false, y1 = false, x2 = false, y2 = false;
  Status s = kStatusGood;
  GS_INQ_AUTODDR(x1, y1, x2, y2, s);
  EXPECT_TRUE(x1 && y1 && x2 && y2);
}

// DISPLAY runs before any input; each of its operations then says that data
// are needed, asks nothing and leaves both menus up.
TEST_F(PowderInterface, DisplayOperationsWithoutDataSaySo) {
  TerminalCapture terminal;
  const char* const operations[] = {"ARC SLICE",  "CONTOUR PLOT", "DISTANCE",  "NUMBERS",
                                    "PIXEL (X/Y)", "PROJECTION",  "SATURATED", "SLICE",
                                    "STATISTICS", "PRINT",        "3-D SURFACE", "3-D LINES"};
  for (const bool saxs : {false, true}) {
    for (const char* operation : operations) {
      SCOPED_TRACE(std::string(operation) + (saxs ? " SAXS" : " PD"));
      kzt_undefined_extent(vosq_kzt_arrays);
      fresh_sets();
      items.clear();
      const std::vector<std::string> answers = {"DISPLAY", operation, "EXIT", "?", "EXIT"};
      const std::size_t before = terminal.text().size();
      EXPECT_EQ(saxs ? run_saxs(answers) : run_pd(answers), kStatusGood) << terminal.text();
      EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED", before),
                std::string::npos);
      EXPECT_FALSE(sets.data_defined);
      EXPECT_FALSE(sets.memory_defined);
    }
  }
  EXPECT_EQ(terminal.text().find("GS_SET_IDR"), std::string::npos) << terminal.text();
  EXPECT_EQ(terminal.text().find("STATUS"), std::string::npos) << terminal.text();
}

// Before any input (the memory's empty description brought in by EXCHANGE
// among them) the choices that need no data run and the menu stays; OPTIONS
// draws the image again as it was shown, with the mask.
TEST_F(PowderInterface, ChoicesWithoutDataRunAndOptionsKeepTheMask) {
  TerminalCapture terminal;
  const std::vector<std::vector<std::string>> choices = {
      {"FULL"},    {"?"},       {"HELP"},    {"INPUT", "\\\\"},
      {"DISPLAY", "EXIT"},      {"OPTIONS", "EXIT"}, {"UN-ZOOM"},  {"EXCHANGE"}};
  for (const std::vector<std::string>& choice : choices) {
    for (const bool exchanged : {false, true}) {
      kzt_undefined_extent(vosq_kzt_arrays);
      fresh_sets();
      std::vector<std::string> answers = choice;
      if (exchanged) answers.insert(answers.begin(), "EXCHANGE");
      answers.push_back("EXIT");
      items.clear();
      const std::size_t before = terminal.text().size();
      EXPECT_EQ(run_pd(answers), kStatusGood) << choice[0] << " " << exchanged << terminal.text();
      EXPECT_EQ(terminal.text().find("DATA NEEDED, BUT NONE IS DEFINED", before),
                std::string::npos)
          << choice[0];
    }
  }
  items.clear();
  const std::size_t before = terminal.text().size();
  EXPECT_EQ(run_pd({"EXCHANGE", "ZOOM IN", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED", before),
            std::string::npos);

  const std::string file = ring_file(200, "ring.kzt");
  fresh_sets();
  EXPECT_EQ(run_pd({"INPUT", file, "O.K.", "EXIT"}), kStatusGood) << terminal.text();
  vosq_kzt_arrays.mask[0] = 1;
  items.clear();
  EXPECT_EQ(run_pd({"OPTIONS", "TITLE", "Masked", "EXIT", "EXIT"}), kStatusGood)
      << terminal.text();
  const std::vector<const testing::PageItem*> images = of("real_cell_array");
  ASSERT_GE(images.size(), 3u);  // on entry to each menu and after the new title
  for (const testing::PageItem* image : images) EXPECT_NE(image->colour, -1);
  EXPECT_EQ(sets.title, "Masked");
  // The image drawn again inside the options' own menus keeps the mask too.
  const std::vector<std::vector<std::string>> sub_menus = {
      {"Z-SCALING", "WEAK PEAKS", "EXIT"},
      {"COLOURS", "GREY-SCALE", "EXIT"},
      {"ROTATE LUT", "+ 10", "EXIT"},
      {"GRID", "EXIT"}};
  for (const std::vector<std::string>& sub : sub_menus) {
    std::vector<std::string> answers = {"OPTIONS"};
    answers.insert(answers.end(), sub.begin(), sub.end());
    answers.insert(answers.end(), {"EXIT", "EXIT"});
    items.clear();
    EXPECT_EQ(run_pd(answers), kStatusGood) << sub[0] << terminal.text();
    const std::vector<const testing::PageItem*> drawn = of("real_cell_array");
    EXPECT_GE(drawn.size(), 3u) << sub[0];
    for (const testing::PageItem* image : drawn) EXPECT_NE(image->colour, -1) << sub[0];
  }
}

// A cake leaves the masked image in the memory; EXCHANGE brings it back,
// and MASK shows the mask from then on: OPTIONS and its redraws draw the
// image with it, whatever came before.
TEST_F(PowderInterface, MaskAfterCakeAndExchangeIsShownByOptions) {
  TerminalCapture terminal;
  const std::string file = ring_file(200, "ring.kzt");
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  EXPECT_EQ(run_pd({"INPUT", file, "O.K.", "EXIT"}), kStatusGood) << terminal.text();
  vosq_kzt_arrays.mask[0] = 1;
  CakeLimits& l = kzt_cake_state().limits;
  l.first = false;
  l.inner_limit = 0.0f;
  l.outer_limit = 60e-4f;
  items.clear();
  EXPECT_EQ(run_pd({"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXIT", "EXCHANGE", "MASK", "EXIT",
                    "OPTIONS", "TITLE", "Masked", "EXIT", "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_EQ(sets.title, "Masked");
  const std::vector<const testing::PageItem*> images = of("real_cell_array");
  ASSERT_GE(images.size(), 3u);
  // The last two: on entry to OPTIONS and after the new title.
  for (std::size_t k = images.size() - 2; k < images.size(); ++k) {
    EXPECT_EQ(images[k]->xnum, 200) << k;  // the image, not the cake
    EXPECT_NE(images[k]->colour, -1) << k;
  }
  kzt_cake_state() = CakeState{};
}

// The image's mask belongs to the image: the cake made from it is shown
// without it, in the cake menu and back in the interface (both interfaces
// that offer CAKE), and an exchange inside the cake menu or after it brings
// the image back with its mask.
TEST_F(PowderInterface, CakeResultIsShownWithoutTheImagesMask) {
  TerminalCapture terminal;
  const std::string file = ring_file(200, "ring.kzt");
  set_geometry(100.0f, 100.0f, 0.1f, 1.0e-10f);
  struct Case {
    std::vector<std::string> after_input;  // the interface then left
    bool image_last;                       // the image drawn last, else the cake
  };
  const Case cases[] = {
      {{"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXIT"}, false},
      {{"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXIT", "FULL"}, false},
      {{"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXCHANGE", "EXIT"}, true},
      {{"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXCHANGE", "EXCHANGE", "EXIT"}, false},
      {{"CAKE", "INTEGRATE", "O.K.", "O.K.", "EXIT", "EXCHANGE"}, true},
  };
  for (const bool saxs : {false, true}) {
    const PowderInterfaceState& state = saxs ? kzt_saxs_state() : kzt_pd_state();
    for (const Case& c : cases) {
      SCOPED_TRACE((saxs ? "SAXS / GISAXS: " : "POWDER DIFFRACTION (2-D): ") +
                   ::testing::PrintToString(c.after_input));
      kzt_cake_state() = CakeState{};
      CakeLimits& l = kzt_cake_state().limits;
      l.first = false;
      l.outer_limit = 90e-4f;
      if (sets.mask_exist)
        for (Index j = 40; j <= 80; ++j)
          for (Index i = 40; i <= 80; ++i) vosq_kzt_arrays.mask[element(i, j, 200)] = 1;
      std::vector<std::string> answers{"INPUT", file, "O.K."};
      answers.insert(answers.end(), c.after_input.begin(), c.after_input.end());
      answers.push_back("EXIT");
      items.clear();
      EXPECT_EQ(saxs ? run_saxs(answers) : run_pd(answers), kStatusGood) << terminal.text();
      const std::vector<const testing::PageItem*> images = of("real_cell_array");
      ASSERT_FALSE(images.empty());
      EXPECT_EQ(images.back()->xnum == 200, c.image_last);
      // Drawn with the mask colour where masked: the image only.
      EXPECT_EQ(images.back()->colour != -1, c.image_last);
      EXPECT_EQ(state.mask_data, c.image_last);
      EXPECT_EQ(state.mask_memory, !c.image_last);
      fresh_sets();
    }
  }
  kzt_cake_state() = CakeState{};
}

// The help texts keep to their widths.
TEST(PowderHelp, LinesFitTheirWidths) {
  for (const std::string& line : kzt_pdhelp_text()) EXPECT_LE(line.size(), 50u) << line;
  for (const std::string& line : kzt_saxshelp_text()) EXPECT_LE(line.size(), 48u) << line;
}

}  // namespace
}  // namespace kesta
