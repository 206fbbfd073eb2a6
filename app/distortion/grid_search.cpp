// FIND PEAKS: the holes of a calibration grid image located by correlation
// with a Gaussian template, from three clicked starting peaks along the
// central cross and then quadrant by quadrant, each new hole predicted from
// its found neighbours.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "app/distortion/grid_peaks.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/profiles2d.hpp"
#include "numeric/statistics.hpp"

namespace kesta {

bool GridPeaks::allocate(Index xmax_peaks, Index ymax_peaks) {
  *this = GridPeaks{};
  if (xmax_peaks < 1 || ymax_peaks < 1) return false;
  try {
    Index product = 0;
    if (!checked_product(xmax_peaks, ymax_peaks, product)) return false;
    const auto n = static_cast<std::size_t>(product);
    x.assign(n, kMissingPeak);
    y.assign(n, 0.0f);
    x_distortion.assign(n, 0.0f);
    y_distortion.assign(n, 0.0f);
  } catch (const std::exception&) {
    *this = GridPeaks{};
    return false;
  }
  xmax = xmax_peaks;
  ymax = ymax_peaks;
  return true;
}

GridSearchSettings& kzt_grid_search_settings() {
  static GridSearchSettings settings;
  return settings;
}

Index kzt_template_side(float sigma, int sub_pixels) {
  const double wide = 6.0 * static_cast<double>(sigma) * sub_pixels;
  const Index v = std::isfinite(wide) && wide < 1.0e9 ? static_cast<Index>(wide) : Index{1000000000};
  return std::max<Index>(3, 2 * (v / 2) + 1);
}

void KZT_CALTEMPLATE(Index xmaxtem, Index ymaxtem, Index xnumtem, Index ynumtem, float sigma,
                     int sub_pixels, std::span<float> templ, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CALTEMPLATE V0.1 ";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxtem, ymaxtem, 1, 1, xnumtem, ynumtem, templ.size(),
                                          kBaseApp);
      e != 0)
    return st_fail(status, e, kPosition);
  for_region_rows(xmaxtem, 1, 1, xnumtem, ynumtem, [&](Index offset, Index, Index n) {
    std::fill_n(templ.data() + offset, n, 0.0f);
  });
  const float width = static_cast<float>(sub_pixels) * sigma;
  MA_2GAUSSIAN(xmaxtem, ymaxtem, 1, 1, xnumtem, ynumtem, 1.0f,
               static_cast<float>(xnumtem) * 0.5f, static_cast<float>(ynumtem) * 0.5f, width,
               width, 0.0f, 4.0f, 1, templ, status);
  float mean = 0.0f;
  MA_RMEAN(xmaxtem, ymaxtem, templ, 1, 1, xnumtem, ynumtem, mean, status);
  if (status != kStatusGood) return;
  const double count = static_cast<double>(xnumtem) * static_cast<double>(ynumtem);
  if (!(mean > 0.0f)) return st_fail(status, kBaseApp + 21, kPosition);
  const auto scale = static_cast<float>(1.0 / (count * mean));
  const auto offset = static_cast<float>(-1.0 / count);
  for_region_rows(xmaxtem, 1, 1, xnumtem, ynumtem, [&](Index off, Index, Index n) {
    float* t = templ.data() + off;
    for (Index i = 0; i < n; ++i) t[i] = t[i] * scale + offset;
  });
}

