// Drawing into the X11 window: attributes, lines, markers, fill areas, text
// (also rotated) and cell arrays turned into X images.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "graphics/device/x11_internal.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using qg_detail::message;

// ---- Image scaling rule ----

bool X11ImageScale::set(int first, int last, float minimum, float maximum, bool log_scale,
                        int not_a_number) {
  first_ = first;
  not_a_number_ = not_a_number;
  last_ = std::max(first, last);
  const int n = last_ - first_ + 1;
  levels_ = n;
  minimum_ = minimum;
  maximum_ = maximum;
  log_ = log_scale;
  if (!log_scale) {
    double range = static_cast<double>(maximum) - minimum;
    if (range < 1e-36) range = 1.0;
    factor_ = n / range;
    return true;
  }
  if (!(minimum >= 1e-11f) || !(maximum > minimum)) return false;
  count_ = std::min(n, 256);
  const double low = std::log10(static_cast<double>(minimum));
  const double high = std::log10(static_cast<double>(maximum));
  const double step = count_ > 1 ? (high - low) / (count_ - 1) : 0.0;
  for (int i = 0; i < count_; ++i)
    thresholds_[static_cast<std::size_t>(i)] = std::pow(10.0, low + step * i);
  log_minimum_ = std::log(static_cast<double>(minimum));
  inverse_step_ = step > 0.0 ? 1.0 / (step * std::log(10.0)) : 0.0;
  return true;
}

int X11ImageScale::log_index(float value) const {
  const double v = value;
  if (v >= maximum_) return last_;
  if (!(v >= minimum_)) return v == v ? first_ : not_a_number_;
  // The largest step 0..count-2 whose threshold is at most the value: a
  // guess from the logarithm, then corrected against the thresholds, so the
  // result is what a binary search over them gives.
  const int top = std::max(count_ - 2, 0);
  int k = static_cast<int>(std::clamp((std::log(v) - log_minimum_) * inverse_step_, 0.0,
                                      static_cast<double>(top)));
  while (k < top && thresholds_[static_cast<std::size_t>(k + 1)] <= v) ++k;
  while (k > 0 && thresholds_[static_cast<std::size_t>(k)] > v) --k;
  return first_ + k;
}

