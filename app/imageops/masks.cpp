#include "app/imageops/masks.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/one_d_mask.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "numeric/geometry.hpp"
#include "numeric/polygon.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

constexpr double kTwoPi = 6.283185;

struct MaskAnswers {
  float arc_width = 9.0f;
  bool less_than = true;
  float threshold = 1.0f;
};

static const std::string kMenu[] = {
    "EXIT",           "?",              "CLEAR MASK",     "ZOOM IN",
    "UN-ZOOM",        "FULL UN-ZOOM",   "MASK PEAKS (5)", "MASK PEAKS (9)",
    "MASK PEAKS (15)", "MASK PEAKS (27)", "MASK POLYGON",  "UN-MASK POLYGON",
    "UPDATE DISPLAY", "Z-SCALING",      "MASK ARC",       "THRESHOLD MASK"};
static const std::string kMenuHelp[] = {
    "EXIT: Exit from sub-menu",
    "?: Display list of commands with short description",
    "CLEAR MASK: Un-mask all elements",
    "ZOOM IN: Graphical region definition",
    "UN-ZOOM: Make region displayed bigger",
    "FULL UN-ZOOM: View whole of data image",
    "MASK PEAKS (5): Mask out peaks (Diameter 5 pixels)",
    "MASK PEAKS (9): Mask out peaks (Diameter 9 pixels)",
    "MASK PEAKS (15): Mask out peaks (Diameter 15 pixels)",
    "MASK PEAKS (27): Mask out peaks (Diameter 27 pixels)",
    "MASK POLYGON: Coordinate definition of region to mask off",
    "UN-MASK POLYGON: Coordinate definition of region to un-mask",
    "UPDATE DISPLAY: Redraw image, including masked regions",
    "Z-SCALING: Automatic or user control of intensity display range",
    "MASK ARC: Enter three coordinates plus width to define arc mask",
    "THRESHOLD MASK: Use data values to define masked pixels"};
constexpr int kNumMenu = 16;

// A real index from a coordinate that may lie far outside the data.
Index index_of(double v) { return static_cast<Index>(std::clamp(v, -1.0e15, 1.0e15)); }

// The displayed image's region check; true when refused.
bool image_refused(const char* position, const GsDisplayedImage& im,
                   std::span<const std::uint8_t> mask, Status& status) {
  if (kzt_region_refused(position, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                         im.yendelm, status, {im.data.size(), mask.size()}))
    return true;
  if (std::ssize(im.xaxis) < im.xmaxdat || std::ssize(im.yaxis) < im.ymaxdat) {
    st_fail(status, kBaseApp + 1, position);
    return true;
  }
  return false;
}

// Clicked points on the displayed image; false after an escape (STATUS
// reset) or when fewer than WANTED points came.
bool clicked(const GsDisplayedImage& im, std::string_view prompt, TextLines help, bool join,
             int max, int wanted, int& num, std::span<float> x, std::span<float> y,
             Status& status) {
  float gx1 = 0, gy1 = 0, gx2 = 0, gy2 = 0;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  num = wanted;
  GS_INPS_COORDINATES(false, im, gx1, gy1, gx2, gy2, prompt, static_cast<int>(help.size()),
                      help.view(), join, max, num, x, y, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  return status == kStatusGood && num >= std::max(wanted, 1);
}

void wait_box(std::string_view text, Status& status) {
  float gx1 = 0, gy1 = 0, gx2 = 0, gy2 = 0;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  GS_PROMPT(true, 1, 1, {std::string(text)}, gx1, gy1, gx2, gy2, status);
  GS_UPDATE(status);
}

}  // namespace

void kzt_mask_peaks(Index xmaxdat, Index xnumdat, Index ynumdat, std::span<const float> px,
                    std::span<const float> py, float radius, std::span<std::uint8_t> mask) {
  const Index w = std::lround(radius);
  const double r2 = static_cast<double>(radius) * radius;
  for (std::size_t k = 0; k < std::min(px.size(), py.size()); ++k) {
    const Index cx = index_of(std::trunc(px[k])) + 1;
    const Index cy = index_of(std::trunc(py[k])) + 1;
    for (Index j = std::max<Index>(1, cy - w); j <= std::min(ynumdat, cy + w); ++j)
      for (Index i = std::max<Index>(1, cx - w); i <= std::min(xnumdat, cx + w); ++i) {
        const double di = static_cast<double>(i - cx), dj = static_cast<double>(j - cy);
        if (di * di + dj * dj <= r2) mask[element(i, j, xmaxdat)] = 1;
      }
  }
}

