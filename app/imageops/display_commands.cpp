#include "app/imageops/display_commands.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/ask_again.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

// A zoomed range along one direction: START..END inside 1..NUM, two pixels
// at the edge beyond which both points lay.
void zoom_range(float p1, float p2, Index num, Index& start, Index& end) {
  auto pixel = [](float p) {
    return static_cast<Index>(std::clamp(std::trunc(p), -1.0e15f, 1.0e15f)) + 1;
  };
  start = std::max<Index>(std::min(pixel(p1), pixel(p2)), 1);
  end = std::min(std::max(pixel(p1), pixel(p2)), num);
  if (end >= start) return;
  if (start > num) {  // both beyond the far edge
    start = std::max<Index>(num - 1, 1);
    end = num;
  } else {  // both before the first pixel
    start = 1;
    end = std::min<Index>(2, num);
  }
}

}  // namespace

void KZT_FULL(Index xnumdat, Index ynumdat, Index& xstrelm, Index& ystrelm, Index& xendelm,
              Index& yendelm, Status& status) {
  if (st_bad(status, "Subroutine KZT_FULL V0.1")) return;
  const bool one_dimensional = xstrelm == xendelm || ystrelm == yendelm;
  if (one_dimensional) {
    bool xmin_auto = false, ymin_auto = false, xmax_auto = false, ymax_auto = false;
    GS_INQ_AUTODDR(xmin_auto, ymin_auto, xmax_auto, ymax_auto, status);
    if (!(xmin_auto && ymin_auto && ymax_auto)) {
      GS_SET_AUTODDR(true, true, true, true, status);
      // Only the long direction widens; the single row or column stays.
      if (ystrelm != yendelm) {
        ystrelm = 1;
        yendelm = ynumdat;
      } else {
        xstrelm = 1;
        xendelm = xnumdat;
      }
      return;
    }
  }
  xstrelm = 1;
  ystrelm = 1;
  xendelm = xnumdat;
  yendelm = ynumdat;
}