namespace x11_detail {

// ---- Device coordinates ----

namespace {

// A pixel coordinate cut to what the server takes.
int limit(int v) {
  const auto l = static_cast<int>(kPointLimit);
  return std::clamp(v, -l, l);
}

}  // namespace

int X11Driver::column(double x) const {
  return static_cast<int>(device_integer(x * x_scale_ + x_offset_, kPointLimit));
}

int X11Driver::row(double y) const {
  const double up = static_cast<double>(device_integer(y * y_scale_ + y_offset_, 1e9));
  return static_cast<int>(device_integer(y_pixels_ - up, kPointLimit));
}

XPoint X11Driver::point(float x, float y) const {
  return XPoint{static_cast<short>(column(x)), static_cast<short>(row(y))};
}

// ---- Transform-independent settings ----

int X11Driver::clip(bool on, float x1, float y1, float x2, float y2, Status& /*status*/) {
  if (!live()) return closed_code();
  GC gcs[] = {gc_line_, gc_fill_, gc_marker_, gc_text_};
  if (!on) {
    for (GC gc : gcs)
      if (!cut()) XSetClipMask(display_, gc, None);
    return finished();
  }
  const int left = column(x1), right = column(x2);
  const int top = row(y2), bottom = row(y1);
  XRectangle r;
  r.x = static_cast<short>(std::min(left, right));
  r.y = static_cast<short>(std::min(top, bottom));
  r.width = static_cast<unsigned short>(std::min(std::abs(right - left), 65535));
  r.height = static_cast<unsigned short>(std::min(std::abs(bottom - top), 65535));
  for (GC gc : gcs)
    if (!cut()) XSetClipRectangles(display_, gc, 0, 0, &r, 1, Unsorted);
  return finished();
}

int X11Driver::clear(Status& /*status*/) {
  if (!live()) return closed_code();
  XClearWindow(display_, window_);
  band_drawn_ = false;
  cross_drawn_ = false;
  return finished();
}

int X11Driver::update(Status& /*status*/) {
  if (!live()) return closed_code();
  XSync(display_, False);
  return finished();
}

// ---- Attributes ----

int X11Driver::line_colour(int index, const Rgb& /*colour*/, Status& /*status*/) {
  if (!live()) return closed_code();
  if (index == line_index_) return 0;
  line_index_ = index;
  if (index == -1) {
    XSetFunction(display_, gc_line_, GXinvert);
  } else {
    XSetFunction(display_, gc_line_, GXcopy);
    if (!cut()) XSetForeground(display_, gc_line_, index_pixel(index));
  }
  return finished();
}

int X11Driver::line_style(int style, Status& /*status*/) {
  if (!live()) return closed_code();
  if (style == line_style_) return 0;
  line_style_ = style;
  static const char dashed[] = {6, 6};
  static const char dotted[] = {1, 2};
  static const char dash_dot[] = {6, 2, 1, 2};
  if (style <= 1) {
    XSetLineAttributes(display_, gc_line_, static_cast<unsigned>(line_pixels_), LineSolid,
                       CapRound, JoinRound);
    return finished();
  }
  XSetLineAttributes(display_, gc_line_, static_cast<unsigned>(line_pixels_), LineOnOffDash,
                     CapRound, JoinRound);
  if (cut()) return finished();
  if (style == 2)
    XSetDashes(display_, gc_line_, 3, dashed, 2);
  else if (style == 3)
    XSetDashes(display_, gc_line_, 0, dotted, 2);
  else
    XSetDashes(display_, gc_line_, 3, dash_dot, 4);
  return finished();
}

void X11Driver::apply_line_width() {
  line_pixels_ = x11_pixel_width(line_width_, max_pixels_);
  if (cut()) return;
  XSetLineAttributes(display_, gc_line_, static_cast<unsigned>(line_pixels_),
                     line_style_ <= 1 ? LineSolid : LineOnOffDash, CapRound, JoinRound);
}

void X11Driver::apply_marker_width() {
  marker_pixels_ = x11_pixel_width(marker_width_, max_pixels_);
  if (cut()) return;
  XSetLineAttributes(display_, gc_marker_, static_cast<unsigned>(marker_pixels_), LineSolid,
                     CapRound, JoinRound);
}

int X11Driver::line_width(float width, Status& /*status*/) {
  if (!live()) return closed_code();
  if (!(std::fabs(width - line_width_) >= 0.1f)) return 0;
  line_width_ = width;
  apply_line_width();
  return finished();
}

int X11Driver::fill_colour(int index, const Rgb& /*colour*/, Status& /*status*/) {
  if (!live()) return closed_code();
  if (index == fill_index_) return 0;
  fill_index_ = index;
  XSetForeground(display_, gc_fill_, index_pixel(index));
  return finished();
}

int X11Driver::marker_type(int type, Status& /*status*/) {
  marker_type_ = type;
  return 0;
}

int X11Driver::marker_colour(int index, const Rgb& /*colour*/, Status& /*status*/) {
  if (!live()) return closed_code();
  if (index == marker_index_) return 0;
  marker_index_ = index;
  XSetForeground(display_, gc_marker_, index_pixel(index));
  return finished();
}

int X11Driver::marker_scale(float scale, Status& /*status*/) {
  marker_scale_ = scale;
  return 0;
}

int X11Driver::marker_width(float width, Status& /*status*/) {
  if (!live()) return closed_code();
  if (!(std::fabs(width - marker_width_) >= 0.1f)) return 0;
  marker_width_ = width;
  apply_marker_width();
  return finished();
}

int X11Driver::text_colour(int index, const Rgb& /*colour*/, Status& /*status*/) {
  if (!live()) return closed_code();
  if (index == text_index_) return 0;
  text_index_ = index;
  text_pixel_ = index_pixel(index);
  if (font_usable_) XSetForeground(display_, gc_text_, text_pixel_);
  return finished();
}

int X11Driver::text_alignment(int horizontal, int vertical, Status& /*status*/) {
  horizontal_ = horizontal;
  vertical_ = vertical;
  return 0;
}

int X11Driver::text_angle(float degrees, Status& /*status*/) {
  angle_ = static_cast<double>(degrees) * (3.1415925 / 180.0);
  return 0;
}

// ---- Lines, markers, polygons ----

int X11Driver::polyline(std::span<const float> x, std::span<const float> y, Status& /*status*/) {
  if (!live()) return closed_code();
  const std::size_t n = std::min(x.size(), y.size());
  if (n < 2) return 2;
  XPoint points[kPointRun];
  // Each run starts at the last point of the one before, so the line is continuous.
  for (std::size_t start = 0; start + 1 < n && !cut(); start += kPointRun - 1) {
    const std::size_t count = std::min<std::size_t>(kPointRun, n - start);
    for (std::size_t k = 0; k < count; ++k) points[k] = point(x[start + k], y[start + k]);
    XDrawLines(display_, window_, gc_line_, points, static_cast<int>(count), CoordModeOrigin);
  }
  return finished();
}

int X11Driver::polymarker(std::span<const float> x, std::span<const float> y,
                          Status& /*status*/) {
  if (!live()) return closed_code();
  const std::size_t n = std::min(x.size(), y.size());
  if (n < 1) return 2;
  const int s = static_cast<int>(
      device_integer(std::fabs(static_cast<double>(marker_scale_)) * max_pixels_ / 150.0, 10000.0));
  const int d = static_cast<int>(s * 0.707);
  if (marker_type_ == 1) {
    XPoint points[kPointRun];
    for (std::size_t start = 0; start < n && !cut(); start += kPointRun) {
      const std::size_t count = std::min<std::size_t>(kPointRun, n - start);
      for (std::size_t k = 0; k < count; ++k) points[k] = point(x[start + k], y[start + k]);
      XDrawPoints(display_, window_, gc_marker_, points, static_cast<int>(count),
                  CoordModeOrigin);
    }
    return finished();
  }
  if (marker_type_ < 2 || marker_type_ > 5) return 0;
  XSegment segments[kPointRun];
  int used = 0;
  auto flush = [&] {
    if (used > 0 && !cut()) XDrawSegments(display_, window_, gc_marker_, segments, used);
    used = 0;
  };
  auto segment = [&](int x1, int y1, int x2, int y2) {
    if (used == kPointRun) flush();
    segments[used++] = XSegment{static_cast<short>(limit(x1)),
                                static_cast<short>(limit(y1)),
                                static_cast<short>(limit(x2)),
                                static_cast<short>(limit(y2))};
  };
  for (std::size_t k = 0; k < n && !cut(); ++k) {
    const int px = column(x[k]);
    const int py = row(y[k]);
    switch (marker_type_) {
      case 2:
        segment(px - s, py, px + s, py);
        segment(px, py - s, px, py + s);
        break;
      case 3:
        segment(px - d, py - d, px + d, py + d);
        segment(px - d, py + d, px + d, py - d);
        segment(px - s, py, px + s, py);
        segment(px, py - s, px, py + s);
        break;
      case 4:
        XDrawArc(display_, window_, gc_marker_, limit(px - s),
                 limit(py - s), static_cast<unsigned>(2 * s),
                 static_cast<unsigned>(2 * s), 0, 360 * 64);
        break;
      case 5:
        segment(px - d, py - d, px + d, py + d);
        segment(px - d, py + d, px + d, py - d);
        break;
      default:
        break;
    }
  }
  flush();
  return finished();
}

int X11Driver::fill_area(std::span<const float> x, std::span<const float> y, Status& /*status*/) {
  if (!live()) return closed_code();
  const std::size_t n = std::min(x.size(), y.size());
  if (n > static_cast<std::size_t>(kPointRun)) return 1;
  if (n < 2) return 2;
  XPoint points[kPointRun];
  for (std::size_t k = 0; k < n; ++k) points[k] = point(x[k], y[k]);
  XFillPolygon(display_, window_, gc_fill_, points, static_cast<int>(n), Complex,
               CoordModeOrigin);
  return finished();
}

// ---- Text ----

int X11Driver::text(float x, float y, std::string_view text, Status& /*status*/) {
  if (!live()) return closed_code();
  const bool font = ensure_font();
  if (cut()) return finished();
  if (!font) {
    message("Font not available");
    return 0;
  }
  const std::string_view used = text.substr(0, std::min<std::size_t>(text.size(), 260));
  const int n = static_cast<int>(used.size());
  const int w = XTextWidth(font_, used.data(), n);
  const int a = font_->ascent, d = font_->descent;
  const int px = column(x), py = row(y);
  int h = 0;
  if (horizontal_ == 2)
    h = -w / 2;
  else if (horizontal_ == 3)
    h = -w;
  int v = 0;  // baseline below the point
  switch (vertical_) {
    case 1:
    case 2:
      v = a;
      break;
    case 3:
      v = a - (a + d) / 2;
      break;
    case 5:
      v = -d;
      break;
    case 6:
      v = a / 2;
      break;
    default:
      break;
  }
  if (std::fabs(angle_) < 0.001) {
    XDrawString(display_, window_, gc_text_, limit(px + h),
                limit(py + v), used.data(), n);
    return finished();
  }
  const int code = draw_rotated_text(px, py, used, w, h, v);
  finished();
  return code;
}

int X11Driver::draw_rotated_text(int px, int py, std::string_view text, int w, int h, int v) {
  const int a = font_->ascent, d = font_->descent;
  const int th = a + d;
  if (w < 1 || th < 1 || destroyed_) return 0;
  Pixmap pixmap = XCreatePixmap(display_, window_, static_cast<unsigned>(w),
                                static_cast<unsigned>(th), static_cast<unsigned>(depth_));
  if (cut()) return 0;
  if (pixmap == 0) {
    message("WARNING: Problem creating pixmap for text output");
    return -1;
  }
  // The background differs from the text pixel, so the text is found again.
  // Each request is made only while the connection holds; the pixmap lives
  // on the server alone and goes with a broken connection.
  const unsigned long background = text_pixel_ == 0 ? 1 : 0;
  XSetFont(display_, gc_pixmap_, font_->fid);
  if (!cut()) XSetForeground(display_, gc_pixmap_, background);
  if (!cut())
    XFillRectangle(display_, pixmap, gc_pixmap_, 0, 0, static_cast<unsigned>(w),
                   static_cast<unsigned>(th));
  if (!cut()) XSetForeground(display_, gc_pixmap_, text_pixel_);
  if (!cut())
    XDrawString(display_, pixmap, gc_pixmap_, 0, a, text.data(), static_cast<int>(text.size()));
  XImage* source = cut() ? nullptr
                         : XGetImage(display_, pixmap, 0, 0, static_cast<unsigned>(w),
                                     static_cast<unsigned>(th), AllPlanes, ZPixmap);
  if (!cut()) XFreePixmap(display_, pixmap);
  if (source == nullptr) {
    // (The window closed meanwhile: nothing to draw into, and said once
    // when the program next waits on it.)
    if (destroyed_ || cut()) return 0;
    message("Problem obtaining copy of basic text");
    return -2;
  }
  if (cut()) {
    XDestroyImage(source);
    return 0;
  }
  const double c = std::cos(angle_), s = std::sin(angle_);
  const int ox = static_cast<int>(px + s * v + c * h);
  const int oy = static_cast<int>(py - (s * h - c * v));
  // Corners of the text box about the origin (x along the baseline, y up).
  const double cx[4] = {0, static_cast<double>(w), static_cast<double>(w), 0};
  const double cy[4] = {static_cast<double>(-d), static_cast<double>(-d), static_cast<double>(a),
                        static_cast<double>(a)};
  double xmin = 1e30, xmax = -1e30, ymin = 1e30, ymax = -1e30;
  for (int k = 0; k < 4; ++k) {
    const double rx = ox + c * cx[k] - s * cy[k];
    const double ry = oy - (s * cx[k] + c * cy[k]);
    xmin = std::min(xmin, rx);
    xmax = std::max(xmax, rx);
    ymin = std::min(ymin, ry);
    ymax = std::max(ymax, ry);
  }
  const int bx1 = std::max(0, static_cast<int>(std::floor(xmin)));
  const int by1 = std::max(0, static_cast<int>(std::floor(ymin)));
  const int bx2 = std::min(x_pixels_ - 1, static_cast<int>(std::ceil(xmax)));
  const int by2 = std::min(y_pixels_ - 1, static_cast<int>(std::ceil(ymax)));
  if (bx1 > bx2 || by1 > by2) {
    XDestroyImage(source);
    return 0;
  }
  const auto bw = static_cast<unsigned>(bx2 - bx1 + 1), bh = static_cast<unsigned>(by2 - by1 + 1);
  XImage* box = XGetImage(display_, window_, bx1, by1, bw, bh, AllPlanes, ZPixmap);
  if (box == nullptr || cut()) {
    if (!cut()) message("       (probably the window is not visible)");
    if (box != nullptr) XDestroyImage(box);
    XDestroyImage(source);
    return 0;
  }
  for (int yy = by1; yy <= by2; ++yy) {
    for (int xx = bx1; xx <= bx2; ++xx) {
      const int dx = xx - ox, dy = oy - yy;
      const int sx = static_cast<int>(s * dy + c * dx);
      const int sy = a - static_cast<int>(c * dy - s * dx) - 1;
      if (sx < 0 || sx >= w || sy < 0 || sy >= th) continue;
      if (XGetPixel(source, sx, sy) == text_pixel_)
        XPutPixel(box, xx - bx1, yy - by1, text_pixel_);
    }
  }
  XPutImage(display_, window_, gc_fill_, box, 0, 0, bx1, by1, bw, bh);
  XDestroyImage(box);
  XDestroyImage(source);
  return 0;
}

// ---- Images ----

template <int Bytes, class IndexOf>
void X11Driver::fill_image(char* buffer, int bytes_per_line, int columns, int rows,
                           const Index* column_offset, const Index* row_offset,
                           IndexOf& index_of) {
  // Pixel bytes of each colour index in the order the image holds them.
  std::array<std::array<std::uint8_t, 4>, 256> bytes{};
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t v = image_pixel_[i];
    for (int k = 0; k < Bytes; ++k) {
      const int shift = image_byteswap_ ? 8 * k : 8 * (Bytes - 1 - k);
      bytes[i][static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> shift);
    }
  }
  std::array<std::uint32_t, 256> words{};
  if constexpr (Bytes == 4)
    for (std::size_t i = 0; i < 256; ++i) std::memcpy(&words[i], bytes[i].data(), 4);
  for (int r = 0; r < rows; ++r) {
    char* out = buffer + static_cast<std::ptrdiff_t>(r) * bytes_per_line;
    const Index base = row_offset[r];
    for (int c = 0; c < columns; ++c) {
      const auto i = static_cast<std::size_t>(index_of(base + column_offset[c]) & 0xFF);
      if constexpr (Bytes == 1) {
        out[c] = static_cast<char>(i);
      } else if constexpr (Bytes == 4) {
        std::memcpy(out + 4 * c, &words[i], 4);
      } else {
        std::memcpy(out + Bytes * c, bytes[i].data(), Bytes);
      }
    }
  }
}

