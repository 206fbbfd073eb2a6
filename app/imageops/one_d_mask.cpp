#include "app/imageops/one_d_mask.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

static const std::string kMenu[] = {"EXIT",    "CLEAR MASK",  "ZOOM IN", "?",
                                    "UN-ZOOM", "MASK REGION", "HELP",    "UN-MASK REGION"};
static const std::string kMenuHelp[] = {
    "EXIT: Exit from sub-menu",
    "CLEAR MASK: Un-mask all elements",
    "ZOOM IN: Graphical region definition",
    "?: Display list of commands with short description",
    "UN-ZOOM: Make region displayed bigger",
    "MASK REGION: Define masked off rectangular region",
    "HELP: Explanation of masking menu",
    "UN-MASK REGION: Un-mask rectangular region"};
constexpr int kNumMenu = 8;

static const std::string kHelpPage[] = {
    "                    1-D DATA MASKING",
    "                    Graphical Menu",
    "",
    "The curve is drawn with its masked points in the masking colour",
    "(red by default). Masked points are ignored by the fits.",
    "",
    "MASK REGION: click on two opposite corners of a rectangle; every",
    "point inside it (X between the two X positions and value between",
    "the two Y positions) is masked off.",
    "UN-MASK REGION: the same, but the points are made usable again.",
    "CLEAR MASK: every point of the displayed range is made usable.",
    "ZOOM IN and UN-ZOOM change the displayed range; a click on the graph",
    "beside the menu shows the position clicked.",
    "EXIT: leave the menu; the displayed range is the range used."};

// The displayed line: a row (ROW) or a column of the data.
struct Line {
  bool row = true;
  Index first = 1, last = 1, origin = 0, stride = 1;
  std::span<const float> axis;
};

Line line_of(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
             std::span<const float> xaxis, std::span<const float> yaxis) {
  Line l;
  l.row = ystrelm == yendelm;
  if (l.row) {
    l.first = xstrelm;
    l.last = xendelm;
    l.origin = element(1, ystrelm, xmaxdat);
    l.stride = 1;
    l.axis = xaxis;
  } else {
    l.first = ystrelm;
    l.last = yendelm;
    l.origin = element(xstrelm, 1, xmaxdat);
    l.stride = xmaxdat;
    l.axis = yaxis;
  }
  return l;
}

bool log_values() {
  bool log = false;
  Status local = kStatusGood;
  if (qg_db_system.system_open != 0) QG_INQ_LOGZSCALING(log, local);
  return log && local == kStatusGood;
}

}  // namespace

void kzt_1d_mask_region(std::span<const float> axis, Index first, Index last,
                        std::span<const float> data, std::span<std::uint8_t> mask, Index origin,
                        Index stride, float x1, float y1, float x2, float y2, bool log_y,
                        bool mask_on) {
  const float xlow = std::min(x1, x2), xhigh = std::max(x1, x2);
  const float ylow = std::min(y1, y2), yhigh = std::max(y1, y2);
  for (Index k = first; k <= last; ++k) {
    const Index at = origin + (k - 1) * stride;
    const float x = axis[k - 1];
    float v = data[at];
    if (log_y) v = std::log10(std::max(v, 1.0e-30f));
    if (x >= xlow && x <= xhigh && v >= ylow && v <= yhigh) mask[at] = mask_on ? 1 : 0;
  }
}

void KZT_1DMASKHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_1DMASKHELP V0.1")) return;
  constexpr int kLines = static_cast<int>(std::size(kHelpPage));
  if (gui)
    GS_MESSAGE(kLines, kLines, kHelpPage, status);
  else
    for (const std::string& line : kHelpPage) IO_WRITE(line, status);
}