namespace {

// REAL to INTEGER truncating toward zero, clamped so that nothing overflows.
Index to_int(double v) {
  if (!(v > -1.0e15)) return v < 0.0 ? Index{-1000000000000000} : 0;
  return static_cast<Index>(std::min(v, 1.0e15));
}

Status image_error(const GridImage& im) {
  if (im.xmaxdat < 1 || im.side < 1) return kBaseMath + 1;
  if (im.ymaxdat < 1) return kBaseMath + 2;
  if (im.xstrelm < 1 || im.xendelm > im.xmaxdat || im.xendelm < im.xstrelm) return kBaseMath + 5;
  if (im.ystrelm < 1 || im.yendelm > im.ymaxdat || im.yendelm < im.ystrelm) return kBaseMath + 6;
  if (static_cast<Index>(im.data.size()) < im.xmaxdat * im.ymaxdat) return kBaseMath + 1;
  if (im.sub_pixelling < 1) return kBaseMath + 17;
  return 0;
}

// The sub-pixel climb from fine position (XS, YS) within LIMIT fine steps;
// the result back in pixel coordinates.
void climb(const GridImage& im, Index xs, Index ys, Index limit, float& x, float& y, bool& found,
           float& correlation, Status& status) {
  const Index s = im.sub_pixelling;
  MA_BESTCENTRE(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.data,
                im.sub_side, im.sub_side, im.sub_side, im.sub_side, s, s, im.sub_templ, limit,
                limit, xs, ys, found, correlation, status);
  x = static_cast<float>(static_cast<double>(xs) / s - 1.0 / (2.0 * s));
  y = static_cast<float>(static_cast<double>(ys) / s - 1.0 / (2.0 * s));
}

// The whole-pixel template search over pixels X1..X2 x Y1..Y2 (inside the
// active region), then the sub-pixel climb from the best of them.
void locate(const GridImage& im, Index x1, Index y1, Index x2, Index y2, float& x, float& y,
            bool& found, float& correlation, Status& status) {
  Index ix = to_int(x) + 1, iy = to_int(y) + 1;
  MA_CENTRE(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.data,
            im.side, im.side, im.side, im.side, im.templ, x1, y1, x2, y2, ix, iy, status);
  const Index s = im.sub_pixelling;
  climb(im, ix * s - s / 2, iy * s - s / 2, s, x, y, found, correlation, status);
}

// The quick refinement of a good prediction: the climb alone.
void quick_refine(const GridImage& im, int search_limit, float& x, float& y, bool& found,
                  float& correlation, Status& status) {
  const Index s = im.sub_pixelling;
  climb(im, to_int(static_cast<double>(s) * x) + 1, to_int(static_cast<double>(s) * y) + 1,
        static_cast<Index>(search_limit) * s, x, y, found, correlation, status);
}

struct Point {
  float x = 0.0f, y = 0.0f;
};
Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(float k, Point a) { return {k * a.x, k * a.y}; }

float distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A peak near AT: the whole-pixel search over the pixels whose centres lie
// within REACH of it in X and in Y (at least the pixel holding it), then the
// climb. (The search box of a prediction reaches a pixel and a half further
// on its lower side than on its upper one; a box round a click must not, or
// on a fine grid its corner takes in the neighbouring hole.)
void find_near(const GridImage& im, Point at, float reach, float& x, float& y, bool& found,
               float& correlation, Status& status) {
  found = false;
  x = at.x;
  y = at.y;
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return;
  const auto span = [&](float c, Index lowest, Index highest, Index& first, Index& last) {
    first = std::max(lowest, to_int(std::ceil(c - reach + 0.5f)));
    last = std::min(highest, to_int(std::floor(c + reach + 0.5f)));
    if (first > last) first = last = std::clamp(to_int(c) + 1, lowest, highest);
  };
  Index x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  span(at.x, im.xstrelm, im.xendelm, x1, x2);
  span(at.y, im.ystrelm, im.yendelm, y1, y2);
  locate(im, x1, y1, x2, y2, x, y, found, correlation, status);
}

// The mean of the finite pixels of the active region within a pixel of the
// one holding AT (pixel coordinates); NaN where there is none.
float local_mean(const GridImage& im, Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nanf("");
  const Index cx = to_int(std::floor(at.x)) + 1, cy = to_int(std::floor(at.y)) + 1;
  double sum = 0.0;
  Index n = 0;
  for (Index y = std::max(im.ystrelm, cy - 1); y <= std::min(im.yendelm, cy + 1); ++y)
    for (Index x = std::max(im.xstrelm, cx - 1); x <= std::min(im.xendelm, cx + 1); ++x) {
      const float v = im.data[static_cast<std::size_t>((y - 1) * im.xmaxdat + (x - 1))];
      if (!std::isfinite(v)) continue;
      sum += v;
      ++n;
    }
  return n > 0 ? static_cast<float>(sum / static_cast<double>(n)) : std::nanf("");
}

// The starting peaks are searched 5 pixels each way from their clicks, but
// on a fine grid only so far that the box's corners stay within half the
// clicked spacing: a wider box takes in the neighbouring holes, and the
// highest correlation there need not be the clicked hole's.
float start_search_reach(float clicked_spacing) {
  return std::clamp(0.5f * clicked_spacing / std::numbers::sqrt2_v<float>, 0.5f, 5.0f);
}

// The positions of the peaks held so far, in square cells of the active
// region a spacing wide, so that whether a new peak lies on a hole already
// held asks only the cells round it. (A cell is never narrower than a
// 1024th of the region, which bounds their memory to 4 MB.)
class HeldPeaks {
 public:
  HeldPeaks(const GridImage& im, float radius) : radius_(radius) {
    const double width = static_cast<double>(im.xendelm - im.xstrelm + 1);
    const double height = static_cast<double>(im.yendelm - im.ystrelm + 1);
    cell_ = std::max({static_cast<double>(radius) * 2.0, 1.0, width / 1024.0, height / 1024.0});
    x0_ = static_cast<double>(im.xstrelm - 1);
    y0_ = static_cast<double>(im.ystrelm - 1);
    columns_ = static_cast<Index>(width / cell_) + 1;
    rows_ = static_cast<Index>(height / cell_) + 1;
    first_.assign(static_cast<std::size_t>(columns_ * rows_), -1);
  }
  // True when a held peak lies within the radius of V.
  bool near(Point v) const {
    const Index ci = column(v.x), cj = row(v.y);
    for (Index j = std::max<Index>(0, cj - 1); j <= std::min(rows_ - 1, cj + 1); ++j)
      for (Index i = std::max<Index>(0, ci - 1); i <= std::min(columns_ - 1, ci + 1); ++i)
        for (std::int32_t k = first_[static_cast<std::size_t>(j * columns_ + i)]; k >= 0;
             k = next_[static_cast<std::size_t>(k)])
          if (!(distance(v, at_[static_cast<std::size_t>(k)]) > radius_)) return true;
    return false;
  }
  void add(Point v) {
    const auto cell = static_cast<std::size_t>(row(v.y) * columns_ + column(v.x));
    at_.push_back(v);
    next_.push_back(first_[cell]);
    first_[cell] = static_cast<std::int32_t>(at_.size() - 1);
  }

 private:
  Index column(float x) const {
    return std::clamp<Index>(to_int((static_cast<double>(x) - x0_) / cell_), 0, columns_ - 1);
  }
  Index row(float y) const {
    return std::clamp<Index>(to_int((static_cast<double>(y) - y0_) / cell_), 0, rows_ - 1);
  }
  float radius_;
  double cell_ = 1.0, x0_ = 0.0, y0_ = 0.0;
  Index columns_ = 1, rows_ = 1;
  // Each cell's last peak, and the one before each (at most the grid
  // arrays' 160,000 peaks).
  std::vector<std::int32_t> first_, next_;
  std::vector<Point> at_;
};

// The running state of one grid search in wrapped storage. A peak is given
// to one grid hole only: a climb that ends on a hole held already (a fine
// grid, a wide search limit, a prediction drifted past a missing hole), or
// further than half the spacing from where the hole was predicted, is no
// peak of the hole searched, which stays missing; else a hole would be
// counted twice and the grid's spacing come out wrong. Where neighbours of
// the hole have been found, the hole is predicted from them, and its peak
// must lie within half the spacing of where each of them puts it: a
// prediction carried along a row past missing holes drifts with the error
// of each step, and on a fine grid in counting noise one drifted prediction
// took the next hole and every hole after it in the row. Nor is a peak
// whose sub-pixel template reaches past the active region's edge: the edge
// cuts what the template sees of its hole and surroundings, and the
// correlation with what is left pulls it inwards, by up to a couple of
// pixels for a hole the edge cuts.
struct Search {
  const GridImage& im;
  int limit;
  float ratio;
  int frequency;
  float reference;  // correlation of the last accepted peak
  GridPeaks& p;
  Status& status;
  HeldPeaks& held;
  // The grid's steps to the next column and the next row, followed as the
  // search goes (the mean of the last few steps measured, so that one
  // noisy peak moves them little and a detector's distortion is followed).
  Point column_step, row_step;
  bool overflow = false;