template <class IndexOf>
int X11Driver::put_image(const ImagePlacement& place, IndexOf&& index_of) {
  // Only the part inside the window is built; the element each pixel shows
  // is still taken from the whole image's scale.
  const Index c0 = std::max<Index>(0, -place.left);
  const Index c1 = std::min<Index>(place.width, x_pixels_ - place.left);
  const Index r0 = std::max<Index>(0, -place.top);
  const Index r1 = std::min<Index>(place.height, y_pixels_ - place.top);
  if (c0 >= c1 || r0 >= r1 || cut()) return 0;
  const int columns = static_cast<int>(c1 - c0), rows = static_cast<int>(r1 - r0);
  const double fx = static_cast<double>(place.nx) / static_cast<double>(place.width);
  const double fy = static_cast<double>(place.ny) / static_cast<double>(place.height);
  std::vector<Index> column_offset, row_offset;
  try {
    column_offset.resize(static_cast<std::size_t>(columns));
    row_offset.resize(static_cast<std::size_t>(rows));
  } catch (const std::bad_alloc&) {
    return 1;
  }
  for (int c = 0; c < columns; ++c) {
    const Index k = std::min<Index>(static_cast<Index>((c0 + c + 0.5) * fx), place.nx - 1);
    column_offset[static_cast<std::size_t>(c)] = place.xstart - 1 + k;
  }
  const Index yend = place.ystart + place.ny - 1;
  for (int r = 0; r < rows; ++r) {
    const Index k = std::min<Index>(static_cast<Index>((r0 + r + 0.5) * fy), place.ny - 1);
    const Index element_row = place.top_row_first ? place.ystart + k : yend - k;
    row_offset[static_cast<std::size_t>(r)] = (element_row - 1) * place.xmaxdat;
  }

  XImage* image = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0,
                               nullptr, static_cast<unsigned>(columns),
                               static_cast<unsigned>(rows), 32, 0);
  if (image == nullptr) return 1;
  Index size = 0;
  bool allocated = checked_product(image->bytes_per_line, rows, size);
  if (allocated) {
    try {
      if (image_buffer_.size() < static_cast<std::size_t>(size))
        image_buffer_.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      allocated = false;
    }
  }
  if (!allocated) {
    failed_bytes_ = size;
    failed_bytes_per_line_ = image->bytes_per_line;
    failed_rows_ = rows;
    XDestroyImage(image);
    return 1;
  }
  image->data = image_buffer_.data();
  switch (image->bits_per_pixel) {
    case 8:
      fill_image<1>(image->data, image->bytes_per_line, columns, rows, column_offset.data(),
                    row_offset.data(), index_of);
      break;
    case 24:
      fill_image<3>(image->data, image->bytes_per_line, columns, rows, column_offset.data(),
                    row_offset.data(), index_of);
      break;
    case 32:
      fill_image<4>(image->data, image->bytes_per_line, columns, rows, column_offset.data(),
                    row_offset.data(), index_of);
      break;
    default:
      std::memset(image->data, 0, static_cast<std::size_t>(size));
      break;
  }
  XPutImage(display_, window_, gc_fill_, image, 0, 0, static_cast<int>(place.left + c0),
            static_cast<int>(place.top + r0), static_cast<unsigned>(columns),
            static_cast<unsigned>(rows));
  image->data = nullptr;  // the buffer is the driver's
  XDestroyImage(image);
  return 0;
}

