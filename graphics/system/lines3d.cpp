// The 3-D line view: every row of a region drawn as a profile, each next
// row shifted right and up so that the rows recede like a landscape, hidden
// parts removed; an oblique axis numbers the rows.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/views3d.hpp"

namespace kesta {
namespace {

constexpr float kTextHeight = 0.0166667f;
// Points of the horizon the hidden-line removal keeps for one row.
constexpr Index kHorizonPoints = 10000;

}  // namespace

void GS_3DLINES(bool hidden, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                Status& status) {
  constexpr std::string_view position = "Subroutine GS_3DLINES V0.3";
  if (st_bad(status, position)) return;
  if (gs_detail::bad_plot(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm,
                          xendelm, yendelm, 2, status, position))
    return;
  // Rows without a value would be lines of nothing about axes of no range:
  // said first, and nothing drawn (nor a warning about lines not drawn).
  if (gs_detail::say_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                                     "draw", status) ||
      gs_say_nothing_drawable(GsDrawing::kLines, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                              yendelm, status) ||
      status != kStatusGood)
    return;
  IO_WRITE("WARNING: The hidden line removal algorithm is not perfect, (probably", status);
  IO_WRITE("         owing to rounding errors) sometimes it is known to draw lines", status);
  IO_WRITE("         where they should not appear.", status);
  IO_WRITE("", status);
  GS_BACKGROUND(status);
  Gs3dStyle style;
  GS_INQ_3DSTYLE(style, status);
  GS_LINESTYLE(1, 2.0f * style.line_width, kGsBlack, status);
  GS_FILLSTYLE(1, style.fill_colour, status);

  int mode = 0;
  float minimum = 0.0f, maximum = 1.0f;
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  GS_CAL_ZRANGE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, 1, mode, minimum,
                maximum, status);
  if (status != kStatusGood) return;
  // Flat data (a constant image) is drawn in the widened range its image
  // shows: a plane of rows at its value.
  if (!(minimum < maximum)) qg_image_scaling_range(false, minimum, maximum);
  // Values near 3.4E+38 are drawn scaled down by a power of two (exact), so
  // that the room above the rows and the numbers beside them have float
  // world coordinates; the numbers give the data's own values.
  const double unit = gs_detail::axis_unit(std::max(std::fabs(minimum), std::fabs(maximum)));
  minimum = static_cast<float>(minimum / unit);
  maximum = static_cast<float>(maximum / unit);
  gs_state.y_axis_unit = unit;
  const float ny = static_cast<float>(yendelm - ystrelm + 1);
  const float r = maximum - minimum;
  const float x0 = static_cast<float>(xstrelm - 1);
  const float x1 = static_cast<float>(xendelm);
  const float right = x1 + 0.5f * ny;
  const float top = maximum + 0.5f * r;

  const GsRect& gpp = gs_state.gpp;
  GS_SET_DGPP(gpp.xmin, gpp.ymin, gpp.xmax, gpp.ymax, status);
  QG_VIEWPORT(gpp.xmin, gpp.ymin, gpp.xmax, gpp.ymax, status);
  GS_SET_DDR(x0, minimum, x1, maximum, status);
  GS_SET_DDDR(x0, minimum, x1, maximum, status);
  QG_DATAWINDOW(x0, minimum, right, top, status);
  int x_code = 0, y_code = 0;
  GS_INQ_AXESSTYLE(x_code, y_code, status);
  GS_SET_AXESSTYLE(1, 1, status);
  GS_AXISFRAME(status);
  GS_XLABEL(xlabel, status);
  GS_YLABEL(zlabel, status);
  GS_3DYAXIS(x1, minimum, right, minimum + 0.5f * r, static_cast<float>(ystrelm - 1),
             static_cast<float>(yendelm), 0, true, 0, ylabel, status);
  GS_SET_AXESSTYLE(x_code, y_code, status);

  GS_SET_DDR(x0, minimum, right, top, status);
  GS_SET_DDDR(x0, minimum, right, top, status);
  QG_CLIPWINDOW(x0, minimum, right, top, status);
  QG_CLIP(true, status);
  // The rows in the line style of the view, which the axes changed.
  GS_LINESTYLE(1, 2.0f * style.line_width, kGsBlack, status);
  if (hidden) {
    GS_3DHIDELINES(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, minimum, maximum, ny,
                   kHorizonPoints, status);
  } else {
    std::vector<float> px(static_cast<std::size_t>(xendelm - xstrelm + 1));
    std::vector<float> py(px.size());
    for (Index j = ystrelm; j <= yendelm && status == kStatusGood; ++j) {
      const float s = 0.5f * static_cast<float>(j - ystrelm);
      const float d = s * r / ny;
      const float* row = data.data() + element(xstrelm, j, xmaxdat);
      // A row is drawn in runs between its pixels that are not a number:
      // no segment reaches a bad pixel. Infinite pixels stand at the range's ends.
      std::size_t run = 0;
      for (std::size_t i = 0; i <= px.size() && status == kStatusGood; ++i) {
        if (i == px.size() || std::isnan(row[i])) {
          if (run >= 2)
            QG_POLYLINE(static_cast<int>(run), std::span<const float>(px).first(run),
                        std::span<const float>(py).first(run), status);
          run = 0;
          continue;
        }
        const auto value = static_cast<float>(row[i] / unit);
        const float v = std::isinf(value) ? std::clamp(value, minimum, maximum) : value;
        px[run] = static_cast<float>(xstrelm + static_cast<Index>(i)) + s;
        py[run] = v + d;
        ++run;
      }
    }
  }
  Status local = kStatusGood;
  QG_CLIP(false, local);
  GS_TITLE(title, status);
  GS_ATEXT(status);
  GS_ARROWS(status);
  GS_ALABELS(status);
  gs_state.y_axis_unit = 1.0;
  if (unit != 1.0) {
    // The ranges and the transform in data units again, for what is drawn
    // over the view later.
    const float low = qg_float_range(minimum * unit);
    const float high = qg_float_range(top * unit);
    GS_SET_DDR(x0, low, right, high, local);
    GS_SET_DDDR(x0, low, right, high, local);
    QG_DATAWINDOW(x0, low, right, high, local);
  }
  GS_UPDATE(status);
}

