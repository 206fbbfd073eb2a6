#include "app/interfaces/test_interface.hpp"

#include <algorithm>

#include "app/imageops/display_commands.hpp"
#include "app/imageops/synthetic.hpp"
#include "app/interfaces/display_rows.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "core/status.hpp"
#include "numeric/profiles2d.hpp"
#include "numeric/random.hpp"

namespace kesta {
namespace {

struct TestMenu {};

const std::string kWelcome[] = {"", "WELCOME TO THE TEST", "", "AND SIMULATION GUI", ""};

void run_gaussian(MenuPass& pass, TestMenu&, Status& status) {
  kzt_simulated_data(pass.sets, status);
  if (status != kStatusGood) return;
  KztArrays& a = vosq_kzt_arrays;
  MA_2DGAUSSIAN(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_xline(a.xaxis), kzt_yline(a.yaxis), 1000.0f,
                0.5f * static_cast<float>(a.xnumdat), 0.5f * static_cast<float>(a.ynumdat), 75.0f,
                50.0f, 0.0f, 5.0f, 1, kzt_image(a.data), status);
}

void run_poisson(MenuPass& pass, TestMenu&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  MA_2DPOISSON(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, -1.0f,
               kzt_image(a.data), status);
  if (status != kStatusGood || !pass.sets.variances_exist) return;
  // Poisson counts: the variance of each value is the value.
  const std::span<const float> data = kzt_image(a.data);
  const std::span<float> variances = kzt_image(a.variances);
  for (Index j = a.ystrelm; j <= a.yendelm; ++j) {
    const std::size_t row = static_cast<std::size_t>((j - 1) * a.xmaxdat);
    std::copy(data.begin() + row + a.xstrelm - 1, data.begin() + row + a.xendelm,
              variances.begin() + row + a.xstrelm - 1);
  }
}

void run_triangle(MenuPass& pass, TestMenu&, Status& status) {
  kzt_simulated_data(pass.sets, status);
  if (status != kStatusGood) return;
  KztArrays& a = vosq_kzt_arrays;
  KZT_TRIANGLE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
               kzt_image(a.data), status);
}

using Row = MenuRow<TestMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;

const Row kRows[] = {
    {"EXIT", "EXIT: Exit menu", 0, MenuRedraw::kNothing, menu_exit<TestMenu>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<TestMenu>},
    {"GAUSSIAN", "GAUSSIAN: Create 2-D Gaussian function data", 0, kAll, run_gaussian},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", 0, kAll,
     menu_display<TestMenu>},
    {"POISSON", "POISSON: Add Poisson noise to the data", kMenuNeedsData, kAll, run_poisson},
    {"TRIANGLE", "TRIANGLE: Define triangle region in image", 0, kAll, run_triangle},
};

}  // namespace

void kzt_simulated_data(KztDataSets& sets, Status& status) {
  if (status != kStatusGood || sets.data_defined) return;
  KztArrays& a = vosq_kzt_arrays;
  KZT_AXES(a.xmaxdat, a.xmaxdat, 0.5f, 1.0f, kzt_xline(a.xaxis), status);
  KZT_AXES(a.ymaxdat, a.ymaxdat, 0.5f, 1.0f, kzt_yline(a.yaxis), status);
  if (status != kStatusGood) return;
  std::span<float> data = kzt_image(a.data);
  std::fill(data.begin(), data.end(), 0.0f);
  a.xnumdat = a.xendelm = a.xmaxdat;
  a.ynumdat = a.yendelm = a.ymaxdat;
  a.xstrelm = a.ystrelm = 1;
  sets.data_defined = true;
  sets.title = "Simulated Data";
  sets.xlabel = "Columns";
  sets.ylabel = "Rows";
  sets.zlabel = "Intensity";
}

void KZT_GUI_TEST(KztDataSets& sets, Status& status) {
  InterfaceTable<TestMenu> table;
  table.position = "Subroutine KZT_GUI_TEST V0.3";
  table.rows = kRows;
  table.layout = {0, 2, 12, 10};
  table.welcome = kWelcome;
  table.welcome_place = WelcomePlace::kMessageRegion;
  table.escape_asks_again = true;
  TestMenu menu;
  kzt_interface(table, sets, menu, status);
}

}  // namespace kesta
