// The graphics system's primitives: styles in drawing-colour numbers, shapes
// built from the kernel's polyline and fill area, fitted text, arrows and the
// annotation drawn over every graph.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;
using gs_detail::terminal_line;

constexpr float kPi = 3.14159265f;

void fill_and_outline(std::span<const float> x, std::span<const float> y, bool outline, bool fill,
                      Status& status) {
  const int n = static_cast<int>(x.size());
  if (fill) QG_FILLAREA(n, x, y, status);
  if (outline) {
    std::vector<float> xc(x.begin(), x.end());
    std::vector<float> yc(y.begin(), y.end());
    xc.push_back(x[0]);
    yc.push_back(y[0]);
    QG_POLYLINE(n + 1, xc, yc, status);
  }
}

// SEGMENTS + 1 points of a circle of radius R about the origin, from (-R, 0),
// built by turning the chord vector, with y scaled by YSCALE.
void ellipse_points(float r, float yscale, int segments, std::vector<float>& x,
                    std::vector<float>& y) {
  const double step = 2.0 * static_cast<double>(kPi) / segments;
  const double chord = 2.0 * r * std::sin(step / 2.0);
  const double c = std::cos(-step);
  const double s = std::sin(-step);
  // The first chord from (-R, 0) runs clockwise upwards at half a step.
  double dx = chord * std::sin(step / 2.0);
  double dy = chord * std::cos(step / 2.0);
  double px = -r;
  double py = 0.0;
  x.assign(segments + 1, 0.0f);
  y.assign(segments + 1, 0.0f);
  for (int k = 0; k <= segments; ++k) {
    x[k] = static_cast<float>(px);
    y[k] = static_cast<float>(py * yscale);
    px += dx;
    py += dy;
    const double ndx = dx * c - dy * s;
    dy = dx * s + dy * c;
    dx = ndx;
  }
}

bool bad_ellipse(float rx, float ry, int segments, Status& status, std::string_view position) {
  if (!(rx > 0.0f)) return refuse(status, 21, position);
  if (!(ry > 0.0f)) return refuse(status, 22, position);
  if (segments < 2 || segments > 199) return refuse(status, 17, position);
  return false;
}

}  // namespace

