// The 3-D primitives: points projected through the current 3-D view and
// drawn as lines, fills and texts; the 3-D linear axis with its ticks and
// numbers; the hidden-line row profiles; the image on a 3-D plane.

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/views3d.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

constexpr int kMaxPolyline3d = 200;
constexpr int kMaxFill3d = 20;
constexpr float kTextHeight = 0.0166667f;

// Projects N points into U, V; false (with STATUS set) for a bad count.
bool project(int n, int max_points, std::span<const float> x, std::span<const float> y,
             std::span<const float> z, std::array<float, kMaxPolyline3d>& u,
             std::array<float, kMaxPolyline3d>& v, Status& status, std::string_view position) {
  if (n < 2) return !refuse(status, 17, position);
  if (n > max_points) return !refuse(status, 9, position);
  const auto count = static_cast<std::size_t>(n);
  if ((x.size() < count || y.size() < count || z.size() < count))
    return !refuse(status, 9, position);
  const Gs3dView& view = gs_state.view3d;
  for (std::size_t k = 0; k < count; ++k) gs_3d_project(view, x[k], y[k], z[k], u[k], v[k]);
  return true;
}

// The point at T along AXIS with the other coordinates P1, P2.
void axis_point(int axis, float t, float p1, float p2, float& x, float& y, float& z) {
  x = axis == 1 ? t : p1;
  y = axis == 1 ? p1 : axis == 2 ? t : p2;
  z = axis == 3 ? t : p2;
}

// The unit direction (DX, DY, DZ); false for a zero vector.
bool unit(float& dx, float& dy, float& dz) {
  const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (!(length > 0.0f)) return false;
  dx /= length;
  dy /= length;
  dz /= length;
  return true;
}

void tick3(int axis, float t, float p1, float p2, float dx, float dy, float dz, float size,
           Status& status) {
  float x = 0, y = 0, z = 0;
  axis_point(axis, t, p1, p2, x, y, z);
  GS_3LINE(x, y, z, x + dx * size, y + dy * size, z + dz * size, status);
}

// World length of one page unit of height.
float world_per_page_y(Status& status) {
  float wx = 1.0f;
  float wy = 1.0f;
  gs_detail::world_per_page(wx, wy, status);
  return wy;
}

// The visible pieces of a row against the horizon, and the new horizon: the
// upper envelope of both. Horizon and row are polylines of increasing X.
class Horizon {
 public:
  void reset(const std::vector<float>& x, const std::vector<float>& y) {
    hx_ = x;
    hy_ = y;
  }

  // Draws a whole row, in runs between its gaps.
  void draw_runs(const std::vector<float>& rx, const std::vector<float>& ry, Status& status) {
    status_ = &status;
    runx_.clear();
    runy_.clear();
    for (std::size_t i = 0; i < rx.size(); ++i) {
      if (std::isnan(ry[i])) {
        flush();
        continue;
      }
      runx_.push_back(rx[i]);
      runy_.push_back(ry[i]);
    }
    flush();
  }

  // Draws the parts of the row above the horizon and merges the row in.
  void add_row(const std::vector<float>& rx, const std::vector<float>& ry, Status& status) {
    status_ = &status;
    breaks_.clear();
    std::merge(hx_.begin(), hx_.end(), rx.begin(), rx.end(), std::back_inserter(breaks_));
    breaks_.erase(std::unique(breaks_.begin(), breaks_.end()), breaks_.end());
    nx_.clear();
    ny_.clear();
    runx_.clear();
    runy_.clear();
    std::size_t kh = 0;
    std::size_t kr = 0;
    for (std::size_t b = 0; b + 1 < breaks_.size() && status == kStatusGood; ++b) {
      const float xa = breaks_[b];
      const float xb = breaks_[b + 1];
      float ha = 0, hb = 0, ra = 0, rb = 0;
      const bool has_h = segment(hx_, hy_, kh, xa, xb, ha, hb);
      const bool has_r = segment(rx, ry, kr, xa, xb, ra, rb);
      if (!has_r) {
        flush();
        if (has_h)
          envelope(xa, ha, xb, hb);
        else
          envelope(xa, kGap, xb, kGap);
        continue;
      }
      if (!has_h) {
        visible(xa, ra, xb, rb);
        envelope(xa, ra, xb, rb);
        continue;
      }
      const float da = ra - ha;
      const float db = rb - hb;
      if (da >= 0.0f && db >= 0.0f) {
        if (da > 0.0f || db > 0.0f)
          visible(xa, ra, xb, rb);
        else
          flush();
        envelope(xa, ra, xb, rb);
      } else if (da <= 0.0f && db <= 0.0f) {
        flush();
        envelope(xa, ha, xb, hb);
      } else {
        // The row crosses the horizon inside the interval.
        const float t = da / (da - db);
        const float xc = xa + t * (xb - xa);
        const float yc = ra + t * (rb - ra);
        if (da > 0.0f) {
          visible(xa, ra, xc, yc);
          flush();
          envelope(xa, ra, xc, yc);
          envelope(xc, yc, xb, hb);
        } else {
          flush();
          visible(xc, yc, xb, rb);
          envelope(xa, ha, xc, yc);
          envelope(xc, yc, xb, rb);
        }
      }
    }
    flush();
    hx_.swap(nx_);
    hy_.swap(ny_);
  }

 private:
  // Values at XA and XB of the polyline piece covering XA..XB, if any; K
  // walks forward with the intervals. A piece with an end that is not a
  // number is a gap: a bad pixel of a row, or where no row has been yet.
  static bool segment(const std::vector<float>& px, const std::vector<float>& py, std::size_t& k,
                      float xa, float xb, float& ya, float& yb) {
    if (px.size() < 2 || xa < px.front() || xb > px.back()) return false;
    while (k + 2 < px.size() && px[k + 1] <= xa) ++k;
    if (std::isnan(py[k]) || std::isnan(py[k + 1])) return false;
    const float x0 = px[k];
    const float x1 = px[k + 1];
    const float w = x1 - x0;
    ya = w > 0.0f ? py[k] + (py[k + 1] - py[k]) * (xa - x0) / w : py[k];
    yb = w > 0.0f ? py[k] + (py[k + 1] - py[k]) * (xb - x0) / w : py[k + 1];
    return true;
  }
  static constexpr float kGap = std::numeric_limits<float>::quiet_NaN();