void KZT_1DMASK(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                std::span<const float> data, std::span<const float> xaxis,
                std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, float x_pixel_size,
                float y_pixel_size, Index& xstrelm, Index& ystrelm, Index& xendelm,
                Index& yendelm, std::span<std::uint8_t> mask, Status& status,
                std::string_view prompt) {
  constexpr const char* kPosition = "Subroutine KZT_1DMASK V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mask.size()}))
    return;
  if (std::ssize(xaxis) < xmaxdat || std::ssize(yaxis) < ymaxdat || xnumdat > xmaxdat ||
      ynumdat > ymaxdat || xnumdat < xendelm || ynumdat < yendelm)
    return st_fail(status, kBaseApp + 1, kPosition);
  std::vector<std::string> titles{"FIT: MASK MENU"};
  if (!prompt.empty()) titles.emplace_back(prompt);
  float gx1 = 0, gy1 = 0, gx2 = 0, gy2 = 0;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  bool redraw = true;
  while (status == kStatusGood) {
    if (redraw) {
      GS_MPLOT(true, xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
               yendelm, title, xlabel, ylabel, zlabel, status);
      GS_SET_MENULAYOUT(0, 4, 20, 15, status);
      GS_FMENU(static_cast<int>(titles.size()), static_cast<int>(titles.size()), titles,
               kNumMenu, kNumMenu, kMenu, status);
    }
    redraw = true;
    int input_type = kGsChoiceNone;
    std::string choice;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kNumMenu, kNumMenu, kMenu, 2, input_type, choice, x, y, status);
    if (status != kStatusGood) break;  // the input has ended: leave the menu
    const Line line = line_of(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis);
    if (input_type == kGsChoicePoint) {
      bool update_image = false, update_menu = false;
      KZT_CLICK(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data, title,
                xlabel, ylabel, zlabel, x, y, x_pixel_size, y_pixel_size, update_image,
                update_menu, status);
      redraw = update_menu;
    } else if (input_type != kGsChoiceButton && input_type != kGsChoiceRedraw) {
      redraw = false;
    } else if (input_type == kGsChoiceRedraw) {
      // redrawn
    } else if (choice == "EXIT") {
      break;
    } else if (choice == "?") {
      GS_MESSAGE(kNumMenu, kNumMenu, kMenuHelp, status);
    } else if (choice == "HELP") {
      KZT_1DMASKHELP(true, status);
    } else if (choice == "CLEAR MASK") {
      for (Index k = line.first; k <= line.last; ++k) mask[line.origin + (k - 1) * line.stride] = 0;
    } else if (choice == "ZOOM IN") {
      KZT_ZOOMIN(xmaxdat, ymaxdat, xnumdat, ynumdat, xaxis, yaxis, data, title, xlabel, ylabel,
                 zlabel, xstrelm, ystrelm, xendelm, yendelm, status);
    } else if (choice == "UN-ZOOM") {
      // Only the line's own direction widens.
      Index xs = xstrelm, ys = ystrelm, xe = xendelm, ye = yendelm;
      GS_INP_UNZOOM(xmaxdat, ymaxdat, xnumdat, ynumdat, xs, ys, xe, ye, status);
      if (line.row) {
        xstrelm = xs;
        xendelm = xe;
      } else {
        ystrelm = ys;
        yendelm = ye;
      }
      GS_SET_AUTODDR(true, true, true, true, status);
    } else if (choice == "MASK REGION" || choice == "UN-MASK REGION") {
      const GsDisplayedImage im =
          kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
                              xaxis, yaxis, title, xlabel, ylabel, zlabel);
      std::array<float, 2> cx{}, cy{};
      int num = 2;
      GS_INPS_COORDINATES(false, im, gx1, gy1, gx2, gy2,
                          "CLICK ON OPPOSITE CORNERS OF THE RECTANGLE", 1,
                          {"Click on 2 X/Y coordinates, to define rectangle"}, false, 2, num, cx,
                          cy, status);
      if (status == kStatusGood && num == 2)
        kzt_1d_mask_region(line.axis, line.first, line.last, data, mask, line.origin, line.stride,
                           cx[0], cy[0], cx[1], cy[1], log_values(), choice == "MASK REGION");
    } else {
      redraw = false;
    }
    if (status == kStatusEscape) st_reset(status);
  }
  if (status == kStatusEscape) st_reset(status);
  if (!gui) {
    Status local = kStatusGood;
    GS_PROMPT(true, 1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, gx1, gy1, gx2, gy2, local);
    GS_UPDATE(local);
  }
}

}  // namespace kesta