void kzt_mask_polygon(Index xmaxdat, Index xnumdat, Index ynumdat, std::span<const float> xaxis,
                      std::span<const float> yaxis, std::span<const float> vx,
                      std::span<const float> vy, bool mask_on, std::span<std::uint8_t> mask,
                      Status& status) {
  const std::size_t n = std::min(vx.size(), vy.size());
  if (n < 2 || status != kStatusGood) return;
  std::vector<float> x(vx.begin(), vx.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<float> y(vy.begin(), vy.begin() + static_cast<std::ptrdiff_t>(n));
  x.push_back(x.front());
  y.push_back(y.front());
  const Index count = std::ssize(x);
  constexpr Index kWork = 800, kTable = 200;
  std::vector<float> w(kWork);
  std::vector<std::int16_t> lnd(2 * kTable);
  MA_GA05A(count, 1, w, kWork, lnd, kTable, x, y, {}, {}, {});
  const auto [xlow, xhigh] = std::minmax_element(x.begin(), x.end());
  const auto [ylow, yhigh] = std::minmax_element(y.begin(), y.end());
  Index i1 = 1, i2 = 1, j1 = 1, j2 = 1;
  const Index ymaxdat = std::ssize(yaxis);
  GS_CAL_WCTOPIX(xmaxdat, xnumdat, xaxis, *xlow, i1, status);
  GS_CAL_WCTOPIX(xmaxdat, xnumdat, xaxis, *xhigh, i2, status);
  GS_CAL_WCTOPIX(ymaxdat, ynumdat, yaxis, *ylow, j1, status);
  GS_CAL_WCTOPIX(ymaxdat, ynumdat, yaxis, *yhigh, j2, status);
  if (status != kStatusGood) return;
  const std::uint8_t value = mask_on ? 1 : 0;
  for (Index j = std::max<Index>(j1, 1); j <= std::min(j2, ynumdat); ++j) {
    const float yp = yaxis[j - 1];
    std::uint8_t* row = mask.data() + element(1, j, xmaxdat);
    for (Index i = std::max<Index>(i1, 1); i <= std::min(i2, xnumdat); ++i) {
      float r = 0.0f;
      MA_GA05B(xaxis[i - 1], yp, r, count, 1, w, kWork, lnd, kTable, x, y, {}, {}, {});
      if (r >= 0.0f) row[i - 1] = value;
    }
  }
}

bool kzt_mask_arc(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  const std::array<float, 3>& px, const std::array<float, 3>& py, float width,
                  std::span<std::uint8_t> mask, Status& status) {
  int result = 0;
  float xcf = 0.0f, ycf = 0.0f, rf = 0.0f;
  MA_CAL_CIRCENTRE(px[0], py[0], px[1], py[1], px[2], py[2], result, xcf, ycf, rf, status);
  if (status != kStatusGood || result != 0) return false;
  const double xc = xcf, yc = ycf, r = rf;
  auto angle = [&](double x, double y) {
    const double a = std::atan2(y - yc, x - xc);
    return a < 0.0 ? a + kTwoPi : a;
  };
  double start = angle(px[0], py[0]);
  double end = angle(px[2], py[2]);
  bool degenerate = false;
  int turn = 0;
  MA_CLOCKWISE(px[0], py[0], px[1], py[1], px[2], py[2], degenerate, turn, status);
  if (turn == 1) std::swap(start, end);
  const bool wrap = start > end;
  if (wrap) start -= kTwoPi;
  auto within = [&](double a) {
    return (a >= start && a <= end) || (wrap && a - kTwoPi >= start && a - kTwoPi <= end);
  };

  double x1 = std::min({px[0], px[1], px[2]}), x2 = std::max({px[0], px[1], px[2]});
  double y1 = std::min({py[0], py[1], py[2]}), y2 = std::max({py[0], py[1], py[2]});
  if (within(0.0)) x2 = std::max(x2, xc + r);
  if (within(1.5707963)) y2 = std::max(y2, yc + r);
  if (within(3.1415925)) x1 = std::min(x1, xc - r);
  if (within(4.712389)) y1 = std::min(y1, yc - r);
  const double half = width / 2.0;
  const Index bi1 = std::max(index_of(x1 - half) + 1, xstrelm);
  const Index bi2 = std::min(index_of(x2 + half) + 1, xendelm);
  const Index bj1 = std::max(index_of(y1 - half) + 1, ystrelm);
  const Index bj2 = std::min(index_of(y2 + half) + 1, yendelm);

  // Only the pixels near the band are tested: per row the centres within
  // the outer circle and, where the row crosses the inner circle, outside it
  // (a pixel of margin on each side; the exact test decides).
  const double inner = std::max(0.0, r - half), outer = r + half;
  const double in2 = inner * inner, out2 = outer * outer;
  auto test_span = [&](Index j, double dy2, double from, double to) {
    const Index i1 = std::max(bi1, index_of(std::floor(from + 0.5)) - 1);
    const Index i2 = std::min(bi2, index_of(std::ceil(to + 0.5)) + 1);
    std::uint8_t* row = mask.data() + element(1, j, xmaxdat);
    for (Index i = i1; i <= i2; ++i) {
      const double dx = static_cast<double>(i) - 0.5 - xc;
      const double d2 = dx * dx + dy2;
      if (d2 >= in2 && d2 <= out2 && within(angle(static_cast<double>(i) - 0.5,
                                                   static_cast<double>(j) - 0.5)))
        row[i - 1] = 1;
    }
  };
  for (Index j = bj1; j <= bj2; ++j) {
    const double dy = static_cast<double>(j) - 0.5 - yc;
    const double dy2 = dy * dy;
    if (dy2 > out2) continue;
    const double xo = std::sqrt(out2 - dy2);
    if (dy2 < in2) {
      const double xi = std::sqrt(in2 - dy2);
      test_span(j, dy2, xc - xo, xc - xi);
      test_span(j, dy2, xc + xi, xc + xo);
    } else {
      test_span(j, dy2, xc - xo, xc + xo);
    }
  }
  return true;
}

void kzt_mask_threshold(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        std::span<const float> data, bool less_than, float value,
                        std::span<std::uint8_t> mask) {
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    const float* d = data.data() + offset;
    std::uint8_t* m = mask.data() + offset;
    if (less_than) {
      for (Index i = 0; i < n; ++i) m[i] = d[i] < value ? std::uint8_t{1} : m[i];
    } else {
      for (Index i = 0; i < n; ++i) m[i] = d[i] > value ? std::uint8_t{1} : m[i];
    }
  });
}