  Index wx(Index i) const { return (i - 1 + p.xmax) % p.xmax + 1; }
  Index wy(Index j) const { return (j - 1 + p.ymax) % p.ymax + 1; }
  bool has(Index i, Index j) const { return p.present(wx(i), wy(j)); }
  Point at(Index i, Index j) const {
    const Index k = p.at(wx(i), wy(j));
    return {p.x[k], p.y[k]};
  }
  void put(Index i, Index j, Point v) {
    const Index k = p.at(i, j);
    p.x[k] = v.x;
    p.y[k] = v.y;
  }
  // Half the grid's spacing where the search is: a peak further than this
  // from where its hole was predicted lies nearer another hole.
  float half_spacing() const {
    return 0.5f * std::min(std::hypot(column_step.x, column_step.y),
                           std::hypot(row_step.x, row_step.y));
  }
  static void follow(Point& step, Point measured) { step = step + 0.25f * (measured - step); }
  bool clear_of_edge(Point v) const {
    const float margin =
        static_cast<float>(im.sub_side / 2) / static_cast<float>(im.sub_pixelling);
    return v.x - static_cast<float>(im.xstrelm - 1) >= margin &&
           static_cast<float>(im.xendelm) - v.x >= margin &&
           v.y - static_cast<float>(im.ystrelm - 1) >= margin &&
           static_cast<float>(im.yendelm) - v.y >= margin;
  }
  bool inside(Point v) const {
    return v.x >= static_cast<float>(im.xstrelm - 1) && v.x <= static_cast<float>(im.xendelm) &&
           v.y >= static_cast<float>(im.ystrelm - 1) && v.y <= static_cast<float>(im.yendelm);
  }
  // One attempt at PREDICTION, whose peak must also lie within half the
  // spacing of every place in NEIGHBOURS (where found neighbours put the
  // hole); true and the position when accepted. Without a good prediction
  // the whole-pixel search looks no further than half the spacing: beyond,
  // it finds the neighbouring holes, which are refused, and a brighter one
  // hides the hole searched for.
  bool attempt(Point prediction, bool quick, std::span<const Point> neighbours,
               Point& found_at) {
    bool found = false;
    float correlation = 0.0f;
    float x = prediction.x, y = prediction.y;
    const float half = half_spacing();
    if (quick)
      quick_refine(im, limit, x, y, found, correlation, status);
    else
      find_near(im, prediction, std::min(static_cast<float>(limit), half), x, y, found,
                correlation, status);
    // A correlation over a non-finite pixel is no peak, and must not become
    // the reference for the rest of the search.
    if (status != kStatusGood || !found || !std::isfinite(correlation) ||
        !(reference > 0.0f) || !(correlation / reference > ratio))
      return false;
    const Point v{x, y};
    if (distance(v, prediction) > half || !clear_of_edge(v) || held.near(v)) return false;
    for (const Point n : neighbours)
      if (distance(v, n) > half) return false;
    held.add(v);
    reference = correlation;
    ++p.num;
    found_at = v;
    return true;
  }
  void report() {
    if (p.num % frequency == 0)
      IO_WRITE("INFO: Found " + format_i(p.num, 6) + "  peaks", status);
  }
};

// One arm of the central cross; returns its count.
Index find_line(Search& s, int direction) {
  const GridPeaks& p = s.p;
  // Slot steps, first slot, last found at the start, and the sign of the
  // step along the arm.
  Index di = 0, dj = 0, i = 1, j = 1, li = 1, lj = 1;
  float sign = 1.0f;
  switch (direction) {
    case 0: di = 1; i = 3; li = 2; break;
    case 1: dj = 1; j = 3; lj = 2; break;
    case 2: di = -1; i = p.xmax; sign = -1.0f; break;
    default: dj = -1; j = p.ymax; sign = -1.0f; break;
  }
  Point& step = di != 0 ? s.column_step : s.row_step;
  // The opposite arm's slots are not to be written over.
  const Index lowest_i = direction == 2 ? 3 : 1;
  const Index lowest_j = direction == 3 ? 3 : 1;
  const Index start_li = li, start_lj = lj;
  Point prediction = s.at(li, lj) + sign * step;
  Index gap = 1;
  bool quick = true;
  while (s.status == kStatusGood && s.inside(prediction)) {
    if (i < lowest_i || i > p.xmax || j < lowest_j || j > p.ymax) {
      s.overflow = true;
      break;
    }
    Point found;
    if (s.attempt(prediction, quick, {}, found)) {
      s.put(i, j, found);
      Search::follow(step, (sign / static_cast<float>(gap)) * (found - s.at(li, lj)));
      prediction = found + sign * step;
      li = i;
      lj = j;
      gap = 1;
      quick = true;
    } else {
      ++gap;
      prediction = s.at(li, lj) + (sign * static_cast<float>(gap)) * step;
      quick = false;
    }
    i += di;
    j += dj;
  }
  switch (direction) {
    case 0: return li - 2;
    case 1: return lj - 2;
    case 2: return li == start_li ? 0 : p.xmax - li + 1;
    default: return lj == start_lj ? 0 : p.ymax - lj + 1;
  }
}

// One quadrant: CX +1 right, -1 left; RY +1 up, -1 down. Each row starts
// beside the cross's column and is searched outwards; a hole is predicted
// from its neighbours found in the row and in the row searched before it
// (the parallelogram of three where they are all found), and only where
// none is found from the row's last peak and the column step. A row goes
// on past missing holes, and so does the quadrant past a row whose first
// hole is missing.
void find_quadrant(Search& s, int cx, int ry, Index nr, Index nu, Index nl, Index nd) {
  const GridPeaks& p = s.p;
  const auto column_ok = [&](Index c) { return cx > 0 ? c <= nr + 2 : p.xmax - c < nl; };
  const auto row_ok = [&](Index r) { return ry > 0 ? r <= nu + 2 : p.ymax - r < nd; };
  const Index c0 = cx > 0 ? 2 : p.xmax;
  const float fx = static_cast<float>(cx), fy = static_cast<float>(ry);
  if (!column_ok(c0)) return;
  for (Index j = ry > 0 ? 2 : p.ymax; j >= 1 && j <= p.ymax && row_ok(j); j += ry) {
    // The row's first prediction, from the cross's peak of the row.
    if (!s.inside(s.at(1, j) + fx * s.column_step)) return;
    Index li = 1, gap = 1;
    for (Index i = c0; i >= 1 && i <= p.xmax && column_ok(i) && s.status == kStatusGood;
         i += cx) {
      const Index ii = s.wx(i - cx), jj = s.wy(j - ry), io = i + cx;
      const Point a = fx * s.column_step, b = fy * s.row_step;
      std::array<Point, 4> places;
      std::size_t n = 0;
      if (s.has(ii, j)) places[n++] = s.at(ii, j) + a;
      if (s.has(i, jj)) places[n++] = s.at(i, jj) + b;
      if (s.has(ii, jj)) places[n++] = s.at(ii, jj) + a + b;
      if (io >= 1 && io <= p.xmax && column_ok(io) && s.has(io, jj)) places[n++] = s.at(io, jj) - a + b;
      Point prediction = s.at(li, j) + static_cast<float>(gap) * a;
      bool quick = n > 0;
      if (s.has(ii, j) && s.has(ii, jj) && s.has(i, jj)) {
        prediction = s.at(i, jj) - s.at(ii, jj) + s.at(ii, j);
      } else if (n > 0) {
        Point sum;
        for (std::size_t k = 0; k < n; ++k) sum = sum + places[k];
        prediction = (1.0f / static_cast<float>(n)) * sum;
      }
      if (!s.inside(prediction)) break;
      Point found;
      if (s.attempt(prediction, quick, std::span<const Point>(places.data(), n), found)) {
        s.put(i, j, found);
        if (s.has(ii, j)) Search::follow(s.column_step, fx * (found - s.at(ii, j)));
        if (s.has(i, jj)) Search::follow(s.row_step, fy * (found - s.at(i, jj)));
        li = i;
        gap = 1;
        s.report();
      } else {
        ++gap;
      }
    }
    if (s.status != kStatusGood) return;
  }
}

}  // namespace