  void envelope(float xa, float ya, float xb, float yb) {
    const bool joins = !nx_.empty() && nx_.back() == xa &&
                       (ny_.back() == ya || (std::isnan(ny_.back()) && std::isnan(ya)));
    if (!joins) {
      nx_.push_back(xa);
      ny_.push_back(ya);
    }
    nx_.push_back(xb);
    ny_.push_back(yb);
  }
  void visible(float xa, float ya, float xb, float yb) {
    if (runx_.empty() || runx_.back() != xa || runy_.back() != ya) {
      if (!runx_.empty()) flush();
      runx_.push_back(xa);
      runy_.push_back(ya);
    }
    runx_.push_back(xb);
    runy_.push_back(yb);
  }
  void flush() {
    if (runx_.size() >= 2) {
      // The kernel takes polylines of any length; long runs go in pieces.
      constexpr std::size_t kPiece = 4096;
      for (std::size_t from = 0; from + 1 < runx_.size(); from += kPiece - 1) {
        const std::size_t n = std::min(kPiece, runx_.size() - from);
        QG_POLYLINE(static_cast<int>(n), std::span<const float>(runx_).subspan(from, n),
                    std::span<const float>(runy_).subspan(from, n), *status_);
      }
    }
    runx_.clear();
    runy_.clear();
  }

  std::vector<float> hx_, hy_, nx_, ny_, breaks_, runx_, runy_;
  Status* status_ = nullptr;
};

// Where a text of the 3-D view may stand: the view's frame (the page below
// the title's band) in world units (the window maps onto the viewport,
// which need not reach the page's edges), less a quarter of a character all
// round, so that rounding to device pixels cannot cut a character at the
// edge.
struct PageRoom {
  float left = 0, right = 1, bottom = 0, top = 1;
};

// The highest the texts of the 3-D axes may reach (world units), while a
// heading above an axis holds its place (Gs3dNumbersBelow).
float numbers_ceiling = std::numeric_limits<float>::max();

// The numbers of a view's axes kept apart while a Gs3dAxisNumbers lives.
Gs3dAxisNumbers* axis_numbers = nullptr;

bool measuring_axes() { return axis_numbers != nullptr && axis_numbers->measuring; }

bool meet(const GsRect& a, const GsRect& b) {
  return a.xmin < b.xmax && b.xmin < a.xmax && a.ymin < b.ymax && b.ymin < a.ymax;
}

PageRoom page_room(float height, Status& status) {
  float wx = 1.0f, wy = 1.0f;
  gs_detail::world_per_page(wx, wy, status);
  const QgDbTransform& t = qg_db_transform;
  const GsRect frame = gs_3d_frame(status);
  auto edges = [](float w1, float w2, float v1, float v2, float from, float to, float& lo,
                  float& hi) {
    const float per_page = v2 != v1 ? (w2 - w1) / (v2 - v1) : 0.0f;
    const float e1 = w1 + (from - v1) * per_page, e2 = w1 + (to - v1) * per_page;
    lo = std::min(e1, e2);
    hi = std::max(e1, e2);
  };
  PageRoom room;
  edges(t.wx1, t.wx2, t.vx1, t.vx2, frame.xmin, frame.xmax, room.left, room.right);
  edges(t.wy1, t.wy2, t.vy1, t.vy2, frame.ymin, frame.ymax, room.bottom, room.top);
  room.top = std::min(room.top, numbers_ceiling);
  const float margin_x = std::fabs(0.25f * height / wy * wx);
  const float margin_y = std::fabs(0.25f * height);
  room.left += margin_x;
  room.right -= margin_x;
  room.bottom += margin_y;
  room.top -= margin_y;
  return room;
}

// The world extent below and above V of a text HEIGHT high aligned
// vertically by VERTICAL (1 or 2 top, 3 middle, 4 and 5 base line and
// below, 6 half way up the capitals).
void vertical_extent(int vertical, float v, float height, float& low, float& high) {
  switch (vertical) {
    case 1:
    case 2:
      low = v - height, high = v;
      break;
    case 3:
      low = v - 0.5f * height, high = v + 0.5f * height;
      break;
    case 6:
      low = v - 0.75f * height, high = v + 0.5f * height;
      break;
    default:
      low = v - 0.3f * height, high = v + height;
      break;
  }
}

// Moves the world X position U of TEXT (justified by HORIZONTAL: 0 or 1
// left, 2 centre, 3 right; HEIGHT in world units) so that the text lies
// inside the page across it; LEFT and RIGHT are its world extent there.
// False when U itself lies beyond the page's left or right edge, or the text
// at V (aligned by VERTICAL) reaches past its top or bottom: a text is never
// moved up or down, where it would stand at another height.
bool gs_3d_text_inside(std::string_view text, int horizontal, int vertical, float height, float v,
                       float& u, float& left, float& right, Status& status) {
  float wx = 1.0f, wy = 1.0f;
  gs_detail::world_per_page(wx, wy, status);
  // Digits are at most 0.6 of the text height wide in the drawing fonts; the
  // window's own measure replaces the estimate where it has one.
  float text_width = 0.6f * static_cast<float>(text.size()) * (height / wy) *
                     std::max(gs_state.xenum.text.width, 0.0f);
  QG_INQ_TEXTWIDTH(static_cast<int>(text.size()), text, text_width, status);
  const float width = text_width * wx;
  left = horizontal == 2 ? u - 0.5f * width : horizontal == 3 ? u - width : u;
  const PageRoom room = page_room(height, status);
  float low = 0, high = 0;
  vertical_extent(vertical, v, height, low, high);
  const bool on_page = u >= room.left && u <= room.right && low >= room.bottom && high <= room.top;
  if (left + width > room.right) u -= left + width - room.right, left = room.right - width;
  if (left < room.left) u += room.left - left, left = room.left;
  right = left + width;
  return on_page;
}

}  // namespace