void KZT_MASKPEAKS(const GsDisplayedImage& im, Index xnumdat, Index ynumdat,
                   std::span<std::uint8_t> mask, float radius, Status& status) {
  if (image_refused("Subroutine KZT_MASKPEAKS V0.6", im, mask, status)) return;
  constexpr int kMax = 200;
  std::vector<float> x(kMax), y(kMax);
  int num = 0;
  if (!clicked(im, "CLICK ON PEAKS TO REMOVE",
               {"Click on coordinates to define centre of",
                "circular regions to mask-out. Click in prompt",
                "test region to end defining coordinates."},
               false, kMax, 0, num, x, y, status))
    return;
  for (int k = 0; k < num; ++k) {
    MA_DC2PIXC(im.xmaxdat, xnumdat, im.xaxis, x[k], x[k], status);
    MA_DC2PIXC(im.ymaxdat, ynumdat, im.yaxis, y[k], y[k], status);
  }
  if (status != kStatusGood) return;
  kzt_mask_peaks(im.xmaxdat, xnumdat, ynumdat, std::span(x).first(num), std::span(y).first(num),
                 radius, mask);
}

void KZT_MASKPOLYGON(const GsDisplayedImage& im, Index xnumdat, Index ynumdat, bool mask_on,
                     std::span<std::uint8_t> mask, Status& status) {
  if (image_refused("Subroutine KZT_MASKPOLYGON V0.9", im, mask, status)) return;
  constexpr int kMax = 199;
  std::vector<float> x(kMax), y(kMax);
  int num = 0;
  if (!clicked(im, "ENTER COORDINATES OF MASKED REGION",
               {"Click on coordinates to define vertices of",
                "polygon region. (Clicking just outside the",
                "image region is equivalent to clicking on",
                "the edge.) Click in the prompt text box to", "finish entering vertices."},
               true, kMax, 0, num, x, y, status) ||
      num < 2)
    return;
  wait_box("PLEASE WAIT: CALCULATING POLYGON MASK", status);
  kzt_mask_polygon(im.xmaxdat, xnumdat, ynumdat, im.xaxis, im.yaxis.first(im.ymaxdat),
                   std::span(x).first(num), std::span(y).first(num), mask_on, mask, status);
}