void KZT_FINDCENTRE(const GridImage& im, int search_limit, float& x, float& y, bool& found,
                    float& correlation, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_FINDCENTRE V0.1 ";
  if (st_bad(status, kPosition)) return;
  if (Status e = image_error(im); e != 0 || search_limit < 1)
    return st_fail(status, e != 0 ? e : kBaseMath + 17, kPosition);
  found = false;
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  const double l = search_limit;
  // The box stays inside the active region (the template is clipped there).
  const Index x1 = std::max(im.xstrelm, to_int(x - l)), x2 = std::min(im.xendelm, to_int(x + l));
  const Index y1 = std::max(im.ystrelm, to_int(y - l)), y2 = std::min(im.yendelm, to_int(y + l));
  if (x1 > x2 || y1 > y2) return;
  locate(im, x1, y1, x2, y2, x, y, found, correlation, status);
}

void KZT_FIND2DGRID(const GridImage& im, int search_limit, float detect_ratio, float x_start,
                    float y_start, float x_right, float y_right, float x_up, float y_up,
                    int output_frequency, float correlation, int& retstat, Index& num_left,
                    Index& num_down, GridPeaks& p, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_FIND2DGRID V0.2 ";
  if (st_bad(status, kPosition)) return;
  Status e = image_error(im);
  if (e == 0 && (p.xmax < 2 || std::ssize(p.x) < p.xmax * p.ymax)) e = kBaseMath + 1;
  if (e == 0 && p.ymax < 2) e = kBaseMath + 2;
  if (e == 0 && search_limit < 1) e = kBaseMath + 17;
  if (e != 0) return st_fail(status, e, kPosition);
  const Point start{x_start, y_start}, right{x_right, y_right}, up{x_up, y_up};
  const float half_spacing = 0.5f * std::min(distance(start, right), distance(start, up));
  HeldPeaks held(im, half_spacing);
  Search s{im,     search_limit, detect_ratio, std::max(1, output_frequency), correlation, p,
           status, held,         right - start, up - start};
  s.put(1, 1, start);
  s.put(2, 1, right);
  s.put(1, 2, up);
  for (const Point v : {start, right, up}) held.add(v);
  p.num = 3;
  const Index nr = find_line(s, 0);
  const Index nu = find_line(s, 1);
  const Index nl = find_line(s, 2);
  const Index nd = find_line(s, 3);
  if (status != kStatusGood) return;
  num_left = nl;
  num_down = nd;
  p.xnum = nr + 2 + nl;
  p.ynum = nu + 2 + nd;
  if (p.num > output_frequency) IO_WRITE("INFO: Central cross peaks found", status);
  if (s.overflow || p.xnum > p.xmax || p.ynum > p.ymax) {
    IO_WRITE("ERROR: Peak position arrays are too small", status);
    retstat = 1;
    return;
  }
  if (p.num < p.xnum + p.ynum - 1) {
    IO_WRITE("ERROR: Peaks are missing from central cross", status);
    retstat = 2;
    return;
  }
  retstat = 0;
  find_quadrant(s, 1, 1, nr, nu, nl, nd);
  find_quadrant(s, -1, 1, nr, nu, nl, nd);
  find_quadrant(s, 1, -1, nr, nu, nl, nd);
  find_quadrant(s, -1, -1, nr, nu, nl, nd);
}

void KZT_FINDROTATE(Index xnum_axis, Index ynum_axis, std::span<const float> xaxis,
                    std::span<const float> yaxis, Index nl, Index nd, GridPeaks& p,
                    Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_FINDROTATE V0.2";
  if (st_bad(status, kPosition)) return;
  Status e = 0;
  if (xnum_axis < 1 || p.xmax < 1) e = kBaseMath + 1;
  else if (ynum_axis < 1 || p.ymax < 2) e = kBaseMath + 2;
  else if (p.xnum > p.xmax) e = kBaseMath + 5;
  else if (p.ynum > p.ymax) e = kBaseMath + 6;
  else if (nl >= p.xnum) e = kBaseMath + 13;
  else if (nd >= p.ynum) e = kBaseMath + 14;
  if (e != 0) return st_fail(status, e, kPosition);
  GridPeaks out = p;
  for (Index j = 1; j <= p.ynum; ++j) {
    const Index jn = j - nd < 1 ? j - nd + p.ymax : j - nd;
    for (Index i = 1; i <= p.xnum; ++i) {
      const Index in = i - nl < 1 ? i - nl + p.xmax : i - nl;
      const Index k = out.at(i, j), kin = p.at(in, jn);
      if (!(p.x[kin] > kMissingPeak)) {
        out.x[k] = kMissingPeak;
        out.y[k] = p.y[kin];
        continue;
      }
      MA_PC2DC(xnum_axis, xnum_axis, xaxis, p.x[kin], out.x[k], status);
      MA_PC2DC(ynum_axis, ynum_axis, yaxis, p.y[kin], out.y[k], status);
    }
  }
  // Positions beyond the grid found are not peaks.
  for (Index j = 1; j <= p.ymax; ++j)
    for (Index i = 1; i <= p.xmax; ++i)
      if (i > p.xnum || j > p.ynum) out.x[out.at(i, j)] = kMissingPeak;
  if (status == kStatusGood) p = std::move(out);
}