GsRect gs_3d_frame(Status& status) {
  float page_width = 1.0f, page_height = 1.0f;
  QG_INQ_MAXPC(1, page_width, page_height, status);
  // The title stands on its base line 0.03 (times its height scale) under
  // the page's top, 0.02 tall, its descenders 0.3 of that below: the band
  // ends a little under them.
  const GsTextStyle& title = gs_state.title;
  const float band = title.output ? 0.04f * std::max(title.height, 0.0f) : 0.0f;
  // A hair inside the page's edges, so that a line clipped there still lies
  // inside the box a PostScript copy declares once rounded to its points.
  constexpr float kInset = 0.001f;
  return {kInset, kInset, page_width - kInset,
          std::max(page_height - std::max(band, kInset), 0.5f * page_height)};
}

void GS_3POLYLINE(int n, std::span<const float> x, std::span<const float> y,
                  std::span<const float> z, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3POLYLINE V0.1";
  if (st_bad(status, position)) return;
  std::array<float, kMaxPolyline3d> u{};
  std::array<float, kMaxPolyline3d> v{};
  if (!project(n, kMaxPolyline3d, x, y, z, u, v, status, position)) return;
  const auto count = static_cast<std::size_t>(n);
  QG_POLYLINE(n, std::span<const float>(u.data(), count), std::span<const float>(v.data(), count),
              status);
}

void GS_3LINE(float x1, float y1, float z1, float x2, float y2, float z2, Status& status) {
  if (st_bad(status, "Subroutine GS_3LINE V0.1")) return;
  const float x[2] = {x1, x2};
  const float y[2] = {y1, y2};
  const float z[2] = {z1, z2};
  GS_3POLYLINE(2, x, y, z, status);
}

void GS_3FILLAREA(int n, std::span<const float> x, std::span<const float> y,
                  std::span<const float> z, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3FILLAREA V0.1";
  if (st_bad(status, position)) return;
  std::array<float, kMaxPolyline3d> u{};
  std::array<float, kMaxPolyline3d> v{};
  if (!project(n, kMaxFill3d, x, y, z, u, v, status, position)) return;
  const auto count = static_cast<std::size_t>(n);
  QG_FILLAREA(n, std::span<const float>(u.data(), count), std::span<const float>(v.data(), count),
              status);
}

void GS_3TEXT(float x, float y, float z, std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine GS_3TEXT V0.1")) return;
  float u = 0, v = 0;
  gs_3d_project(gs_state.view3d, x, y, z, u, v);
  QG_TEXT(u, v, text, status);
}

void GS_3LINAXIS(int axis, float start, float end, float vmin, float vmax, float p1, float p2,
                 float dx, float dy, float dz, bool enumerate, int horizontal, int vertical,
                 Status& status) {
  constexpr std::string_view position = "Subroutine GS_3LINAXIS V0.1";
  if (st_bad(status, position)) return;
  if (!(start < end) && refuse(status, 13, position)) return;
  const float wy = world_per_page_y(status);
  const GsAxesStyle& style = gs_state.haxes;
  GS_LINESTYLE(style.line_type, style.width, style.colour, status);
  float first = 0, interval = 1;
  int number = 0;
  GS_CAL_TICKS(vmin, vmax, first, interval, number, status);
  if (status != kStatusGood) return;
  // In double: values from near -3.4E+38 to near 3.4E+38 span more than a
  // float holds.
  const double scale = (double{end} - start) / (double{vmax} - vmin);
  const auto tick_first = static_cast<float>((double{first} - vmin) * scale + start);
  const auto tick_interval = static_cast<float>(interval * scale);
  if (!measuring_axes() && (axis_numbers == nullptr || !axis_numbers->numbers_only))
    GS_3LINTICKS(axis, start, end, p1, p2, tick_first, tick_interval, number, style.num_small, dx,
                 dy, dz, style.large_tick * wy, style.small_tick * wy, status);
  if (enumerate)
    GS_3LINAXENUM(axis, p1, p2, tick_first, tick_interval, first, interval, number, dx, dy, dz,
                  horizontal, vertical, status);
}

void GS_3LINTICKS(int axis, float start, float end, float p1, float p2, float first, float interval,
                  int nlarge, int nsmall, float dx, float dy, float dz, float large, float small,
                  Status& status) {
  constexpr std::string_view position = "Subroutine GS_3LINTICKS V0.1";
  if (st_bad(status, position)) return;
  if (!(start < end) && refuse(status, 13, position)) return;
  if ((axis < 1 || axis > 3 || nlarge < 0 || nsmall > 100) && refuse(status, 17, position)) return;
  if ((!(large > 0.0f) || !(small > 0.0f)) && refuse(status, 21, position)) return;
  if (!unit(dx, dy, dz) && refuse(status, 9999, position)) return;
  float xa = 0, ya = 0, za = 0, xb = 0, yb = 0, zb = 0;
  axis_point(axis, start, p1, p2, xa, ya, za);
  axis_point(axis, end, p1, p2, xb, yb, zb);
  GS_3LINE(xa, ya, za, xb, yb, zb, status);
  for (int k = 0; k < nlarge && status == kStatusGood; ++k)
    tick3(axis, first + static_cast<float>(k) * interval, p1, p2, dx, dy, dz, large, status);
  if (nsmall < 1) return;
  const float spacing = interval / static_cast<float>(nsmall + 1);
  for (int k = -1; k <= nlarge && status == kStatusGood; ++k)
    for (int n = 1; n <= nsmall && status == kStatusGood; ++n) {
      const float t = first + static_cast<float>(k) * interval + static_cast<float>(n) * spacing;
      if (t >= start && t <= end) tick3(axis, t, p1, p2, dx, dy, dz, small, status);
    }
}