void KZT_MASKARC(const GsDisplayedImage& im, std::span<std::uint8_t> mask, Status& status) {
  if (image_refused("Subroutine KZT_MASKARC V0.3", im, mask, status)) return;
  std::array<float, 3> x{}, y{};
  int num = 0;
  if (!clicked(im, "ENTER ARC THREE COORDINATES (START, MIDDLE, END)",
               {"In order to define an arc, three coordinates must",
                "be input in the following order: starting point,",
                "a point on the arc, and the end point. Note that",
                "(This option can be used to define a  straight", "line !)"},
               false, 3, 3, num, x, y, status))
    return;
  for (std::size_t k = 0; k < 3; ++k) {
    MA_DC2PIXC(im.xmaxdat, im.xendelm, im.xaxis, x[k], x[k], status);
    MA_DC2PIXC(im.ymaxdat, im.yendelm, im.yaxis, y[k], y[k], status);
  }
  if (status != kStatusGood) return;
  int result = 0;
  float xc = 0, yc = 0, r = 0;
  MA_CAL_CIRCENTRE(x[0], y[0], x[1], y[1], x[2], y[2], result, xc, yc, r, status);
  if (result != 0) {
    IO_WRITE("WARNING: Arc centre cannot be calculated", status);
    return;
  }
  MaskAnswers answers = remembered<MaskAnswers>();
  GS_INPR(true, 0.5f, 100.0f, true, "WIDTH OF ARC (PIXELS)",
          {"Enter number of pixels for width of masking arc"},
          {"Enter integer within given range"}, answers.arc_width, status);
  if (status == kStatusEscape) st_reset(status);
  if (status != kStatusGood) return;
  remembered<MaskAnswers>().arc_width = answers.arc_width;
  kzt_mask_arc(im.xmaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, x, y,
               answers.arc_width, mask, status);
}

