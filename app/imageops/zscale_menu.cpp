#include "app/imageops/zscale_menu.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

constexpr const char* kPosition = "Subroutine KZT_GUI_ZSCALE V0.1";

// The log working range of the colour bar: a positive LO below HI.
void log_range(float& lo, float& hi) {
  if (hi <= 0.0f) {
    lo = 1.0e-10f;
    hi = 1.0e-9f;
    return;
  }
  if (lo < 1.0e-5f) {
    static constexpr struct {
      float above, low;
    } kSteps[] = {{10000.0f, 0.1f}, {1000.0f, 0.01f}, {100.0f, 0.001f}, {10.0f, 1.0e-4f},
                  {1.0f, 1.0e-5f},  {0.1f, 1.0e-6f},  {0.01f, 1.0e-7f}};
    lo = hi / 10000.0f;
    for (const auto& step : kSteps)
      if (hi > step.above) {
        lo = step.low;
        break;
      }
  }
  if (lo == hi) {
    lo /= 2.0f;
    hi *= 2.0f;
  }
}

bool in(const GsRect& r, float x, float y) {
  return x >= r.xmin && x <= r.xmax && y >= r.ymin && y <= r.ymax;
}

// The menu and its one-line help; the last button follows the log switch.
struct ZscaleMenu {
  std::vector<std::string> buttons{"EXIT",         "?",           "FULLY AUTOMATIC", "WEAK PEAKS",
                                   "+ MAXIMUM",    "- MAXIMUM",   "+ MINIMUM",       "- MINIMUM",
                                   "USER MIN/MAX", "USER MINIMUM", "USER MAXIMUM",   ""};
  std::vector<std::string> help{
      "EXIT: Exit from this sub-menu",
      "?: Display list of commands with short description",
      "FULLY AUTOMATIC: Full range automatic scaling",
      "WEAK PEAKS: Automatic scaling for weak diffraction peaks",
      "+ MAXIMUM: Increase maximum display level by 11% of range",
      "- MAXIMUM: Decrease maximum display level by 10% of range",
      "+ MINIMUM: Increase minimum display level by 11% of range",
      "- MINIMUM: Decrease minimum display level by 10% of range",
      "USER MIN/MAX: User set minimum and maximum limits",
      "USER MINIMUM: User set minimum, automatic full maximum",
      "USER MAXIMUM: User set maximum, automatic full minimum",
      ""};
  void last(bool log, bool switched) {
    buttons.back() = log ? "LINEAR SCALE" : "LOG SCALE";
    if (!switched)
      help.back() = log ? "LINEAR SCALE: Linear (or logarithmic) image intensity scaling"
                        : "LOG SCALE: Logarithmic (or linear) image intensity scaling";
    else
      help.back() = buttons.back() + ": Logarithmic or linear image intensity scaling";
  }
};

void ask_limit(bool maximum, float& value, Status& status) {
  GS_INPR(false, 0.0f, 0.0f, true, maximum ? "MAXIMUM DISPLAY VALUE" : "MINIMUM DISPLAY VALUE",
          {maximum ? "Enter highest data value in display range"
                   : "Enter lowest data value in display range"},
          {"Enter valid real"}, value, status);
}

// The user's limits for MODE; in mode 1 asked again while empty.
void ask_limits(int mode, float& minimum, float& maximum, Status& status) {
  for (;;) {
    if (mode == 1 || mode == 2) ask_limit(false, minimum, status);
    if (mode == 1 || mode == 3) ask_limit(true, maximum, status);
    if (status != kStatusGood || mode != 1 || minimum < maximum) return;
    IO_WRITE("WARNING: The minimum of the range has been set greater than or equal to the",
             status);
    IO_WRITE("         maximum of the display range. You must reset the values.", status);
  }
}

}  // namespace

float kzt_zscale_bar_value(float x, float b1, float b2, float minimum, float maximum, bool log) {
  if (b2 == b1) return minimum;
  const double t = (static_cast<double>(x) - b1) / (static_cast<double>(b2) - b1);
  if (!log) return static_cast<float>(t * (static_cast<double>(maximum) - minimum) + minimum);
  float lo = minimum, hi = maximum;
  log_range(lo, hi);
  const double llo = std::log10(static_cast<double>(lo));
  return static_cast<float>(std::pow(10.0, t * (std::log10(static_cast<double>(hi)) - llo) + llo));
}

bool kzt_zscale_nudge(std::string_view button, float& minimum, float& maximum) {
  const float range = maximum - minimum;
  if (button == "+ MAXIMUM")
    maximum += range * 0.11111111f;
  else if (button == "- MAXIMUM")
    maximum -= range * 0.1f;
  else if (button == "+ MINIMUM")
    minimum += range * 0.11111111f;
  else if (button == "- MINIMUM")
    minimum -= range * 0.1f;
  else
    return false;
  return true;
}