namespace {

// A number of a 3-D axis on the page: where it stands (U, V; LEFT and
// RIGHT its extent across), where its tick put it before it was moved
// inside the frame (AT_U, AT_V), and whether it is drawn.
struct Placed {
  bool shown = false, moved = false;
  float u = 0, v = 0, left = 0, right = 0, at_u = 0, at_v = 0;
};

// The margin of the plate of the background's colour behind a number, in
// text heights.
constexpr float kPlateMargin = 0.15f;

// The places of the texts of one 3-D axis, beyond its large ticks by the
// enumeration gap, kept inside the view's frame.
class AxisTexts {
 public:
  AxisTexts(int axis, float p1, float p2, float dx, float dy, float dz, float interval,
            int horizontal, int vertical, float height, Status& status)
      : axis_(axis), p1_(p1), p2_(p2), dx_(dx), dy_(dy), dz_(dz), interval_(interval),
        horizontal_(horizontal), vertical_(vertical), height_(height), status_(status) {
    const float wy = world_per_page_y(status);
    offset_ = (gs_state.haxes.large_tick + gs_state.layout.x_enum_gap) * wy;
    // The widths are estimates that a printed font's digits can pass by a
    // tenth of their height: texts side by side keep twice that between
    // their boxes, or their digits run together ("1015" for 10 and 15).
    float wx = 1.0f, unused = 1.0f;
    gs_detail::world_per_page(wx, unused, status);
    slack_ = std::fabs(0.1f * (height / wy) * wx);
    // A plated number needs room for its plate: one laid over the number
    // beside it would hide part of that number.
    float low = 0, high = 0;
    vertical_extent(vertical, 0.0f, height, low, high);
    plate_rise_ = std::max(high - low + 2.0f * kPlateMargin * height, height);
  }

  // TEXT beside the point ALONG the axis. Seen steeply or from below, a
  // height tick can point along the axis on the page, and a number out along
  // it would stand by another tick: it stands across the axis from its own
  // tick instead, as far out, on its side, where the frame shows it there.
  Placed at_tick(std::string_view text, float along) const {
    float x = 0, y = 0, z = 0, u = 0, v = 0;
    axis_point(axis_, along, p1_, p2_, x, y, z);
    gs_3d_project(gs_state.view3d, x + dx_ * offset_, y + dy_ * offset_, z + dz_ * offset_, u, v);
    if (axis_ == 3) {
      float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
      gs_3d_project(gs_state.view3d, x, y, z, u0, v0);
      gs_3d_project(gs_state.view3d, x, y, z + interval_, u1, v1);
      const float step = std::hypot(u1 - u0, v1 - v0);
      const float out = std::hypot(u - u0, v - v0);
      // (An axis seen end-on or almost has no side of its own.)
      if (step > 0.25f * height_ && std::isfinite(step)) {
        const float au = (u1 - u0) / step, av = (v1 - v0) / step;
        if (std::fabs((u - u0) * au + (v - v0) * av) > 0.5f * step) {
          // Across: perpendicular to the axis, towards the justified side.
          float cu = av, cv = -au;
          if ((horizontal_ == 3) == (cu > 0.0f)) cu = -cu, cv = -cv;
          const Placed across = at_page(text, u0 + out * cu, v0 + out * cv);
          if (across.shown) return across;
        }
      }
    }
    return at_page(text, u, v);
  }

  // TEXT at the page place (U, V), moved across into the frame where it
  // reaches past its side. A text whose place is off the frame is not shown,
  // but a Z number moved across still stands at its height, where an X or Y
  // number would name another place; no text is moved up or down.
  Placed at_page(std::string_view text, float u, float v) const {
    Placed p;
    p.u = p.at_u = u;
    p.v = p.at_v = v;
    const bool on_page = gs_3d_text_inside(text, horizontal_, vertical_, height_, p.v, p.u, p.left,
                                           p.right, status_);
    float low = 0, high = 0;
    vertical_extent(vertical_, p.v, height_, low, high);
    const PageRoom room = page_room(height_, status_);
    p.shown = on_page || (axis_ == 3 && low >= room.bottom && high <= room.top);
    p.moved = p.u != u;
    return p;
  }

  // TEXT on P's line, beyond it on the side away from the axis (nothing
  // for texts centred on their ticks).
  Placed beside(std::string_view text, const Placed& p) const {
    const float gap = 4.0f * slack_;
    if (horizontal_ == 3) return at_page(text, p.left - gap, p.v);
    if (horizontal_ <= 1) return at_page(text, p.right + gap, p.v);
    return {};
  }

  // Whether P is drawn on a plate (see plate_behind).
  bool plated(const Placed& p) const { return axis_ == 3 || p.moved; }

  // The page box of P's plate, or (WIDENED) the room an X or Y number keeps
  // clear of a height number's plate: its own plate's box and half its
  // width again on either side, as a width is only estimated and a plate
  // beside a number's last digit reads as hiding it.
  GsRect plate(const Placed& p, bool widened = false) const {
    float low = 0, high = 0;
    vertical_extent(vertical_, p.v, height_, low, high);
    const float margin = kPlateMargin * height_;
    const float across = margin + (widened ? 0.5f * (p.right - p.left) : 0.0f);
    return {p.left - across, low - margin, p.right + across, high + margin};
  }

  // Whether the plate of height number P would cover a number of the X or
  // Y axis.
  bool covers_other_axes(const Placed& p) const {
    if (axis_ != 3 || axis_numbers == nullptr || !p.shown) return false;
    const GsRect r = plate(p);
    return std::any_of(axis_numbers->xy_room.begin(), axis_numbers->xy_room.end(),
                       [&r](const Gs3dAxisNumbers::Room& b) { return meet(r, b.box); });
  }

  // Whether the plates of the height numbers DRAWN of PLACED and of their
  // power POWER would cover every number of the X or Y axis: that axis would
  // be drawn without numbers.
  bool empties_an_axis(const std::vector<Placed>& placed, std::span<const std::size_t> drawn,
                       const Placed& power) const {
    if (axis_ != 3 || axis_numbers == nullptr) return false;
    std::vector<GsRect> plates;
    for (const std::size_t k : drawn) plates.push_back(plate(placed[k]));
    if (power.shown) plates.push_back(plate(power));
    for (const int axis : {1, 2}) {
      bool numbered = false, uncovered = false;
      for (const Gs3dAxisNumbers::Room& room : axis_numbers->xy_room) {
        if (room.axis != axis) continue;
        numbered = true;
        uncovered = uncovered || std::none_of(plates.begin(), plates.end(), [&](const GsRect& r) {
                      return meet(r, room.box);
                    });
      }
      if (numbered && !uncovered) return true;
    }
    return false;
  }