bool X11Driver::scaled_placement(const CellRegion& region, ImagePlacement& place) const {
  const auto left = device_integer(region.x1 * x_scale_ + x_offset_, 1e9);
  const auto right = device_integer(region.x2 * x_scale_ + x_offset_, 1e9);
  const auto bottom = device_integer(region.y1 * y_scale_ + y_offset_, 1e9);
  const auto top = device_integer(region.y2 * y_scale_ + y_offset_, 1e9);
  place.left = left;
  place.top = y_pixels_ - top;
  place.width = std::max<Index>(1, right - left + 1);
  place.height = std::max<Index>(1, top - bottom - 1);
  place.xmaxdat = region.xmaxdat;
  place.xstart = region.xstrelm;
  place.ystart = region.ystrelm;
  place.nx = region.xnum;
  place.ny = region.ynum;
  place.top_row_first = false;
  return region.xnum > 0 && region.ynum > 0;
}

int X11Driver::cell_array(const CellRegion& region, std::span<const int> indices,
                          Status& /*status*/) {
  if (!live()) return closed_code();
  if (cell_region_error(region.xmaxdat, region.ymaxdat, region.xstrelm, region.ystrelm,
                        region.xnum, region.ynum, indices.size()) != 0)
    return 2;
  ImagePlacement place;
  if (!scaled_placement(region, place)) return 2;
  const int* data = indices.data();
  const int code = put_image(place, [data](Index k) { return data[k]; });
  finished();
  return code;
}