namespace {

constexpr float kMarkSize = 1.0f;

// The three starting clicks (pixel coordinates); false after an escape.
bool starting_clicks(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, std::span<const float> data,
                     std::span<const float> xaxis, std::span<const float> yaxis,
                     const std::string& title, const std::string& xlabel,
                     const std::string& ylabel, const std::string& zlabel, int num_display,
                     Point& start, Point& right, Point& up, Status& status) {
  if (st_bad(status, "Subroutine KZT_INITGRIDSEARCH V0.11")) return false;
  const Index half = num_display / 2;
  const Index xs = std::max(xstrelm, (xstrelm + xendelm) / 2 - half);
  const Index xe = std::min(xendelm, (xstrelm + xendelm) / 2 + half);
  const Index ys = std::max(ystrelm, (ystrelm + yendelm) / 2 - half);
  const Index ye = std::min(yendelm, (ystrelm + yendelm) / 2 + half);
  if (graphics)
    GS_2DIMAGE(xmaxdat, ymaxdat, data, xaxis, yaxis, xs, ys, xe, ye, title, xlabel, ylabel,
               zlabel, status);
  const GsDisplayedImage image = kzt_displayed_image(xmaxdat, ymaxdat, xs, ys, xe, ye, data, {},
                                                     xaxis, yaxis, title, xlabel, ylabel, zlabel);
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  std::array<Point, 3> points;
  const auto click = [&](int k, std::string_view prompt, TextLines help) {
    float x[1] = {0.0f}, y[1] = {0.0f};
    int num = 1;
    GS_INPS_COORDINATES(false, image, gx1, gy1, gx2, gy2, prompt,
                        static_cast<int>(help.size()), help.view(), false, 1, num, x, y, status);
    if (status != kStatusGood) return false;
    if (num < 1) {
      status = kStatusEscape;
      return false;
    }
    points[k] = {x[0], y[0]};
    return true;
  };
  if (!click(0, "Click on centre of starting peak",
             {"Click on peak to define starting point for the",
              "peak search. It is best to choose a reasonably",
              "central peak, by it must be positioned such",
              "that the row and column do not contain any",
              "missing peaks, and neither does the row above,", "nor the column to the left."}))
    return false;
  if (graphics) GS_MARK(points[0].x, points[0].y, kMarkSize, status);
  const auto arrow = [&](Point head) {
    if (!graphics) return;
    GS_LINESTYLE(1, 1.0f, 2, status);
    GS_ARROW(head.x, head.y, points[0].x, points[0].y, 0, 1.0f, 1.0f, status);
  };
  if (!click(1, "Click on centre of next peak right horizontally",
             {"Click on next peak to the right of the starting",
              "peak. This defines a horizontal search vector."}))
    return false;
  arrow(points[1]);
  if (!click(2, "Click on next peak vertically upwards (left most)",
             {"Click on next peak above the starting peak.",
              "This defines a vertical search vector."}))
    return false;
  arrow(points[2]);
  if (graphics) GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, status);
  for (Point& p : points) {
    MA_DC2PIXC(xmaxdat, xendelm, xaxis, p.x, p.x, status);
    MA_DC2PIXC(ymaxdat, yendelm, yaxis, p.y, p.y, status);
  }
  if (status != kStatusGood) return false;
  start = points[0];
  right = points[1];
  up = points[2];
  return true;
}

// The largest template side built: a template far larger than any grid hole
// cannot locate one, and its memory grows with the square of the side.
constexpr Index kLargestSide = 8192;

// The search settings; WIDTH x HEIGHT is the active data region. A peak
// width of 0.0 gives no template, and a pixel template larger than the
// region correlates with nothing but the region's edges: such a width is
// refused and asked again, as are sub-pixels whose template would be too
// large, with the value held before as the default.
void ask_settings(GridSearchSettings& g, Index width, Index height, Status& status) {
  IO_INPI(true, 1, 100, true, "MAXIMUM PEAK SEARCH DISTANCE (PIXELS)",
          {"Enter the maximum number of pixels a search for a new peak centre may",
           "continue from the original predicted centre (based on previously found",
           "peaks). (This does not affect the searching for the starting three",
           "peaks, but affects all other peaks)."},
          {"Enter integer in given range"}, g.search_limit, status);
  IO_INPR(true, 0.0f, 0.99f, true, "PEAK DETECTION RATIO",
          {"A new peak is accepted when its maximum cross-correlation with the",
           "template, divided by that of the last peak found, exceeds this ratio.",
           "This discriminates against noise: too low a value counts noise as",
           "peaks, too high a value discards true peaks which are weaker than",
           "their neighbours. Values around 0.2 to 0.4 suit most grid images.",
           "Enter the ratio (0.0 to 0.99)."},
          {"Value must be within given range"}, g.detect_ratio, status);
  const float held_sigma = g.sigma;
  const Index widest = std::min({width, height, kLargestSide});
  for (;;) {
    IO_INPR(true, 0.0f, 100000.0f, true, "PEAK STANDARD DEVIATION WIDTH (PIXELS)",
            {"Enter the standard deviation width of the grid peaks in pixels. An",
             "approximate value works: the peak centres are still estimated",
             "correctly, but with a larger variance than with the correct width.",
             "After a first search \"LEARN HOLE PROFILE\" gives the averaged",
             "profile of all the peaks in the memory; this may be fitted with a",
             "2-D Gaussian in the FIT sub-menu to measure the width. (The profile",
             "is over-sampled: divide the fitted width by the number of",
             "over-sampling sub-pixels.) The width defines the template used to",
             "locate every peak."},
            {"Value must be within given range"}, g.sigma, status);
    if (status != kStatusGood) return;
    if (g.sigma > 0.0f && kzt_template_side(g.sigma, 1) <= widest) break;
    IO_WRITE("WARNING: The peak width must be above 0.0, and its template of 6 widths", status);
    IO_WRITE(
        "         no wider than " + std::to_string(widest) + " pixels (the active data region)",
        status);
    g.sigma = held_sigma;
  }
  const int held_sub_pixelling = g.sub_pixelling;
  for (;;) {
    IO_INPI(true, 1, 100, true, "NUMBER OF SUB-PIXELS",
            {"More takes longer, but can give more accurate results"},
            {"Enter integer in given range"}, g.sub_pixelling, status);
    if (status != kStatusGood) return;
    if (kzt_template_side(g.sigma, g.sub_pixelling) <= kLargestSide) break;
    IO_WRITE("WARNING: The peak width is too large for the peak templates: fewer sub-pixels",
             status);
    g.sub_pixelling = held_sub_pixelling;
  }
}

// The templates of a search; false (STATUS set) when they cannot be had.
bool make_templates(const GridSearchSettings& g, std::vector<float>& templ,
                    std::vector<float>& sub_templ, Index& side, Index& sub_side,
                    Status& status) {
  side = kzt_template_side(g.sigma, 1);
  sub_side = kzt_template_side(g.sigma, g.sub_pixelling);
  try {
    templ.assign(static_cast<std::size_t>(side * side), 0.0f);
    sub_templ.assign(static_cast<std::size_t>(sub_side * sub_side), 0.0f);
  } catch (const std::bad_alloc&) {
    st_fail(status, kBaseCore + 1002, "Subroutine KZT_CALIBRATE2DGRID V0.15");
    return false;
  }
  KZT_CALTEMPLATE(side, side, side, side, g.sigma, 1, templ, status);
  KZT_CALTEMPLATE(sub_side, sub_side, sub_side, sub_side, g.sigma, g.sub_pixelling, sub_templ,
                  status);
  return status == kStatusGood;
}

std::string pair(float a, float b) { return format_f(a, 12, 5) + format_f(b, 12, 5); }

// The spacing the starting peaks give is measured over the central row and
// column within this many holes of the start: the three starting peaks
// alone are located to a sub-pixel step, a few per cent of a fine grid's
// spacing.
constexpr Index kNearStart = 5;