  // The height two texts, P and Q, need between their base lines.
  float rise(const Placed& p, const Placed& q) const {
    return plated(p) || plated(q) ? plate_rise_ : height_;
  }

  bool overlap(const Placed& p, const Placed& q) const {
    return p.left < q.right + 2.0f * slack_ && q.left < p.right + 2.0f * slack_ &&
           std::fabs(p.v - q.v) < rise(p, q);
  }

  // The page distance along the unit direction (DU, DV) at which two texts
  // as wide as P and Q stand clear of one another: a little more than their
  // height (or their plates') up or down, or than their width across.
  float clear_distance(const Placed& p, const Placed& q, float du, float dv) const {
    const float width = std::max(p.right - p.left, q.right - q.left) + 2.0f * slack_;
    float distance = std::numeric_limits<float>::max();
    if (std::fabs(dv) > 1e-6f) distance = std::min(distance, rise(p, q) / std::fabs(dv));
    if (std::fabs(du) > 1e-6f) distance = std::min(distance, width / std::fabs(du));
    return 1.05f * distance;
  }

  float height() const { return height_; }

 private:
  int axis_;
  float p1_, p2_, dx_, dy_, dz_, interval_;
  int horizontal_, vertical_;
  float height_, offset_ = 0, slack_ = 0, plate_rise_ = 0;
  Status& status_;
};

// The numbers drawn, of PLACED: where neighbours in their own places would
// overlap, only every second (or third...) number, so that those shown stay
// evenly spaced; one moved inside is left out where it would overlap a
// neighbour, and one that would overlap the last drawn.
std::vector<std::size_t> evenly_spaced(const AxisTexts& texts, std::vector<Placed>& placed) {
  const std::size_t number = placed.size();
  const auto apart = [&](std::size_t stride) {
    for (std::size_t k = 0; k + stride < number; k += stride) {
      const Placed& p = placed[k];
      const Placed& q = placed[k + stride];
      if (p.shown && q.shown && !p.moved && !q.moved && texts.overlap(p, q)) return false;
    }
    return true;
  };
  std::size_t stride = 1;
  while (stride < number && !apart(stride)) ++stride;
  for (std::size_t k = 0; k < number; k += stride) {
    Placed& p = placed[k];
    for (const std::size_t n : {k - stride, k + stride})
      if (p.moved && n < number && placed[n].shown && !placed[n].moved &&
          texts.overlap(p, placed[n]))
        p.shown = false;
  }
  std::vector<std::size_t> drawn;
  for (std::size_t k = 0; k < number; k += stride)
    if (placed[k].shown && (drawn.empty() || !texts.overlap(placed[k], placed[drawn.back()])))
      drawn.push_back(k);
  return drawn;
}

// A Z axis too short on the page for two of its numbers a tick step or more
// apart (a view from high above), or reaching past the frame with only a few
// numbers inside, is numbered at the lowest and highest ticks whose numbers
// the frame shows, pushed apart along the axis until they stand clear of one
// another (the one side pushed alone where the other would leave it), but
// neither further than its own height from its tick. An axis seen end-on or
// almost (less than a quarter of a number's height between the two ticks
// on the page) gets no such pair: numbers pushed apart there stand far
// beyond the axis, by no height of theirs. Gives the two drawn (empty when
// they cannot both be shown); unless ANYWHERE, a place where a plate would
// cover a number of another axis is not taken.
std::vector<std::size_t> number_the_ends(const AxisTexts& texts,
                                         std::span<const std::string> numbers,
                                         std::vector<Placed>& placed, bool anywhere = false) {
  std::size_t a = 0, b = placed.size() - 1;
  while (a < b && !placed[a].shown) ++a;
  while (b > a && !placed[b].shown) --b;
  if (a >= b) a = 0, b = placed.size() - 1;
  const Placed low0 = placed[a], high0 = placed[b];
  const float su = high0.at_u - low0.at_u, sv = high0.at_v - low0.at_v;
  const float length = std::hypot(su, sv);
  if (!(length > 0.25f * texts.height())) return {};
  const float du = su / length, dv = sv / length;
  const float push = std::max(texts.clear_distance(low0, high0, du, dv) - length, 0.0f);
  const float near = texts.height();
  for (const float share : {0.5f, 0.0f, 1.0f}) {
    const float down = share * push, up = push - down;
    if (down > near || up > near) continue;
    Placed low = texts.at_page(numbers[a], low0.at_u - down * du, low0.at_v - down * dv);
    Placed high = texts.at_page(numbers[b], high0.at_u + up * du, high0.at_v + up * dv);
    if (low.shown && high.shown && !texts.overlap(low, high) &&
        (anywhere || (!texts.covers_other_axes(low) && !texts.covers_other_axes(high)))) {
      placed[a] = low, placed[b] = high;
      return {a, b};
    }
  }
  return {};
}

// The height numbers DRAWN less those whose plates would cover a number of
// the X or Y axis (drawn before them, under the plates); where that leaves
// fewer than two of two or more, the lowest tick's number clear of them and
// each next one clear of the one before, or else the two ends pushed apart;
// failing those, DRAWN as it is (the numbers under its plates are then left
// out).
void keep_off_other_axes(const AxisTexts& texts, std::span<const std::string> numbers,
                         std::vector<Placed>& placed, std::vector<std::size_t>& drawn) {
  const auto clear = [&](std::size_t k) { return !texts.covers_other_axes(placed[k]); };
  std::vector<std::size_t> kept;
  std::copy_if(drawn.begin(), drawn.end(), std::back_inserter(kept), clear);
  if (kept.size() >= 2 || drawn.size() < 2) {
    drawn = std::move(kept);
    return;
  }
  std::vector<std::size_t> chosen;
  for (std::size_t k = 0; k < placed.size(); ++k)
    if (placed[k].shown && clear(k) &&
        (chosen.empty() || !texts.overlap(placed[k], placed[chosen.back()])))
      chosen.push_back(k);
  if (chosen.size() >= 2) {
    drawn = std::move(chosen);
    return;
  }
  std::vector<Placed> pushed = placed;
  const std::vector<std::size_t> ends = number_the_ends(texts, numbers, pushed);
  if (ends.size() == 2) placed = std::move(pushed), drawn = ends;
}

// The common power of ten of the numbers DRAWN: one step of theirs beyond
// the last (or before the first) along the axis; else at a tick where it
// overlaps no number drawn; else beside a number drawn, on the side away
// from the axis; else, of more than two height numbers, in one of those
// places over as few of them as leaves two, which are left out; else in one
// of those places over a number of the X or Y axis (left out under its
// plate) where that axis keeps another; else in the place of the last
// number drawn, which it hides: the numbers are unreadable without it.
Placed place_power(const AxisTexts& texts, std::string_view text, float first, float interval,
                   std::vector<Placed>& placed, std::vector<std::size_t>& drawn) {
  std::vector<Placed> places;
  if (drawn.size() >= 2) {
    const Placed& last = placed[drawn.back()];
    const Placed& before = placed[drawn[drawn.size() - 2]];
    const Placed& first_drawn = placed[drawn.front()];
    const Placed& second = placed[drawn[1]];
    places.push_back(
        texts.at_page(text, 2.0f * last.at_u - before.at_u, 2.0f * last.at_v - before.at_v));
    places.push_back(texts.at_page(text, 2.0f * first_drawn.at_u - second.at_u,
                                   2.0f * first_drawn.at_v - second.at_v));
  }
  for (std::size_t k = placed.size() + 1; k-- > 0;)
    places.push_back(texts.at_tick(text, first + static_cast<float>(k) * interval));
  for (auto k = drawn.rbegin(); k != drawn.rend(); ++k)
    places.push_back(texts.beside(text, placed[*k]));
  const auto under = [&](const Placed& power) {
    std::vector<std::size_t> covered;
    std::copy_if(drawn.begin(), drawn.end(), std::back_inserter(covered),
                 [&](std::size_t k) { return texts.overlap(power, placed[k]); });
    return covered;
  };
  for (const Placed& power : places)
    if (power.shown && !texts.covers_other_axes(power) && under(power).empty()) return power;
  for (std::size_t given_up = 1; given_up + 2 <= drawn.size(); ++given_up)
    for (const Placed& power : places) {
      if (!power.shown || texts.covers_other_axes(power)) continue;
      const std::vector<std::size_t> covered = under(power);
      if (covered.size() != given_up) continue;
      std::erase_if(drawn, [&](std::size_t k) {
        return std::find(covered.begin(), covered.end(), k) != covered.end();
      });
      return power;
    }
  for (const Placed& power : places)
    if (power.shown && under(power).empty() && !texts.empties_an_axis(placed, drawn, power))
      return power;
  if (drawn.empty()) return {};
  Placed power = texts.at_page(text, placed[drawn.back()].at_u, placed[drawn.back()].at_v);
  if (power.shown) drawn.pop_back();
  return power;
}

// A height number stands beside the box, or (moved inside the frame from
// an axis off it, as any number may be) over the surface, whose colours
// hide a text: a plate of the background's colour behind P keeps it
// readable.
void plate_behind(const Placed& p, int vertical, float height, Status& status) {
  float low = 0, high = 0;
  vertical_extent(vertical, p.v, height, low, high);
  const float margin = kPlateMargin * height;
  GS_FILLSTYLE(1, gs_state.background_colour, status);
  GS_RECTANGLE(p.left - margin, low - margin, p.right + margin, high + margin, false, true, status);
}

}  // namespace