void KZT_MASKTHRESHOLD(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                       Index xendelm, Index yendelm, std::span<const float> data,
                       std::span<std::uint8_t> mask, Status& status) {
  if (kzt_region_refused("Subroutine KZT_MASKTHRESHOLD V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size(), mask.size()}))
    return;
  IO_WRITE("INFO: This option allows masked-off elements with the ADR to be defined", status);
  IO_WRITE("      automatically depending on the data values. The user can set a ", status);
  IO_WRITE("      threshold operation (<GREATER THAN> or <LESS THAN>) and a", status);
  IO_WRITE("      threshold level. All data values which CONFORM WITH the defined", status);
  IO_WRITE("      test will be set to be masked-off. All others will be changed. ", status);
  if (!gui) {
    IO_WRITE("", status);
    IO_WRITE("WARNING: This option used to also \"un-mask\" elements; this behaviour", status);
    IO_WRITE("         has been changed so now elements are only masked or left", status);
    IO_WRITE("         in their previous state. To un-mask elements, use \"CLEAR", status);
    IO_WRITE("         MASK\" before this command.", status);
    IO_WRITE("", status);
  }
  MaskAnswers answers = remembered<MaskAnswers>();
  static const std::string kLessHelp[] = {
      "\"YES\" if mask elements are to be selected by a lesser than comparison", "(exclusive),",
      "\"NO\" if mask elements are to be selected by a greater than comparison", "(exclusive)"};
  if (gui) {
    GS_INPL(false, false, false, true, "LESS THAN COMPARISON", kLessHelp,
            {"Enter \"YES\" or \"NO\""}, answers.less_than, status);
    GS_INPR(false, 0.0f, 0.0f, true, "DECISION THRESHOLD DATA VALUE",
            {"Input pixel data value for threshold decision"}, {"Enter real number"},
            answers.threshold, status);
  } else {
    IO_INPL(false, false, false, true, "LESS THAN COMPARISON", kLessHelp,
            {"Enter \"YES\" or \"NO\""}, answers.less_than, status);
    IO_INPR(false, 0.0f, 0.0f, true, "DECISION THRESHOLD DATA VALUE",
            {"Input pixel data value for threshold decision"}, {"Enter real number"},
            answers.threshold, status);
  }
  if (status == kStatusEscape) st_reset(status);
  if (status != kStatusGood) return;
  remembered<MaskAnswers>() = answers;
  if (gui) wait_box("CALCULATING MASK: PLEASE WAIT", status);
  kzt_mask_threshold(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, answers.less_than,
                     answers.threshold, mask);
}

void KZT_MASK(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
              std::span<const float> data, std::span<const float> xaxis,
              std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
              std::string_view ylabel, std::string_view zlabel, float xpixsize, float ypixsize,
              Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
              std::span<std::uint8_t> mask, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_MASK V0.15";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mask.size()}))
    return;
  if (std::ssize(xaxis) < xmaxdat || std::ssize(yaxis) < ymaxdat || xnumdat < xendelm ||
      ynumdat < yendelm || xnumdat > xmaxdat || ynumdat > ymaxdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  if (xstrelm == xendelm || ystrelm == yendelm) {
    KZT_1DMASK(gui, xmaxdat, ymaxdat, xnumdat, ynumdat, data, xaxis, yaxis, title, xlabel, ylabel,
               zlabel, xpixsize, ypixsize, xstrelm, ystrelm, xendelm, yendelm, mask, status);
    return;
  }
  float gx1 = 0, gy1 = 0, gx2 = 0, gy2 = 0;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  bool redraw_image = !gui;
  bool redraw_menu = true;
  while (status == kStatusGood) {
    if (redraw_image) {
      GS_MPLOT(true, xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
               yendelm, title, xlabel, ylabel, zlabel, status);
      redraw_menu = true;
    }
    if (redraw_menu) {
      GS_SET_MENULAYOUT(0, 4, 12, 17, status);
      GS_FMENU(1, 1, {"FIT: MASK MENU"}, kNumMenu, kNumMenu, kMenu, status);
    }
    redraw_image = redraw_menu = true;
    int input_type = kGsChoiceNone;
    std::string choice = "null";
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kNumMenu, kNumMenu, kMenu, 2, input_type, choice, x, y, status);
    if (status != kStatusGood) break;  // the input has ended: leave the menu
    const GsDisplayedImage im =
        kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
                            xaxis, yaxis, title, xlabel, ylabel, zlabel);
    if (input_type == kGsChoicePoint) {
      KZT_CLICK(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data, title,
                xlabel, ylabel, zlabel, x, y, xpixsize, ypixsize, redraw_image, redraw_menu,
                status);
    } else if (input_type == kGsChoiceRedraw) {
      // both redrawn
    } else if (input_type != kGsChoiceButton || choice.empty()) {
      redraw_image = redraw_menu = false;
    } else if (choice == "EXIT") {
      break;
    } else if (choice == "?") {
      GS_MESSAGE(kNumMenu, kNumMenu, kMenuHelp, status);
    } else if (choice == "CLEAR MASK") {
      MA_L1VALUE(xmaxdat, ymaxdat, 1, 1, xnumdat, ynumdat, 0, mask, status);
    } else if (choice == "FULL UN-ZOOM") {
      xstrelm = ystrelm = 1;
      xendelm = xnumdat;
      yendelm = ynumdat;
    } else if (choice.starts_with("MASK PEAKS")) {
      const float radius = choice == "MASK PEAKS (5)"   ? 2.5f
                           : choice == "MASK PEAKS (9)" ? 4.55f
                           : choice == "MASK PEAKS (15)" ? 7.55f
                                                         : 13.55f;
      KZT_MASKPEAKS(im, xnumdat, ynumdat, mask, radius, status);
    } else if (choice == "MASK POLYGON" || choice == "UN-MASK POLYGON") {
      KZT_MASKPOLYGON(im, xnumdat, ynumdat, choice == "MASK POLYGON", mask, status);
    } else if (choice == "UN-ZOOM") {
      GS_INP_UNZOOM(xmaxdat, ymaxdat, xnumdat, ynumdat, xstrelm, ystrelm, xendelm, yendelm,
                    status);
    } else if (choice == "ZOOM IN") {
      KZT_ZOOMIN(xmaxdat, ymaxdat, xnumdat, ynumdat, xaxis, yaxis, data, title, xlabel, ylabel,
                 zlabel, xstrelm, ystrelm, xendelm, yendelm, status);
    } else if (choice == "Z-SCALING") {
      KZT_GUI_ZSCALE(xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
                     yendelm, title, xlabel, ylabel, zlabel, false, 0.0f, 0.0f, status);
      redraw_image = false;
    } else if (choice == "MASK ARC") {
      KZT_MASKARC(im, mask, status);
    } else if (choice == "THRESHOLD MASK") {
      KZT_MASKTHRESHOLD(true, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
                        status);
    } else if (choice != "UPDATE DISPLAY") {
      redraw_image = redraw_menu = false;
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