int X11Driver::real_cell_array(bool masked, const CellRegion& region, std::span<const float> data,
                               std::span<const std::uint8_t> mask, float minimum, float maximum,
                               int mask_colour, bool log_scale, Status& /*status*/) {
  if (!live()) return closed_code();
  log_scaling_ = log_scale;
  mask_colour_ = mask_colour;
  const int code =
      real_image(masked, region, data, mask, minimum, maximum, mask_colour, log_scale, false);
  finished();
  return code;
}

int X11Driver::real_image(bool masked, const CellRegion& region, std::span<const float> data,
                          std::span<const std::uint8_t> mask, float minimum, float maximum,
                          int mask_colour, bool log_scale, bool quiet) {
  if (real_cell_region_error(masked, region.xmaxdat, region.ymaxdat, region.xstrelm,
                             region.ystrelm, region.xnum, region.ynum, data.size(),
                             mask.size()) != 0)
    return 2;
  X11ImageScale scale;
  if (!scale.set(min_image_, max_image_, minimum, maximum, log_scale, mask_colour)) {
    if (!quiet) {
      if (masked) {
        message("ERROR: Scaling range unacceptable");
      } else {
        char line[160];
        std::snprintf(line, sizeof line, "       minimum = %f, maximum = %f", minimum, maximum);
        message("ERROR: Log Scaling range unacceptable");
        message(line);
      }
    }
    return 2;
  }
  ImagePlacement place;
  if (!scaled_placement(region, place)) return 2;
  const float* values = data.data();
  const int rc =
      masked ? put_image(place,
                         [values, m = mask.data(), &scale, mask_colour](Index k) {
                           return m[k] != 0 ? mask_colour : scale.index(values[k]);
                         })
             : put_image(place, [values, &scale](Index k) { return scale.index(values[k]); });
  if (rc == 1 && !quiet) {
    message("ERROR: QG_X11_RMCA failed to allocate " + std::to_string(failed_bytes_) + " bytes");
    message("       bytes_per_line = " + std::to_string(failed_bytes_per_line_));
    message("       y_height_pixels = " + std::to_string(failed_rows_));
  }
  return rc;
}