void GS_3LINAXENUM(int axis, float p1, float p2, float first, float interval, float value_first,
                   float value_interval, int number, float dx, float dy, float dz, int horizontal,
                   int vertical, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3LINAXENUM V0.1";
  if (st_bad(status, position)) return;
  if (!unit(dx, dy, dz) && refuse(status, 9999, position)) return;
  if (number < 0 && refuse(status, 17, position)) return;
  const GsAxisEnum& style = gs_state.xenum;
  if (!style.text.output || number == 0) return;
  const float wy = world_per_page_y(status);
  const float height = style.text.height * kTextHeight * wy;
  GS_TEXTSTYLE(style.text.font, style.text.colour, height, style.text.width, style.text.spacing, 0,
               horizontal, vertical, 0.0f, 1.0f, status);
  double factor = 1.0;
  std::vector<std::string> numbers;
  // Heights that differ by little beside their size (an offset of 100000
  // under peaks of 25) are numbered with the digits that tell them apart.
  gs_detail::axis_numbers(style, value_first, value_interval, number, factor, numbers, status,
                          axis == 3 ? gs_detail::NumberField::kTellApart
                                    : gs_detail::NumberField::kStyle);
  // A projected axis can bring its numbers to the page's edge, or so close
  // together that they run into one another: a number reaching past the
  // edge is moved inside, but an X or Y number whose place is off the page
  // is left out, and crowded numbers are thinned.
  const AxisTexts texts(axis, p1, p2, dx, dy, dz, interval, horizontal, vertical, height, status);
  std::vector<Placed> placed(static_cast<std::size_t>(number));
  for (int k = 0; k < number && status == kStatusGood; ++k) {
    const std::string& text = numbers[static_cast<std::size_t>(k)];
    if (!text.empty())
      placed[static_cast<std::size_t>(k)] =
          texts.at_tick(text, first + static_cast<float>(k) * interval);
  }
  std::vector<std::size_t> drawn = evenly_spaced(texts, placed);
  // Heights stay numbered twice wherever their axis has a length on the
  // page that two numbers by their ticks can tell.
  if (axis == 3 && drawn.size() < 2 && number >= 2 && status == kStatusGood) {
    std::vector<std::size_t> ends = number_the_ends(texts, numbers, placed);
    // Where only places over an X or Y number hold two, those are taken:
    // the numbers under their plates are left out rather than the heights'.
    if (ends.empty()) ends = number_the_ends(texts, numbers, placed, true);
    // Else the number at its own tick, if any, stands alone.
    if (!ends.empty()) drawn = std::move(ends);
  }
  if (axis == 3 && status == kStatusGood) keep_off_other_axes(texts, numbers, placed, drawn);
  // Where the floor's two axes meet at a corner (seen level, an axis end-on
  // brings its numbers there), a Y number over an X number is left out, as
  // long as the Y axis keeps another.
  if (axis == 2 && axis_numbers != nullptr && status == kStatusGood) {
    const auto over_x = [&](std::size_t k) {
      const GsRect r = texts.plate(placed[k]);
      return std::any_of(axis_numbers->xy_room.begin(), axis_numbers->xy_room.end(),
                         [&r](const Gs3dAxisNumbers::Room& b) {
                           return b.axis == 1 && meet(r, b.plate);
                         });
    };
    if (std::any_of(drawn.begin(), drawn.end(), [&](std::size_t k) { return !over_x(k); }))
      std::erase_if(drawn, over_x);
  }
  Placed power;
  const float exponent = std::round(std::log10(static_cast<float>(factor)));
  if (factor != 1.0 && !drawn.empty() && status == kStatusGood)
    power = place_power(texts, "*10E" + std::to_string(static_cast<int>(exponent)), first,
                        interval, placed, drawn);
  if (axis_numbers != nullptr && status == kStatusGood) {
    if (axis_numbers->measuring) {
      if (axis == 3) {
        for (const std::size_t k : drawn) axis_numbers->z_plates.push_back(texts.plate(placed[k]));
        if (power.shown) axis_numbers->z_plates.push_back(texts.plate(power));
      } else {
        for (const std::size_t k : drawn)
          axis_numbers->xy_room.push_back(
              {axis, texts.plate(placed[k], true), texts.plate(placed[k])});
        if (power.shown)
          axis_numbers->xy_room.push_back({0, texts.plate(power, true), texts.plate(power)});
      }
      return;
    }
    // Height numbers that found no two places clear of these numbers stand
    // over them: the numbers under their plates are left out.
    if (axis != 3) {
      const auto under_plate = [&](const Placed& p) {
        const GsRect r = texts.plate(p);
        return std::any_of(axis_numbers->z_plates.begin(), axis_numbers->z_plates.end(),
                           [&r](const GsRect& z) { return meet(r, z); });
      };
      std::erase_if(drawn, [&](std::size_t k) { return under_plate(placed[k]); });
      if (power.shown && under_plate(power)) power.shown = false;
    }
  }
  for (const std::size_t k : drawn) {
    if (status != kStatusGood) break;
    if (texts.plated(placed[k])) plate_behind(placed[k], vertical, height, status);
    QG_TEXT(placed[k].u, placed[k].v, numbers[k], status);
  }
  if (power.shown && texts.plated(power) && status == kStatusGood)
    plate_behind(power, vertical, height, status);
  if (power.shown && status == kStatusGood)
    GS_EXPONT(power.u, power.v, 1, horizontal, vertical, true, exponent, style.text.font,
              style.text.colour, 0.0f, height, status);
}