void GS_LINESTYLE(int type, float width, int colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_LINESTYLE V0.2";
  if (st_bad(status, position)) return;
  if (!(width > 0.0f) && refuse(status, 21, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  QG_LINESTYLE(type, status);
  QG_LINEWIDTH(width, status);
  QG_LINECOLOUR(gs_device_colour(colour), status);
}

void GS_MARKERSTYLE(int type, float size, int colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MARKERSTYLE V0.1";
  if (st_bad(status, position)) return;
  if (!(size > 0.0f) && refuse(status, 21, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  QG_MARKERTYPE(type, status);
  QG_MARKERSCALE(size, status);
  QG_MARKERCOLOUR(gs_device_marker_colour(colour), status);
}

void GS_TEXTSTYLE(int font, int colour, float height, float /*width_scale*/, float /*spacing*/,
                  int /*path*/, int horizontal, int vertical, float up_x, float up_y,
                  Status& status) {
  constexpr std::string_view position = "Subroutine GS_TEXTSTYLE V0.5";
  if (st_bad(status, position)) return;
  if (!(height > 0.0f)) {
    terminal_line("ERROR: GS_TEXTSTYLE: char_height = " + format_f(height, 10, 3));
    refuse(status, 21, position);
    return;
  }
  if ((font < 1 || font > 2) && refuse(status, 17, position)) return;
  QG_TEXTFONT(font, status);
  QG_TEXTCOLOUR(gs_device_fill_colour(colour), status);
  QG_TEXTHEIGHT(height, status);
  QG_TEXTALIGNMENT(horizontal, vertical, status);
  float angle = 0.0f;
  if (!(up_x == 0.0f && up_y >= 0.0f))
    angle = static_cast<float>((std::atan2(up_y, up_x) - kPi / 2.0) * 180.0 / kPi);
  QG_TEXTANGLE(angle, status);
}

void GS_FILLSTYLE(int style, int colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_FILLSTYLE V0.2";
  if (st_bad(status, position)) return;
  if ((style < 0 || style > 4 || colour < 0) && refuse(status, 17, position)) return;
  QG_FILLCOLOUR(gs_device_fill_colour(colour), status);
}

void GS_LINE(float x1, float y1, float x2, float y2, Status& status) {
  if (st_bad(status, "Subroutine GS_LINE: V0.1")) return;
  const std::array<float, 2> x{x1, x2};
  const std::array<float, 2> y{y1, y2};
  QG_POLYLINE(2, x, y, status);
}

void GS_RECTANGLE(float x1, float y1, float x2, float y2, bool outline, bool fill, Status& status) {
  if (st_bad(status, "Subroutine GS_RECTANGLE: V0.1")) return;
  const std::array<float, 4> x{x1, x2, x2, x1};
  const std::array<float, 4> y{y1, y1, y2, y2};
  fill_and_outline(x, y, outline, fill, status);
}

void GS_TRIANGLE(float x1, float y1, float x2, float y2, float x3, float y3, bool outline,
                 bool fill, Status& status) {
  if (st_bad(status, "Subroutine GS_TRIANGLE: V0.1")) return;
  const std::array<float, 3> x{x1, x2, x3};
  const std::array<float, 3> y{y1, y2, y3};
  fill_and_outline(x, y, outline, fill, status);
}

void GS_KITE(float xc, float yc, float x1, float y1, float x2, float y2, bool outline, bool fill,
             Status& status) {
  if (st_bad(status, "Subroutine GS_KITE V0.1")) return;
  const std::array<float, 4> x{x1, x2, 2 * xc - x1, 2 * xc - x2};
  const std::array<float, 4> y{y1, y2, 2 * yc - y1, 2 * yc - y2};
  fill_and_outline(x, y, outline, fill, status);
}

void GS_ELLIPSE(float xc, float yc, float rx, float ry, bool outline, bool fill, int segments,
                Status& status) {
  constexpr std::string_view position = "Subroutine GS_ELLIPSE V0.2";
  if (st_bad(status, position)) return;
  if (bad_ellipse(rx, ry, segments, status, position)) return;
  std::vector<float> x, y;
  ellipse_points(rx, ry / rx, segments, x, y);
  for (std::size_t k = 0; k < x.size(); ++k) {
    x[k] += xc;
    y[k] += yc;
  }
  // The first and last points coincide: the polygon is closed already.
  if (fill && segments >= 3) QG_FILLAREA(segments, x, y, status);
  if (outline) QG_POLYLINE(segments + 1, x, y, status);
}

void GS_RELLIPSE(float xc, float yc, float r1, float r2, float angle, bool outline, bool fill,
                 int segments, Status& status) {
  constexpr std::string_view position = "Subroutine GS_RELLIPSE V0.1";
  if (st_bad(status, position)) return;
  if (bad_ellipse(r1, r2, segments, status, position)) return;
  std::vector<float> x, y;
  ellipse_points(r1, r2 / r1, segments, x, y);
  const float c = std::cos(angle);
  const float s = std::sin(angle);
  for (std::size_t k = 0; k < x.size(); ++k) {
    const float px = x[k];
    const float py = y[k];
    x[k] = xc + px * c - py * s;
    y[k] = yc + px * s + py * c;
  }
  if (fill && segments >= 3) QG_FILLAREA(segments, x, y, status);
  if (outline) QG_POLYLINE(segments + 1, x, y, status);
}

void GS_ARCELLIPSE(float xc, float yc, float rx, float ry, float start_angle, float end_angle,
                   bool outline, bool fill, int segments, Status& status) {
  constexpr std::string_view position = "Subroutine GS_ARCELLIPSE V0.1";
  if (st_bad(status, position)) return;
  if (!(rx > 0.0f) && refuse(status, 21, position)) return;
  if (!(ry > 0.0f) && refuse(status, 22, position)) return;
  if ((segments < 2 || segments > 199) && refuse(status, 9, position)) return;
  if (!(end_angle > start_angle)) start_angle -= 6.283185f;
  const double step = (static_cast<double>(end_angle) - start_angle) / segments;
  std::vector<float> x(segments + 1), y(segments + 1);
  for (int k = 0; k <= segments; ++k) {
    const double a = start_angle + k * step;
    x[k] = static_cast<float>(xc + rx * std::cos(a));
    y[k] = static_cast<float>(yc + ry * std::sin(a));
  }
  if (fill && segments + 1 >= 3) QG_FILLAREA(std::min(segments + 1, kMaxFillPoints), x, y, status);
  if (outline) QG_POLYLINE(segments + 1, x, y, status);
}

void gs_clip_to_graph(bool on, Status& status) {
  if (on) {
    const GsRect& r = gs_state.dddr;
    QG_CLIPWINDOW(r.xmin, r.ymin, r.xmax, r.ymax, status);
  }
  QG_CLIP(on, status);
}

void GS_MARK(float x, float y, float size, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MARK V0.2";
  if (st_bad(status, position)) return;
  if (!(size > 0.0f) && refuse(status, 21, position)) return;
  const std::array<float, 1> px{x};
  const std::array<float, 1> py{y};
  QG_MARKERWIDTH(1.0f, status);
  GS_MARKERSTYLE(2, size, kGsBlack, status);
  QG_POLYMARKER(1, px, py, status);
  GS_MARKERSTYLE(5, size, kGsWhite, status);
  QG_POLYMARKER(1, px, py, status);
}

void GS_TEXT(int max_lines, int num_lines, std::span<const std::string> text, float xmin,
             float ymin, float xmax, float ymax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_TEXT V0.4";
  if (st_bad(status, position)) return;
  if (max_lines <= 0 && refuse(status, 1, position)) return;
  if ((num_lines < 0 || num_lines > max_lines ||
       static_cast<std::size_t>(num_lines) > text.size()) &&
      refuse(status, 5, position))
    return;
  if (!(xmin < xmax) && refuse(status, 13, position)) return;
  if (!(ymin < ymax) && refuse(status, 14, position)) return;
  QG_LINECOLOUR(gs_device_colour(kGsBlue), status);
  QG_FILLCOLOUR(gs_device_fill_colour(kGsWhite), status);
  const float pitch = (ymax - ymin) / static_cast<float>(num_lines + 1);
  std::size_t longest = 0;
  for (int k = 0; k < num_lines; ++k)
    longest = std::max(longest, static_cast<std::size_t>(SLEN(text[k])));
  const float n = static_cast<float>(std::max<std::size_t>(longest + 2, 3));
  int font = 1;
  QG_INQ_TEXTFONT(font, status);
  const float w = gs_state.reference_width;
  float factor = 1.0f;
  if (font == 1)
    factor = w <= 0.063f ? 1.7f : w <= 0.083f ? 1.6f : w <= 0.1f ? 1.4f : 1.2f;
  else
    factor = w <= 0.063f ? 1.5f : w <= 0.083f ? 1.4f : 1.0f;
  const float height = std::min(0.8f * pitch, (xmax - xmin) * factor / n);
  QG_TEXTHEIGHT(height, status);
  QG_TEXTALIGNMENT(1, 1, status);
  for (int k = 0; k < num_lines; ++k)
    QG_TEXT(xmin + height, ymax - pitch / 2 - static_cast<float>(k) * pitch,
            text[k].substr(0, SLEN(text[k])), status);
}

void GS_ARROW(float head_x, float head_y, float tail_x, float tail_y, int head_style,
              float head_length, float head_width, Status& status) {
  constexpr std::string_view position = "Subroutine GS_ARROW V0.1";
  if (st_bad(status, position)) return;
  if ((head_style < 0 || head_style > 1) && refuse(status, 17, position)) return;
  const float px1 = QG_WC2PC(true, head_x, status);
  const float py1 = QG_WC2PC(false, head_y, status);
  const float px2 = QG_WC2PC(true, tail_x, status);
  const float py2 = QG_WC2PC(false, tail_y, status);
  const float length = std::hypot(px1 - px2, py1 - py2);
  if (!(length > 0.0f)) return;  // two equal points have no direction
  const float ux = (px1 - px2) / length;
  const float uy = (py1 - py2) / length;
  const float nx = -uy;
  const float ny = ux;
  const float bx = px1 - 0.01f * head_length * ux;
  const float by = py1 - 0.01f * head_length * uy;
  const float hw = 0.005f * head_width;
  const std::array<float, 3> x{QG_PC2WC(true, bx + hw * nx, status), head_x,
                               QG_PC2WC(true, bx - hw * nx, status)};
  const std::array<float, 3> y{QG_PC2WC(false, by + hw * ny, status), head_y,
                               QG_PC2WC(false, by - hw * ny, status)};
  GS_LINE(head_x, head_y, tail_x, tail_y, status);
  if (head_style == 0)
    QG_POLYLINE(3, x, y, status);
  else
    fill_and_outline(x, y, true, true, status);
}

// ---- Annotation ----

void GS_ATEXT(Status& status) {
  if (st_bad(status, "Subroutine GS_ATEXT V0.1")) return;
  const GsAtextStyle& style = gs_state.atext_style;
  const std::vector<std::string>& lines = gs_state.atext;
  if (lines.empty() || !style.output) return;
  const float x = QG_PC2WC(true, style.x, status);
  const float y = QG_PC2WC(false, style.y, status);
  float xscale = 1.0f;
  float yscale = 1.0f;
  QG_INQ_SCALING(xscale, yscale, status);
  const float height = style.height * 0.0166667f / yscale;
  GS_TEXTSTYLE(style.font, style.colour, height, style.width, style.spacing, 0, 1, 1, 0.0f, 1.0f,
               status);
  const float step = style.height * 0.0166667f * style.line_spacing / yscale;
  for (std::size_t i = 0; i < lines.size() && status == kStatusGood; ++i) {
    const std::size_t used = SLEN(lines[i]);
    if (used == 0) continue;
    QG_TEXT(x, y - static_cast<float>(i) * step, std::string_view(lines[i]).substr(0, used),
            status);
  }
}

void GS_ALABELS(Status& status) {
  if (st_bad(status, "Subroutine GS_ALABELS: V0.2")) return;
  float xscale = 1.0f;
  float yscale = 1.0f;
  QG_INQ_SCALING(xscale, yscale, status);
  for (int i = 0; i < gs_state.num_labels && status == kStatusGood; ++i) {
    const GsLabel& label = gs_state.labels[i];
    const GsLabelStyle& style = gs_state.label_styles[i];
    const float height = style.height * 0.01f / yscale;
    GS_TEXTSTYLE(style.font, style.colour, height, style.width, style.spacing, 0, 1, 4,
                 -std::sin(style.angle), std::cos(style.angle), status);
    float x = label.x;
    float y = label.y;
    if (!label.data_coordinates) {
      x = QG_PC2WC(true, x, status);
      y = QG_PC2WC(false, y, status);
    }
    const std::string_view text = std::string_view(label.text).substr(0, 132);
    if (SLEN(text) > 0) QG_TEXT(x, y, text.substr(0, SLEN(text)), status);
  }
}

void GS_ARROWS(Status& status) {
  if (st_bad(status, "Subroutine GS_ARROWS: V0.1")) return;
  for (int i = 0; i < gs_state.num_arrows && status == kStatusGood; ++i) {
    const GsArrow& a = gs_state.arrows[i];
    if (a.head_x == a.tail_x && a.head_y == a.tail_y) continue;
    const GsArrowStyle& style = gs_state.arrow_styles[i];
    GS_LINESTYLE(style.line_type, style.width, style.colour, status);
    GS_FILLSTYLE(1, style.fill_colour, status);
    float hx = a.head_x, hy = a.head_y, tx = a.tail_x, ty = a.tail_y;
    if (!a.data_coordinates) {
      hx = QG_PC2WC(true, hx, status);
      hy = QG_PC2WC(false, hy, status);
      tx = QG_PC2WC(true, tx, status);
      ty = QG_PC2WC(false, ty, status);
    }
    GS_ARROW(hx, hy, tx, ty, style.head_style, style.head_length, style.head_width, status);
  }
}

}  // namespace kesta