// How far the found grid's spacing may lie from the spacing round the
// starting peaks before the result is said to be doubtful: holes taken twice
// or skipped along the lines move the grid's spacing by per cents, while the
// two differ by at most 0.6 % on flat grids of 3.5 to 15 pixels, turned,
// with pixels up to 1.5 times as tall and in counting noise (the spacing
// round the start is measured to sub-pixel steps), and a detector's own
// distortion changes its scale between the start and the whole grid.
constexpr double kSpacingTolerance = 0.02;

// How far a size may lie from the typical step between neighbouring holes
// over the whole grid: that step is measured to a few hundredths of a per
// cent, and holes taken twice, skipped or shifted leave it as it is, while
// they move the averages from the lines' ends and the RMS sizes; the noise
// of the peak positions makes the RMS sizes too small by the square of the
// positions' scatter over the spacing, which beyond this bound is said.
constexpr double kTypicalTolerance = 0.005;

// How far a size may lie from the spacing of the three clicks: on holes so
// wide that they merge, the starting peaks themselves can settle a quarter
// of the spacing from the clicks, and the whole grid is then found
// consistently at the wrong spacing. Clicks a few tenths of a pixel off on
// the finest grids stay within this bound.
constexpr double kClickedTolerance = 0.10;

// The fewest lines each way over which the typical step checks the sizes.
constexpr Index kFewestLines = 5;

// After the search (unwrapped, data coordinates, the start at column
// START_COLUMN and row START_ROW): where the grid's spacing, as the pixel
// sizes are measured from it, disagrees with the spacing at the starting
// peaks or with the typical step between neighbouring holes, a warning
// names it.
void check_spacing(const GridPeaks& peaks, Index start_column, Index start_row,
                   double x_clicked, double y_clicked, Status& status) {
  const GridSpacings found = kzt_grid_spacings(peaks);
  // The mean steps between adjacent peaks of the central row and column.
  double rx = 0.0, ry = 0.0, cx = 0.0, cy = 0.0;
  Index rows = 0, columns = 0;
  const auto step = [&](Index i, Index j, Index ni, Index nj, double& sx, double& sy, Index& n) {
    if (i < 1 || j < 1 || ni > peaks.xnum || nj > peaks.ynum) return;
    if (!peaks.present(i, j) || !peaks.present(ni, nj)) return;
    sx += peaks.x[peaks.at(ni, nj)] - peaks.x[peaks.at(i, j)];
    sy += peaks.y[peaks.at(ni, nj)] - peaks.y[peaks.at(i, j)];
    ++n;
  };
  for (Index k = -kNearStart; k < kNearStart; ++k) {
    step(start_column + k, start_row, start_column + k + 1, start_row, rx, ry, rows);
    step(start_column, start_row + k, start_column, start_row + k + 1, cx, cy, columns);
  }
  if (rows > 0 && columns > 0) {
    rx /= static_cast<double>(rows);
    ry /= static_cast<double>(rows);
    cx /= static_cast<double>(columns);
    cy /= static_cast<double>(columns);
  }
  const auto number = [](double v, int decimals) {
    return std::string(trimmed_text(format_f(v, 12, decimals)));
  };
  // Where a size lies further than TOLERANCE from REFERENCE (X, Y), a line
  // for each size off by more than the typical step's bound, naming both: a
  // size within the wider bound is doubtful as well when another is beyond
  // it (a grid followed at a wrong rotation moves X and Y apart, the one by
  // less than the other).
  const auto compare = [&](double x_reference, double y_reference, double tolerance,
                           std::string_view where) {
    std::vector<std::string> lines;
    bool beyond = false;
    const auto one = [&](double value, double reference, std::string_view what) {
      if (!(value > 0.0) || !(reference > 0.0)) return;
      const double off = value / reference - 1.0;
      beyond = beyond || std::abs(off) > tolerance;
      if (!(std::abs(off) > std::min(tolerance, kTypicalTolerance))) return;
      lines.push_back("         " + std::string(what) + " " + number(value, 4) + " a hole, " +
                      number(reference, 4) + " " + std::string(where) + " (" +
                      number(100.0 * off, 2) + " %)");
    };
    one(found.x_average, x_reference, "X (average):");
    one(found.y_average, y_reference, "Y (average):");
    one(found.x_rms, x_reference, "X (RMS):");
    one(found.y_rms, y_reference, "Y (RMS):");
    if (!beyond) lines.clear();
    return lines;
  };
  // On a grid of few lines either way the typical step is the step of those
  // lines alone, and the rotation and sizes found from them can be off by
  // per cents in agreement with it: the sizes cannot be checked.
  const bool too_small = peaks.xnum < kFewestLines || peaks.ynum < kFewestLines;
  const std::vector<std::string> start =
      rows > 0 && columns > 0 ? compare(std::hypot(rx, cx), std::hypot(ry, cy),
                                        kSpacingTolerance, "round the starting peaks")
                              : std::vector<std::string>{};
  const std::vector<std::string> typical =
      too_small ? std::vector<std::string>{}
                : compare(found.x_typical, found.y_typical, kTypicalTolerance,
                          "between neighbouring holes");
  const std::vector<std::string> clicked =
      compare(x_clicked, y_clicked, kClickedTolerance, "between the clicks");
  if (!clicked.empty()) {
    IO_WRITE("WARNING: The grid's pixel sizes disagree with the spacing of the clicks:", status);
    for (const std::string& line : clicked) IO_WRITE(line, status);
  }
  if (!start.empty()) {
    IO_WRITE("WARNING: The grid's pixel sizes disagree with its spacing round the starting peaks:",
             status);
    for (const std::string& line : start) IO_WRITE(line, status);
  }
  if (!typical.empty()) {
    IO_WRITE("WARNING: The grid's pixel sizes disagree with the typical step between its "
             "neighbouring holes:",
             status);
    for (const std::string& line : typical) IO_WRITE(line, status);
  }
  if (!start.empty() || !typical.empty() || !clicked.empty()) {
    IO_WRITE("         holes taken twice or missed, uncertain peak positions (the RMS sizes),",
             status);
    IO_WRITE("         or a strong distortion: see the peaks", status);
  }
  if (too_small)
    IO_WRITE("WARNING: The grid has fewer than " + IO_ITOC(kFewestLines) +
                 " lines in X or in Y: its pixel sizes could not be checked",
             status);
}

}  // namespace