void GS_3DHIDELINES(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float zmin, float zmax,
                    float zdivisor, Index maxwork, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3DHIDELINES V0.1";
  if (st_bad(status, position)) return;
  if (gs_detail::bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 2,
                            status, position))
    return;
  const Index nx = xendelm - xstrelm + 1;
  if (nx > maxwork && refuse(status, 9, position)) return;
  const auto lift =
      static_cast<float>(zdivisor != 0.0f ? (double{zmax} - zmin) / zdivisor : 0.0);
  // The rows' values in world units: a view of data near 3.4E+38 is drawn
  // scaled down (gs_state.y_axis_unit).
  const double unit = gs_state.y_axis_unit;
  std::vector<float> rx(static_cast<std::size_t>(nx));
  std::vector<float> ry(static_cast<std::size_t>(nx));
  Horizon horizon;
  for (Index y = ystrelm; y <= yendelm && status == kStatusGood; ++y) {
    const float shift = 0.5f * (static_cast<float>(y - ystrelm) + 0.5f);
    const float offset = shift * lift;
    const float* row = data.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i < nx; ++i) {
      rx[static_cast<std::size_t>(i)] = static_cast<float>(xstrelm + i) - 0.5f + shift;
      // A pixel that is not a number stays so: the row has a gap there.
      ry[static_cast<std::size_t>(i)] =
          std::isnan(row[i]) ? row[i]
                             : std::clamp(static_cast<float>(row[i] / unit), zmin, zmax) + offset;
    }
    if (y == ystrelm) {
      horizon.reset(rx, ry);
      horizon.draw_runs(rx, ry, status);
    } else {
      horizon.add_row(rx, ry, status);
    }
  }
}

void GS_3DRMCELLARRAY(bool mask_on, float x1, float y1, float z1, float x2, float y2, float z2,
                      float x3, float y3, float z3, Index xmaxdat, Index ymaxdat, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                      std::span<const std::uint8_t> mask, float minimum, float maximum,
                      int mask_colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3DRMCELLARRAY V0.1";
  if (st_bad(status, position)) return;
  if (xmaxdat < 1) return;
  if (gs_detail::bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 1,
                            status, position))
    return;
  if (mask_on && !array_holds(mask.size(), xmaxdat, ymaxdat) && refuse(status, 1, position)) return;
  const Gs3dView& view = gs_state.view3d;
  // Corner 2 is the start of the last row, so the end of the first row is
  // the fourth corner of the parallelogram.
  float u[4], v[4];
  gs_3d_project(view, x1, y1, z1, u[0], v[0]);
  gs_3d_project(view, x1 + x3 - x2, y1 + y3 - y2, z1 + z3 - z2, u[1], v[1]);
  gs_3d_project(view, x3, y3, z3, u[2], v[2]);
  gs_3d_project(view, x2, y2, z2, u[3], v[3]);
  bool log = false;
  QG_INQ_LOGZSCALING(log, status);
  qg_image_scaling_range(log, minimum, maximum);
  QG_3DMIMAGE(mask_on, minimum, maximum, u[0], v[0], u[1], v[1], u[2], v[2], u[3], v[3], xmaxdat,
              ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask, mask_colour, status);
}