void GS_3DYAXIS(float x1, float y1, float x2, float y2, float value_start, float value_end,
                int tick_side, bool enumerate, int number_side, std::string_view label,
                Status& status) {
  constexpr std::string_view position = "Subroutine GS_3DYAXIS V0.1";
  if (st_bad(status, position)) return;
  if (!(value_end > value_start) && gs_detail::refuse(status, 13, position)) return;
  const GsGraphLayout& layout = gs_state.layout;
  float sx = 1.0f, sy = 1.0f;
  QG_INQ_SCALING(sx, sy, status);
  const GsAxesStyle& a = gs_state.haxes;
  GS_LINESTYLE(a.line_type, a.width, a.colour, status);
  if (status != kStatusGood) return;
  const float dx = x2 - x1;
  const float dy = y2 - y1;
  const float plen = std::hypot(dx * sx, dy * sy);
  if (!(plen > 0.0f)) return;
  const float ux = dx * sx / plen;
  const float uy = dy * sy / plen;
  const float sign = tick_side == 0 ? 1.0f : -1.0f;
  auto tick = [&](float fraction, float length) {
    const float fx = x1 + fraction * dx;
    const float fy = y1 + fraction * dy;
    const float px[2] = {fx, fx + sign * uy * length / sx};
    const float py[2] = {fy, fy - sign * ux * length / sy};
    QG_POLYLINE(2, px, py, status);
  };
  float first = 0, step = 1;
  int number = 0;
  GS_CAL_TICKS(value_start, value_end, first, step, number, status);
  if (status != kStatusGood) return;
  const float span = value_end - value_start;
  const float ax[2] = {x1, x2};
  const float ay[2] = {y1, y2};
  QG_POLYLINE(2, ax, ay, status);
  for (int i = 0; i < number; ++i)
    tick((first + static_cast<float>(i) * step - value_start) / span, a.large_tick);
  if (a.num_small > 0) {
    const float fraction_step = step / static_cast<float>(a.num_small + 1) / span;
    for (int i = -1; i <= number; ++i)
      for (int k = 1; k <= a.num_small; ++k) {
        const float f = (first + static_cast<float>(i) * step - value_start) / span +
                        static_cast<float>(k) * fraction_step;
        if (f >= 0.0f && f <= 1.0f) tick(f, a.small_tick);
      }
  }
  const GsAxisEnum& e = gs_state.yenum;
  const float nsign = number_side == 0 ? 1.0f : -1.0f;
  if (enumerate && e.text.output && number > 0) {
    float gap = layout.y_enum_gap;
    if ((tick_side == 0) == (number_side == 0)) gap += a.large_tick;
    const float ox = nsign * uy * gap / (sx * 1.41f);
    const float oy = -nsign * ux * gap / (sy * 1.41f);
    const float height = e.text.height * kTextHeight / sy;
    GS_TEXTSTYLE(e.text.font, e.text.colour, height, e.text.width, e.text.spacing, 0,
                 number_side == 0 ? 1 : 3, 6, 0.0f, 1.0f, status);
    double factor = 1.0;
    std::vector<std::string> numbers;
    gs_detail::axis_numbers(e, first, step, number, factor, numbers, status);
    for (int i = 0; i < number && status == kStatusGood; ++i) {
      if (numbers[static_cast<std::size_t>(i)].empty()) continue;
      const float f = (first + static_cast<float>(i) * step - value_start) / span;
      QG_TEXT(x1 + f * dx + ox, y1 + f * dy + oy, numbers[static_cast<std::size_t>(i)], status);
    }
    if (factor != 1.0 && status == kStatusGood) {
      // The common power of ten, one interval beyond the last number.
      const float f = (first + static_cast<float>(number) * step - value_start) / span;
      GS_EXPONT(x1 + f * dx + ox, y1 + f * dy + oy, 1, number_side == 0 ? 1 : 3, 6, true,
                std::round(std::log10(static_cast<float>(factor))), e.text.font, e.text.colour,
                0.0f, height, status);
    }
  }
  const GsTextStyle& l = gs_state.ylabel;
  if (!l.output || SLEN(label) == 0 || status != kStatusGood) return;
  const float gap = layout.y_label_gap;
  const float mx = x1 + 0.5f * dx + nsign * uy * gap / sx;
  const float my = y1 + 0.5f * dy - nsign * ux * gap / sy;
  GS_TEXTSTYLE(l.font, l.colour, l.height * kTextHeight / sy, l.width, l.spacing, 0, 2,
               number_side == 0 ? 1 : 5, -uy, ux, status);
  QG_TEXT(mx, my, label.substr(0, SLEN(label)), status);
}

}  // namespace kesta