void KZT_PIXELREGION(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat, Index& xstrelm,
                     Index& ystrelm, Index& xendelm, Index& yendelm, Status& status) {
  if (kzt_region_refused("Subroutine KZT_PIXELREGION V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status))
    return;
  // The prompts take int ranges; the defined extent lies within them.
  const int xnum = static_cast<int>(std::clamp<Index>(xnumdat, 1, 2147483647));
  const int ynum = static_cast<int>(std::clamp<Index>(ynumdat, 1, 2147483647));
  auto proposed = [](Index v, int lower, int upper) {
    return static_cast<int>(std::clamp<Index>(v, lower, upper));
  };
  int xs = proposed(xstrelm, 1, xnum);
  int ys = proposed(ystrelm, 1, ynum);
  const std::string error = "Enter integer within given range";
  IO_INPI(true, 1, xnum, true, "X-LOWER LIMIT",
          {"Enter integer to define lower X-limit of active data region"}, {error}, xs, status);
  IO_INPI(true, 1, ynum, true, "Y-LOWER LIMIT",
          {"Enter integer to define lower Y-limit of active data region"}, {error}, ys, status);
  if (status != kStatusGood) return;
  int xe = proposed(xendelm, xs, xnum);
  int ye = proposed(yendelm, ys, ynum);
  IO_INPI(true, xs, xnum, true, "X-UPPER LIMIT",
          {"Enter integer to define upper X-limit of active data region"}, {error}, xe, status);
  IO_INPI(true, ys, ynum, true, "Y-UPPER LIMIT",
          {"Enter integer to define upper Y-limit of active data region"}, {error}, ye, status);
  if (status != kStatusGood) return;
  xstrelm = xs;
  ystrelm = ys;
  xendelm = xe;
  yendelm = ye;
}

void kzt_zoom_region(float x1, float y1, float x2, float y2, Index xnumdat, Index ynumdat,
                     Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
                     Status& status) {
  if (st_bad(status, "Subroutine KZT_ZOOMIN V0.1")) return;
  zoom_range(x1, x2, xnumdat, xstrelm, xendelm);
  zoom_range(y1, y2, ynumdat, ystrelm, yendelm);
  IO_WRITE("INFO: Zoom pixel region = (" + format_i(xstrelm, 6) + ", " + format_i(ystrelm, 6) +
               ") to (" + format_i(xendelm, 6) + ", " + format_i(yendelm, 6) + ")",
           status);
}

void KZT_ZOOMIN(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                std::span<const float> xaxis, std::span<const float> yaxis,
                std::span<const float> data, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, Index& xstrelm, Index& ystrelm,
                Index& xendelm, Index& yendelm, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_ZOOMIN V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (xnumdat < 1 || xnumdat > xmaxdat || ynumdat < 1 || ynumdat > ymaxdat ||
      std::ssize(xaxis) < xnumdat || std::ssize(yaxis) < ynumdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  const auto escaped = [&status] {
    if (status == kStatusEscape) st_reset(status);
    return true;
  };

  if (xstrelm == xendelm || ystrelm == yendelm) {
    // A single row or column: its long direction is the graph's X axis.
    GS_INP_XYREGION(status);
    if (status != kStatusGood && escaped()) return;
    float xmin = 0.0f, ymin = 0.0f, xmax = 0.0f, ymax = 0.0f;
    GS_INQ_DDR(xmin, ymin, xmax, ymax, status);
    const bool along_y = xstrelm == xendelm && ystrelm != yendelm;
    const Index maxdim = along_y ? ymaxdat : xmaxdat;
    const Index num = along_y ? ynumdat : xnumdat;
    const std::span<const float> axis = along_y ? yaxis : xaxis;
    float pmin = 0.0f, pmax = 0.0f;
    MA_DC2PIXC(maxdim, num, axis, xmin, pmin, status);
    MA_DC2PIXC(maxdim, num, axis, xmax, pmax, status);
    if (status != kStatusGood) return;
    // (On a decreasing axis, a d-spacing scan, the graph's left edge is the
    // higher pixel.)
    if (pmin > pmax) std::swap(pmin, pmax);
    // MA_DC2PIXC keeps pixel coordinates within 0..NUM.
    const Index start = std::max<Index>(static_cast<Index>(pmin) + 1, 1);
    const Index end = std::min<Index>(static_cast<Index>(pmax) + 1, num);
    (along_y ? ystrelm : xstrelm) = start;
    (along_y ? yendelm : xendelm) = end;
    IO_WRITE("INFO: Zoom pixel region = " + format_i(start, 6) + ": " + format_i(end, 6), status);
    return;
  }

  const GsDisplayedImage image =
      kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, {}, xaxis,
                          yaxis, title, xlabel, ylabel, zlabel);
  std::array<float, 2> x{}, y{};
  int num = 2;
  GS_INPS_FCOORDINATES(false, image, "CLICK ON OPPOSITE CORNERS OF NEW REGION", 4,
                       {"Click on two coordinates to define required",
                        "zoom in region. Clicking just outside the",
                        "image region is equivalent to clicking on", "the very edge."},
                       false, 2, num, x, y, status);
  if (status != kStatusGood && escaped()) return;
  if (num < 2) return;
  std::array<float, 2> px{}, py{};
  for (std::size_t k = 0; k < 2; ++k) {
    MA_DC2PIXC(xmaxdat, xnumdat, xaxis, x[k], px[k], status);
    MA_DC2PIXC(ymaxdat, ynumdat, yaxis, y[k], py[k], status);
  }
  kzt_zoom_region(px[0], py[0], px[1], py[1], xnumdat, ynumdat, xstrelm, ystrelm, xendelm,
                  yendelm, status);
}

void KZT_POSITION(Status& status) {
  if (st_bad(status, "Subroutine KZT_POSITION V0.1")) return;
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
  GS_INP_PC(gx1, gy1, gx2, gy2, "CLICK ON A CORNER OF REQUIRED DISPLAY REGION", 1,
            {"CLICK ON A CORNER OF DISPLAY REGION"}, x1, y1, status);
  GS_INP_PC(gx1, gy1, gx2, gy2, "CLICK ON OPPOSITE CORNER OF REQUIRED DISPLAY REGION", 1,
            {"CLICK ON OPPOSITE CORNER OF DISPLAY REGION"}, x2, y2, status);
  if (status != kStatusGood) return;
  GS_SET_GPP(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2), status);
}

void kzt_graph_range_follows(int mode, float minimum, float maximum, Status& status) {
  float xmin = 0.0f, ymin = 0.0f, xmax = 0.0f, ymax = 0.0f;
  GS_INQ_DDR(xmin, ymin, xmax, ymax, status);
  switch (mode) {
    case 0:
      GS_SET_AUTODDR(true, true, true, true, status);
      break;
    case 1:
      GS_SET_AUTODDR(true, false, true, false, status);
      GS_SET_DDR(xmin, minimum, xmax, maximum, status);
      break;
    case 2:
      GS_SET_AUTODDR(true, false, true, true, status);
      GS_SET_DDR(xmin, minimum, xmax, minimum + 1.0f, status);
      break;
    case 3:
      GS_SET_AUTODDR(true, true, true, false, status);
      GS_SET_DDR(xmin, maximum - 1.0f, xmax, maximum, status);
      break;
    default:
      break;
  }
}

void KZT_ZSCALE(Status& status) {
  if (st_bad(status, "Subroutine KZT_ZSCALE V0.1")) return;
  struct Scaling {
    int mode = 0;
    float minimum = 0.0f, maximum = 0.0f;
  } scaling;
  GS_INQ_IMAGESCALE(scaling.mode, scaling.minimum, scaling.maximum, status);
  if (!io_ask_until_accepted(
          scaling,
          [](Scaling& z, Status& s) {
            IO_INPI(true, 0, 4, true, "IMAGE Z-SCALING MODE",
                    {"Enter scaling mode for Z-axis (intensity) of 2-D data:",
                     " 0 = Automatic full data range", " 1 = User set minimum and maximum",
                     " 2 = User set minimum, but automatic maximum",
                     " 3 = Automatic minimum, and user set maximum",
                     " 4 = Automatic \"weak diffraction peak\" scaling"},
                    {"Enter integer in given range"}, z.mode, s);
            if (z.mode == 1 || z.mode == 2)
              IO_INPR(false, 0.0f, 0.0f, true, "MINIMUM DISPLAY VALUE",
                      {"Enter lowest data value in display range"}, {"Enter valid real"},
                      z.minimum, s);
            if (z.mode == 1 || z.mode == 3)
              IO_INPR(false, 0.0f, 0.0f, true, "MAXIMUM DISPLAY VALUE",
                      {"Enter highest data value in display range"}, {"Enter valid real"},
                      z.maximum, s);
          },
          [](const Scaling& z) { return z.mode != 1 || z.minimum < z.maximum; },
          [](Status& s) {
            IO_WRITE("WARNING: The minimum of the range has been set greater than or equal to the",
                     s);
            IO_WRITE("WARNING: maximum of the display range. You must reset the values.", s);
          },
          status))
    return;
  const int mode = scaling.mode;
  const float minimum = scaling.minimum, maximum = scaling.maximum;
  // Without graphics the kernel holds no switch: the stored key is proposed.
  const bool kernel_open = qg_db_system.system_open != 0;
  bool log = false;
  int retstat = 0;
  if (kernel_open)
    QG_INQ_LOGZSCALING(log, status);
  else
    IO_INQ_LKEYVALUE("Z_SCALING_LOG", log, retstat, status);
  IO_INPL(false, false, false, true, "LOGARITHMIC IMAGE SCALING",
          {"The false colour image display may use either linear intensity scaling",
           "(the default), or logarithmic intensity scaling. Here you can choose",
           "which to use. Enter \"YES\" for logarithmic scaling, \"NO\" for linear", "scaling."},
          {"Enter \"YES\" or \"NO\""}, log, status);
  if (status != kStatusGood) return;
  if (kernel_open) QG_SET_LOGZSCALING(log, status);
  bool x_linear = true;
  bool y_linear = true;
  GS_INQ_DATALOGLIN(x_linear, y_linear, status);
  GS_SET_DATALOGLIN(x_linear, !log, status);
  GS_SET_IMAGESCALE(mode, minimum, maximum, status);

  kzt_graph_range_follows(mode, minimum, maximum, status);
  IO_SET_IKEYVALUE("Z_SCALING_MODE", mode, retstat, status);
  IO_SET_RKEYVALUE("Z_SCALING_MINIMUM", minimum, retstat, status);
  IO_SET_RKEYVALUE("Z_SCALING_MAXIMUM", maximum, retstat, status);
  IO_SET_LKEYVALUE("Z_SCALING_LOG", log, retstat, status);
}

void KZT_ASPECTRATIO(Status& status) {
  if (st_bad(status, "Subroutine KZT_ASPECTRATIO V0.1")) return;
  bool keep = true;
  GS_INQ_IASPECT(keep, status);
  IO_INPL(false, false, false, true, "AUTOMATIC CORRECT ASPECT RATIO IMAGE DISPLAY",
          {"Enter  \"YES\"  if  you want image display with automatic correct aspect",
           "ratios i.e. the pixels are square. Enter \"NO\" to use all the available",
           "display region.  This  may  result in non-square pixels,  but  may  be",
           "preferable for very non-square images."},
          {"Enter \"YES\" on \"NO\""}, keep, status);
  if (status != kStatusGood) return;
  GS_SET_IASPECT(keep, status);
}

void KZT_DISPLAYLIMITS(Status& status) {
  if (st_bad(status, "Subroutine KZT_DISPLAYLIMITS V0.1")) return;
  int image_limit = 0;
  int limit_3d = 0;
  GS_INQ_PIXELLIMITS(image_limit, limit_3d, status);
  IO_INPI(true, 1, kGsImagePixelLimit, true, "IMAGE: MAXIMUM PIXEL DIMENSION",
          {"Enter the Maximum number of pixels to display in an image (or contour",
           "plot) in either direction. If the active data region is larger than",
           "this, the image is automatically re-binned for display: neighbouring",
           "pixels are summed and divided by the number of pixels summed, so",
           "the displayed values stay on the same scale. Smaller values give",
           "faster display, larger values more detail (at most 4000)."},
          {"Enter integer in given range"}, image_limit, status);
  IO_INPI(true, 1, kGs3dPixelLimit, true, "3-D PLOT: MAXIMUM PIXEL DIMENSION",
          {"Enter the Maximum number of pixels to display in a 3-D surface",
           "plot in either direction. If the active data region is larger than",
           "this, the data are automatically re-binned for display: neighbouring",
           "pixels are summed and divided by the number of pixels summed, so",
           "the displayed values stay on the same scale. Smaller values give",
           "faster display, larger values more detail (at most 2000)."},
          {"Enter integer in given range"}, limit_3d, status);
  if (status != kStatusGood) return;
  GS_SET_PIXELLIMITS(image_limit, limit_3d, status);
}

void KZT_AXESSCALES(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<float> xaxis, std::span<float> yaxis, Status& status) {
  if (kzt_region_refused("Subroutine KZT_AXESSCALES V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status))
    return;
  if (xnumdat < 1 || xnumdat > xmaxdat || std::ssize(xaxis) < xnumdat)
    return st_fail(status, kBaseApp + 5, "Subroutine KZT_AXESSCALES V0.1");
  if (ynumdat < 1 || ynumdat > ymaxdat || std::ssize(yaxis) < ynumdat)
    return st_fail(status, kBaseApp + 6, "Subroutine KZT_AXESSCALES V0.1");
  auto increment_of = [](std::span<const float> axis, Index num) {
    return num >= 2 ? axis[1] - axis[0] : 1.0f;
  };
  float xstart = xaxis[0];
  float xincrement = increment_of(xaxis, xnumdat);
  float ystart = yaxis[0];
  float yincrement = increment_of(yaxis, ynumdat);
  const std::string error = "Enter valid real value";
  auto increment_help = [](char axis) -> std::vector<std::string> {
    return {std::string("Enter the increment between axis values for the ") + axis + "-axis.",
            "Negative increments may be enetered, BUT they may cuase",
            "problems with some options which have not been designed",
            "with negative axes in mind ! A value of 1.0 corresponds",
            "to a normal 1, 2, 3, scaling per pixel."};
  };
  auto start_help = [](char axis) -> std::vector<std::string> {
    return {std::string("Enter the axis value for the first element of the ") + axis +
                "-axis. This value",
            "corresponds to the axis value for the MIDDLE of the first pixel. All",
            "axis element values refer to the middle of the pixels. The normal",
            "default value is 0.5 for axes which are number 1, 2, 3, etc."};
  };
  // An increment of 0.0 would make every pixel one point: asked again.
  auto ask_increment = [&](std::string_view prompt, char axis, float& increment) {
    for (;;) {
      kzt_inpr(gui, false, 0.0f, 0.0f, prompt, increment_help(axis), {error}, increment, status);
      if (status != kStatusGood || increment != 0.0f) return;
      IO_WRITE("WARNING: The increment must not be zero", status);
    }
  };
  kzt_inpr(gui, false, 0.0f, 0.0f, "1ST X-AXIS ELEMENT VALUE", start_help('X'), {error}, xstart,
           status);
  ask_increment("X-AXIS ELEMENT INCREMENT", 'X', xincrement);
  kzt_inpr(gui, false, 0.0f, 0.0f, "1ST Y-AXIS ELEMENT VALUE", start_help('Y'), {error}, ystart,
           status);
  ask_increment("Y-AXIS ELEMENT INCREMENT", 'Y', yincrement);
  if (status != kStatusGood) return;
  KZT_AXES(xmaxdat, xnumdat, xstart, xincrement, xaxis, status);
  KZT_AXES(ymaxdat, ynumdat, ystart, yincrement, yaxis, status);
}

void KZT_AXES(Index maxdat, Index numdat, float start, float increment, std::span<float> axis,
              Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_AXES V0.1";
  if (st_bad(status, kPosition)) return;
  if (maxdat < 1 || std::ssize(axis) < maxdat) return st_fail(status, kBaseApp + 1, kPosition);
  const Index n = std::clamp<Index>(numdat, 0, maxdat);
  for (Index i = 0; i < n; ++i)
    axis[i] = static_cast<float>(static_cast<double>(i) * increment + start);
}

void kzt_command_pixelregion(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_PIXELREGION(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                  a.yendelm, status);
}

void kzt_command_zscale(KztDataSets&, std::string&, Status& status) { KZT_ZSCALE(status); }

void kzt_command_aspectratio(KztDataSets&, std::string&, Status& status) {
  KZT_ASPECTRATIO(status);
}

void kzt_command_displaylimits(KztDataSets&, std::string&, Status& status) {
  KZT_DISPLAYLIMITS(status);
}

void kzt_command_axesscales(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_AXESSCALES(false, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                 a.yendelm, kzt_xline(a.xaxis), kzt_yline(a.yaxis), status);
}

}  // namespace kesta