float gs_3d_axis_label(float x, float y, float z, float z_other, float dx, float dy,
                       int horizontal, std::string_view text, Status& status) {
  const float unlimited = std::numeric_limits<float>::max();
  if (status != kStatusGood || !gs_state.xenum.text.output) return unlimited;
  float wx = 1.0f, wy = 1.0f;
  gs_detail::world_per_page(wx, wy, status);
  const GsAxisEnum& style = gs_state.xenum;
  const float height = style.text.height * kTextHeight * wy;
  const float beyond = gs_state.haxes.large_tick + gs_state.layout.x_enum_gap;
  const float offset = beyond * wy;
  const float gap = std::fabs(beyond * wx);
  GS_TEXTSTYLE(style.text.font, style.text.colour, height, style.text.width, style.text.spacing, 0,
               horizontal, 3, 0.0f, 1.0f, status);
  float u = 0, v = 0, left = 0, right = 0;
  gs_3d_project(gs_state.view3d, x + dx * offset, y + dy * offset, z, u, v);
  // The axis on the page, from this end to the other.
  float ue = 0, ve = 0, uo = 0, vo = 0;
  gs_3d_project(gs_state.view3d, x, y, z, ue, ve);
  gs_3d_project(gs_state.view3d, x, y, z_other, uo, vo);
  // Above the axis's top (its end, or the numbers' place beside it where
  // that stands higher); held below the frame's top edge when the axis
  // reaches past it.
  const PageRoom room = page_room(height, status);
  const float first =
      std::max(std::min(std::max(v, ve) + 1.5f * height, room.top - 0.5f * height),
               room.bottom + 0.5f * height);
  // The page extent across of the axis line between heights LOW and HIGH
  // (false where it does not reach them).
  const auto axis_across = [&](float low, float high, float& a1, float& a2) {
    const float v1 = std::min(ve, vo), v2 = std::max(ve, vo);
    if (high < v1 || low > v2) return false;
    const auto u_at = [&](float w) {
      return vo == ve ? ue : ue + (uo - ue) * (std::clamp(w, v1, v2) - ve) / (vo - ve);
    };
    a1 = std::min(u_at(low), u_at(high)), a2 = std::max(u_at(low), u_at(high));
    if (vo == ve) a1 = std::min(ue, uo), a2 = std::max(ue, uo);
    return true;
  };
  // The heading at V: on the numbers' side of the axis line, clear of it by
  // the numbers' distance; false where the frame leaves it over the line.
  const auto place = [&](int side, float at_v, float& at_u) {
    at_u = u;
    gs_3d_text_inside(text, side, 3, height, at_v, at_u, left, right, status);
    float a1 = 0, a2 = 0;
    if (!axis_across(at_v - 0.5f * height, at_v + 0.5f * height, a1, a2)) return true;
    if (side == 3 && right > a1 - gap) at_u -= right - (a1 - gap);
    if (side != 3 && left < a2 + gap) at_u += a2 + gap - left;
    gs_3d_text_inside(text, side, 3, height, at_v, at_u, left, right, status);
    return right <= a1 || left >= a2;
  };
  // Clear of the X and Y numbers, where a step or more up leaves it so.
  const auto over_numbers = [&](float at_v) {
    if (axis_numbers == nullptr) return false;
    const GsRect box{left, at_v - 0.5f * height, right, at_v + 0.5f * height};
    return std::any_of(axis_numbers->xy_room.begin(), axis_numbers->xy_room.end(),
                       [&box](const Gs3dAxisNumbers::Room& r) { return meet(box, r.box); });
  };
  // On the numbers' side; where the frame's edge leaves no room there
  // beside the line, across it, on a plate of the background over the
  // surface.
  float chosen_u = u;
  v = first;
  int chosen_side = horizontal;
  bool found = false;
  const int across = horizontal == 3 ? 1 : 3;
  for (const int side : {horizontal, across}) {
    if (side == across && horizontal == 2) break;
    for (float at_v = first;
         (at_v == first || at_v + 0.5f * height <= room.top) && !found && status == kStatusGood;
         at_v += 0.5f * height) {
      float at_u = u;
      if (place(side, at_v, at_u) && !over_numbers(at_v))
        chosen_u = at_u, v = at_v, chosen_side = side, found = true;
    }
    if (found) break;
  }
  place(chosen_side, v, chosen_u);
  if (measuring_axes()) return v - 0.5f * height;
  if (chosen_side != horizontal) {
    const float margin = kPlateMargin * height;
    GS_FILLSTYLE(1, gs_state.background_colour, status);
    GS_RECTANGLE(left - margin, v - 0.5f * height - margin, right + margin,
                 v + 0.5f * height + margin, false, true, status);
    GS_TEXTSTYLE(style.text.font, style.text.colour, height, style.text.width, style.text.spacing,
                 0, chosen_side, 3, 0.0f, 1.0f, status);
  }
  QG_TEXT(chosen_u, v, text, status);
  return v - 0.5f * height;
}

Gs3dNumbersBelow::Gs3dNumbersBelow(float top) : before_(numbers_ceiling) {
  numbers_ceiling = std::min(numbers_ceiling, top);
}

Gs3dNumbersBelow::~Gs3dNumbersBelow() { numbers_ceiling = before_; }

Gs3dAxisNumbers::Gs3dAxisNumbers() : before_(axis_numbers) { axis_numbers = this; }

Gs3dAxisNumbers::~Gs3dAxisNumbers() { axis_numbers = before_; }

float gs_3d_number_room() {
  // Numbers of up to four characters (larger values take a common power of
  // ten), at most 0.6 of their height wide a character, a quarter character
  // from the page's edge.
  const float height = gs_state.xenum.text.height * kTextHeight;
  return gs_state.haxes.large_tick + gs_state.layout.x_enum_gap + (4.0f * 0.6f + 0.25f) * height;
}

}  // namespace kesta