void KZT_CALIBRATE2DGRID(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                         std::span<const float> xaxis, std::span<const float> yaxis,
                         const std::string& title, const std::string& xlabel,
                         const std::string& ylabel, const std::string& zlabel, int num_display,
                         float& grid_spacing, float& x_pixel_size, float& y_pixel_size,
                         int& retstat, GridPeaks& peaks, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CALIBRATE2DGRID V0.15";
  retstat = 3;
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm || std::ssize(yaxis) < yendelm)
    return st_fail(status, kBaseApp + 1, kPosition);
  GridSearchSettings g = kzt_grid_search_settings();
  if (g.first) {
    std::string format = "None";
    int length = 0, found = 0;
    IO_INQ_KEYVALUE("#INPUT_FORMAT", length, format, found, status);
    if (found != 0) format = "None";
    if (format == "IMAGEQUANT") {
      g.search_limit = 3;
      g.detect_ratio = 0.2f;
      g.sigma = 1.3f;
      g.vignetting = false;
    }
    g.first = false;
  }
  GridPeaks fresh;
  if (!fresh.allocate(kGridPeaksMax, kGridPeaksMax))
    return st_fail(status, kBaseCore + 1002, kPosition);

  std::vector<float> templ, sub_templ;
  Index side = 0, sub_side = 0;
  Point start, right, up;
  std::array<Point, 3> clicked;
  float correlation = 0.0f;
  for (;;) {
    if (!starting_clicks(graphics, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                         xaxis, yaxis, title, xlabel, ylabel, zlabel, num_display, start, right,
                         up, status)) {
      if (status == kStatusEscape) st_reset(status);
      return;
    }
    if (right.x < start.x || up.y < start.y) {
      IO_WRITE("WARNING: The horizontal peak search vector must point to the right and", status);
      IO_WRITE("         the vertical peak search vector must point upwards", status);
      continue;
    }
    ask_settings(g, xendelm - xstrelm + 1, yendelm - ystrelm + 1, status);
    if (status != kStatusGood) return;
    kzt_grid_search_settings() = g;
    if (!make_templates(g, templ, sub_templ, side, sub_side, status)) return;
    const GridImage im{xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                       side, templ, sub_side, sub_templ, g.sub_pixelling};
    // A click off the active region is clamped onto its edge, where the
    // climb finds the edge itself; a start refined onto the region's border
    // pixel is such an edge too. Neither is a starting peak.
    const auto clicked_inside = [&](Point p) {
      return p.x > static_cast<float>(xstrelm - 1) && p.x < static_cast<float>(xendelm) &&
             p.y > static_cast<float>(ystrelm - 1) && p.y < static_cast<float>(yendelm);
    };
    const auto clear_of_border = [&](Point p) {
      return p.x >= static_cast<float>(xstrelm) && p.x < static_cast<float>(xendelm - 1) &&
             p.y >= static_cast<float>(ystrelm) && p.y < static_cast<float>(yendelm - 1);
    };
    // The clicks give the grid's spacing. On a grid finer than the start
    // search box the box reaches the neighbouring holes, and the climb may
    // settle on one of them, or all three clicks on one hole: a start peak
    // must stay nearer its own click than to the next hole, and the three
    // must be three holes.
    const std::array<Point, 3> clicks{start, right, up};
    clicked = clicks;
    const float spacing_clicked = std::min(distance(start, right), distance(start, up));
    const float half_spacing = 0.5f * spacing_clicked;
    const float quarter_spacing = 0.25f * spacing_clicked;
    const float reach = start_search_reach(spacing_clicked);
    bool f1 = false, f2 = false, f3 = false;
    float c1 = 0.0f;
    if (clicked_inside(start) && clicked_inside(right) && clicked_inside(up)) {
      float c2 = 0.0f;
      find_near(im, clicks[0], reach, start.x, start.y, f1, c1, status);
      find_near(im, clicks[1], reach, right.x, right.y, f2, c2, status);
      find_near(im, clicks[2], reach, up.x, up.y, f3, correlation, status);
      if (status != kStatusGood) return;
    }
    const std::array<Point, 3> refined{start, right, up};
    // Why the starting peaks are refused, said after the request to click
    // them again (empty where a check below says it itself).
    std::string reason;
    static constexpr std::array<const char*, 3> kClick{"starting", "right", "up"};
    if (!(half_spacing > 0.0f))
      reason = "two clicks lie on one place";
    else if (!clicked_inside(clicks[0]) || !clicked_inside(clicks[1]) ||
             !clicked_inside(clicks[2]))
      reason = "a click lies outside the active region";
    for (std::size_t k = 0; k < 3 && reason.empty(); ++k)
      if (!(k == 0 ? f1 : k == 1 ? f2 : f3))
        reason = std::string("the correlation near the ") + kClick[k] +
                 " click has no top within a pixel of its best point";
    // A start peak is the hole clicked: one that settles a quarter of the
    // spacing from its click lies between that hole and a spot beside it (a
    // spot off the grid merged with it in the correlation), and a grid
    // followed from it takes part of its holes at the wrong places. On holes
    // so wide that they merge with each other the correlation is flat over
    // a hole, and in counting noise its top lies up to a width and a quarter
    // from the hole's centre: there the bound is that, within half the
    // spacing.
    const float settle_bound =
        std::max(quarter_spacing, std::min(half_spacing, 1.25f * g.sigma));
    for (std::size_t k = 0; k < 3 && reason.empty(); ++k)
      if (distance(refined[k], clicks[k]) > settle_bound)
        reason = std::string("the peak near the ") + kClick[k] + " click lies " +
                 std::string(trimmed_text(format_f(distance(refined[k], clicks[k]), 12, 2))) +
                 " pixels from it, where a starting peak must lie within " +
                 std::string(trimmed_text(format_f(settle_bound, 12, 2))) + " of its click";
    for (std::size_t k = 0; k < 3 && reason.empty(); ++k)
      for (std::size_t l = k + 1; l < 3 && reason.empty(); ++l)
        if (distance(refined[k], refined[l]) < half_spacing)
          reason = std::string("the ") + kClick[k] + " and " + kClick[l] +
                   " clicks found one peak";
    const bool apart = reason.empty();
    // The grid is square: its two axes are near right angles on the detector
    // (rotation and unequal pixel sizes move them by far less than the 45
    // degrees of a diagonal neighbour taken as the second axis, which would
    // index every hole on a sheared grid and be reported as found).
    bool square = true;
    if (f1 && f2 && f3 && apart) {
      const double ax = right.x - start.x, ay = right.y - start.y;
      const double bx = up.x - start.x, by = up.y - start.y;
      const double lengths = std::hypot(ax, ay) * std::hypot(bx, by);
      const double degrees =
          lengths > 0.0 ? std::acos(std::clamp((ax * bx + ay * by) / lengths, -1.0, 1.0)) *
                              180.0 / std::numbers::pi
                        : 0.0;
      square = std::abs(degrees - 90.0) <= 30.0;
      if (!square)
        IO_WRITE("WARNING: The two grid axes lie " + IO_ITOC(std::lround(degrees)) +
                     " degrees apart: click the next peak to the right and the next one up, "
                     "not a diagonal one",
                 status);
    }
    // An axis to a peak two (or more) holes on has a grid peak near its
    // middle: its spacing would be a multiple of the grid's, whatever the
    // pixels' aspect (which lengths alone cannot tell from a skipped hole).
    bool adjacent = square;
    for (int axis = 0; axis < 2 && f1 && f2 && f3 && apart && adjacent; ++axis) {
      const Point end = axis == 0 ? right : up;
      const Point middle = 0.5f * (start + end);
      const float quarter = 0.25f * distance(start, end);
      float x = 0.0f, y = 0.0f, c = 0.0f;
      bool f = false;
      find_near(im, middle, quarter / std::numbers::sqrt2_v<float>, x, y, f, c, status);
      if (status != kStatusGood) return;
      // On holes wider than about a fifth of the spacing the correlation
      // has a ridge between two holes, and its top half way along an axis
      // is no hole: a hole there stands above the image between it and
      // the axis' ends, where two holes' flanks meet it dips.
      const Point along = 0.25f * (end - start);
      const float here = local_mean(im, {x, y});
      const bool stands_out = !(here <= local_mean(im, Point{x, y} - along)) &&
                              !(here <= local_mean(im, Point{x, y} + along));
      adjacent = !(f && std::isfinite(c) && c1 > 0.0f && c / c1 > g.detect_ratio &&
                   !(distance({x, y}, middle) > quarter) && stands_out);
      if (!adjacent)
        IO_WRITE(std::string("WARNING: A grid peak lies half way to the peak clicked ") +
                     (axis == 0 ? "right" : "up") + ": click the next peak, not one beyond it",
                 status);
    }
    if (apart && adjacent) {
      if (!(std::isfinite(correlation) && correlation > 0.0f))
        reason = "the peak near the up click does not stand above the image round it";
      else if (!clear_of_border(start) || !clear_of_border(right) || !clear_of_border(up))
        reason = "a starting peak lies on the edge of the active region";
    }
    if (f1 && f2 && f3 && apart && adjacent && reason.empty()) {
      IO_WRITE("INFO: Starting peaks found O.K.", status);
      IO_WRITE("INFO: Starting peak is at position " + pair(start.x, start.y), status);
      IO_WRITE("INFO: Next first grid axis peak is at position " + pair(right.x, right.y),
               status);
      IO_WRITE("INFO: Next second grid axis peak is at position " + pair(up.x, up.y), status);
      break;
    }
    IO_WRITE("WARNING: Problem finding the starting peaks, please re-enter", status);
    if (!reason.empty()) IO_WRITE("         (" + reason + ")", status);
  }

  IO_INPI(true, 1, 100000, true, "PROGRESS REPORT FREQUENCY (PEAKS)",
          {"Number of peaks between progress report messages"}, {"Enter integer in given range"},
          g.output_frequency, status);
  if (status != kStatusGood) return;
  kzt_grid_search_settings() = g;
  IO_WRITE(" ", status);
  IO_WRITE("INFO: Starting peak search, this takes some time for big grids", status);
  double elapsed0 = 0.0, cpu0 = 0.0, elapsed1 = 0.0, cpu1 = 0.0;
  IO_TIMES(elapsed0, cpu0, status);
  const GridImage im{xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                     side, templ, sub_side, sub_templ, g.sub_pixelling};
  Index nl = 0, nd = 0;
  int found = 0;
  KZT_FIND2DGRID(im, g.search_limit, g.detect_ratio, start.x, start.y, right.x, right.y, up.x,
                 up.y, g.output_frequency, correlation, found, nl, nd, fresh, status);
  IO_TIMES(elapsed1, cpu1, status);
  if (status != kStatusGood) return;
  IO_WRITE("INFO: Number of peaks found = " + format_i(fresh.num, 6), status);
  IO_WRITE("INFO: Number of grid peaks (X/Y) = " + format_i(fresh.xnum, 6) +
               format_i(fresh.ynum, 6) + " (" + format_i(fresh.xnum * fresh.ynum, 8) + ")",
           status);
  IO_WRITE("INFO: Time taken = " + format_g(elapsed1 - elapsed0, 10, 2) + " seconds", status);
  if (found == 0) {
    KZT_FINDROTATE(xendelm, yendelm, xaxis, yaxis, nl, nd, fresh, status);
    // The clicks' spacing in data units, as the peaks now are.
    for (Point& c : clicked) {
      MA_PC2DC(xendelm, xendelm, xaxis, c.x, c.x, status);
      MA_PC2DC(yendelm, yendelm, yaxis, c.y, c.y, status);
    }
    const Point r = clicked[1] - clicked[0], u = clicked[2] - clicked[0];
    if (status == kStatusGood)
      check_spacing(fresh, nl + 1, nd + 1, std::hypot(r.x, u.x), std::hypot(r.y, u.y), status);
  }
  if (status != kStatusGood) return;
  std::vector<float>().swap(templ);
  std::vector<float>().swap(sub_templ);

  float spacing = grid_spacing;
  IO_INPR(true, 1.0f, 1000000.0f, true, "GRID SPACING (CENTRE TO CENTRE IN microns)",
          {"Enter the distance between the centres of adjacent grid holes in",
           "microns. The spacing of the grid holes calibrates the absolute pixel",
           "sizes and the distortion: the ideal grid is defined by it. Common",
           "grids have spacings of:", "  5000 microns (5 mm)", "  4000 microns (4 mm)",
           "  2000 microns (2 mm)", "(Enter the value for the grid in use.)"},
          {"Value must be within given range"}, spacing, status);
  IO_INPL(true, false, true, true, "CORRECT OFF-AXIS MASK VIGNETTING",
          {"An off-axis grid hole casts a shadow through the thickness of the",
           "mask, which shifts the apparent centre of the hole away from the",
           "beam. \"YES\" corrects the peak positions for it. The correction",
           "assumes a mask orthogonal to the beam, with hole walls perpendicular",
           "to its surface."},
          {"Enter YES or NO"}, g.vignetting, status);
  if (status != kStatusGood) return;
  kzt_grid_search_settings() = g;
  // A failed search drops its arrays: the held peaks stay as they were.
  retstat = found;
  if (found != 0) return;
  if (g.vignetting) KZT_VIGNETTING(xstrelm, ystrelm, xendelm, yendelm, fresh, status);
  float xps = x_pixel_size, yps = y_pixel_size;
  KZT_2DDISTORTION(fresh, spacing, xps, yps, status);
  if (status != kStatusGood) {
    retstat = 3;
    return;
  }
  grid_spacing = spacing;
  x_pixel_size = xps;
  y_pixel_size = yps;
  peaks = std::move(fresh);
}

}  // namespace kesta