void X11Driver::raster_geometry(float /*page_x*/, float /*page_y*/, RasterGeometry& geometry) {
  geometry.device_flag = 1;
  geometry.width = x_pixels_;
  geometry.height = y_pixels_;
  geometry.scale_size = max_pixels_;
}

int X11Driver::raster_image(const RasterImage& image, Status& /*status*/) {
  if (!live()) return closed_code();
  Index cells = 0;
  if (image.width < 1 || image.height < 1 || !checked_product(image.width, image.height, cells) ||
      static_cast<std::size_t>(cells) > image.bytes.size() || image.x1 < 1 ||
      image.x2 > image.width || image.x1 > image.x2 || image.y1 < 1 || image.y2 > image.height ||
      image.y1 > image.y2)
    return 2;
  ImagePlacement place;
  place.xmaxdat = image.width;
  place.xstart = image.x1;
  place.ystart = image.y1;
  place.nx = image.x2 - image.x1 + 1;
  place.ny = image.y2 - image.y1 + 1;
  place.top_row_first = image.top_first;
  if (image.top_first && image.width == x_pixels_ && image.height == y_pixels_) {
    // A raster of the window's own size: cell for pixel.
    place.left = image.x1 - 1;
    place.top = image.y1 - 1;
    place.width = place.nx;
    place.height = place.ny;
  } else {
    // Another device's raster: scaled onto its page rectangle.
    const double m = max_pixels_;
    const Index left = device_integer(image.page_x1 * m, 1e9);
    const Index right = device_integer(image.page_x2 * m, 1e9);
    const Index bottom = device_integer(image.page_y1 * m, 1e9);
    const Index top = device_integer(image.page_y2 * m, 1e9);
    place.left = left;
    place.top = y_pixels_ - top;
    place.width = std::max<Index>(1, right - left);
    place.height = std::max<Index>(1, top - bottom);
  }
  const std::uint8_t* bytes = image.bytes.data();
  const int code = put_image(place, [bytes](Index k) { return static_cast<int>(bytes[k]); });
  finished();
  return code;
}

}  // namespace x11_detail
}  // namespace kesta