void KZT_GUI_ZSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                    std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::string_view title, std::string_view xlabel,
                    std::string_view ylabel, std::string_view zlabel, bool click_mode, float x,
                    float y, Status& status) {
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (!mask.empty() && mask.size() != data.size())
    return st_fail(status, kBaseApp + 1, kPosition);
  const bool kernel_open = qg_db_system.system_open != 0;
  bool log = false;
  if (kernel_open) QG_INQ_LOGZSCALING(log, status);
  ZscaleMenu menu;
  menu.last(log, false);
  if (click_mode && kernel_open)
    QG_SET_RUBBERBAND(1, 1, QG_PC2WC(true, x, status), QG_PC2WC(false, y, status), status);

  int mode = 0;
  float minimum = 0.0f, maximum = 0.0f;
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  GsRect bar;
  bool bar_drawn = false;
  GS_INQ_DLUTPC(bar_drawn, bar.xmin, bar.ymin, bar.xmax, bar.ymax, status);
  const auto draw_image = [&] {
    GS_MPLOT(!mask.empty(), xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm,
             xendelm, yendelm, title, xlabel, ylabel, zlabel, status);
    GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
    GS_INQ_DLUTPC(bar_drawn, bar.xmin, bar.ymin, bar.xmax, bar.ymax, status);
  };

  bool redraw = false;  // the caller has the image on display
  bool leave = false;
  while (!leave && status == kStatusGood) {
    if (redraw) draw_image();
    redraw = false;
    GS_SET_MENULAYOUT(1, 3, 30, 15, status);
    GS_FMENU(1, 1, {"KESTA: IMAGE: OPTIONS: Z-SCALING"}, 12, 12, menu.buttons, status);
    int input_type = 0;
    std::string choice = "null";
    float cx = 0.0f, cy = 0.0f;
    GS_INP_MENUCHOICE(12, 12, menu.buttons, 2, input_type, choice, cx, cy, status);
    if (status != kStatusGood) break;
    bool change = false;
    if (input_type == kGsChoiceRedraw) {
      redraw = true;
      continue;
    }
    if (input_type == kGsChoicePoint) {
      if (!click_mode) {
        bool update_image = false, update_menu = false;
        float xpix = 0.0f, ypix = 0.0f;  // the read-out shows no d-spacing here
        KZT_CLICK(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data,
                  title, xlabel, ylabel, zlabel, cx, cy, xpix, ypix, update_image, update_menu,
                  status);
      } else {
        const float px = qg_click_pc(true, cx, status);
        const float py = qg_click_pc(false, cy, status);
        if (bar_drawn && in(bar, px, py)) {
          const float x1 = std::min(x, px), x2 = std::max(x, px);
          const float low = kzt_zscale_bar_value(x1, bar.xmin, bar.xmax, minimum, maximum, log);
          const float high = kzt_zscale_bar_value(x2, bar.xmin, bar.xmax, minimum, maximum, log);
          minimum = low;
          maximum = high;
          mode = 1;
        } else {
          mode = 0;
        }
        change = true;
        leave = true;
      }
    } else if (input_type == kGsChoiceButton) {
      if (choice == "EXIT") {
        leave = true;
      } else if (choice == "?") {
        GS_MESSAGE(12, 12, menu.help, status);
        continue;  // the rubber band stays for the second click
      } else if (choice == "FULLY AUTOMATIC") {
        mode = 0;
        change = true;
      } else if (choice == "WEAK PEAKS") {
        mode = 4;
        change = true;
      } else if (kzt_zscale_nudge(choice, minimum, maximum)) {
        mode = 1;
        change = true;
      } else if (choice == "USER MIN/MAX" || choice == "USER MINIMUM" ||
                 choice == "USER MAXIMUM") {
        const int asked = choice == "USER MIN/MAX" ? 1 : choice == "USER MINIMUM" ? 2 : 3;
        float low = minimum, high = maximum;
        ask_limits(asked, low, high, status);
        if (status == kStatusGood) {
          mode = asked;
          minimum = low;
          maximum = high;
          change = true;
        }
      } else if (choice == "LOG SCALE" || choice == "LINEAR SCALE") {
        log = choice == "LOG SCALE";
        if (kernel_open) QG_SET_LOGZSCALING(log, status);
        bool x_linear = true, y_linear = true;
        GS_INQ_DATALOGLIN(x_linear, y_linear, status);
        GS_SET_DATALOGLIN(x_linear, !log, status);
        menu.last(log, true);
        change = true;
      }
    }
    if (status == kStatusEscape) st_reset(status);
    if (change && status == kStatusGood) {
      GS_SET_IMAGESCALE(mode, minimum, maximum, status);
      kzt_graph_range_follows(mode, minimum, maximum, status);
      redraw = true;
    }
    if (click_mode && kernel_open) {
      Status local = kStatusGood;
      QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
    }
    click_mode = false;
  }
  if (status == kStatusEscape) st_reset(status);
  if (status != kStatusGood) return;
  if (redraw) draw_image();
  int retstat = 0;
  IO_SET_IKEYVALUE("Z_SCALING_MODE", mode, retstat, status);
  IO_SET_RKEYVALUE("Z_SCALING_MINIMUM", minimum, retstat, status);
  IO_SET_RKEYVALUE("Z_SCALING_MAXIMUM", maximum, retstat, status);
  IO_SET_LKEYVALUE("Z_SCALING_LOG", log, retstat, status);
}

}  // namespace kesta
