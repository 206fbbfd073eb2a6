#pragma once
// For tests of the layers that draw through the kernel: a driver that keeps
// every primitive in page coordinates, with the attributes in force when it
// was drawn (texts with height, alignment and angle; cell arrays with their
// page rectangle and range).

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "graphics/device/kernel.hpp"

namespace kesta::testing {

struct PageItem {
  std::string kind;  // polyline, polymarker, fill_area, text, cell_array, real_cell_array, clear
  std::vector<float> x, y;  // page coordinates (a cell array: its two corners)
  std::string text;
  float height = 0.0f;  // text height, page units
  int horizontal = 0, vertical = 0;
  float angle = 0.0f;  // text angle, degrees
  int colour = 0;      // line, marker, fill or text colour index by kind
  int line_style = 0;
  float line_width = 0.0f;
  int marker_type = 0;
  Index xnum = 0, ynum = 0;
  float minimum = 0.0f, maximum = 0.0f;  // real cell arrays
  std::vector<float> values;             // their values, bottom row first
  int mask_colour = -1;  // their colour index of masked pixels and of values not a number
  std::vector<int> indices;              // integer cell arrays
  std::vector<float> clip;  // the clip rectangle in force (page x1, y1, x2, y2), empty when off
};

class PageRecorder : public Driver {
 public:
  explicit PageRecorder(std::vector<PageItem>* items, int category = kCategoryX11)
      : items_(items), category_(category) {}

  int category() const override { return category_; }
  int open(const OpenRequest&, Status&) override { return 0; }
  void close(Status&) override {}
  int transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                float vy2, Status&) override {
    w_ = {wx1, wy1, wx2, wy2};
    v_ = {vx1, vy1, vx2, vy2};
    return 0;
  }
  int clip(bool on, float x1, float y1, float x2, float y2, Status&) override {
    clip_.clear();
    if (on) clip_ = {page_x(x1), page_y(y1), page_x(x2), page_y(y2)};
    return 0;
  }
  int clear(Status&) override {
    PageItem item;
    item.kind = "clear";
    items_->push_back(std::move(item));
    return 0;
  }
  int update(Status&) override { return 0; }
  int line_colour(int i, const Rgb&, Status&) override { return set(line_colour_, i); }
  int line_style(int s, Status&) override { return set(line_style_, s); }
  int line_width(float w, Status&) override {
    line_width_ = w;
    return 0;
  }
  int fill_colour(int i, const Rgb&, Status&) override { return set(fill_colour_, i); }
  int marker_type(int t, Status&) override { return set(marker_type_, t); }
  int marker_colour(int i, const Rgb&, Status&) override { return set(marker_colour_, i); }
  int marker_scale(float, Status&) override { return 0; }
  int marker_width(float, Status&) override { return 0; }
  int text_font(int, Status&) override { return 0; }
  int text_height(float h, Status&) override {
    height_ = h;
    return 0;
  }
  int text_colour(int i, const Rgb&, Status&) override { return set(text_colour_, i); }
  int text_alignment(int h, int v, Status&) override {
    horizontal_ = h;
    vertical_ = v;
    return 0;
  }
  int text_angle(float a, Status&) override {
    angle_ = a;
    return 0;
  }
  int polyline(std::span<const float> x, std::span<const float> y, Status&) override {
    PageItem& item = points("polyline", x, y);
    item.colour = line_colour_;
    item.line_style = line_style_;
    item.line_width = line_width_;
    return 0;
  }
  int polymarker(std::span<const float> x, std::span<const float> y, Status&) override {
    PageItem& item = points("polymarker", x, y);
    item.colour = marker_colour_;
    item.marker_type = marker_type_;
    return 0;
  }
  int fill_area(std::span<const float> x, std::span<const float> y, Status&) override {
    points("fill_area", x, y).colour = fill_colour_;
    return 0;
  }
  int text(float x, float y, std::string_view t, Status&) override {
    const float p[1] = {x};
    const float q[1] = {y};
    PageItem& item = points("text", p, q);
    item.text = std::string(t);
    item.height = height_;
    item.horizontal = horizontal_;
    item.vertical = vertical_;
    item.angle = angle_;
    item.colour = text_colour_;
    return 0;
  }
  int cell_array(const CellRegion& r, std::span<const int> indices, Status&) override {
    PageItem& item = cells("cell_array", r);
    for (Index j = 0; j < r.ynum; ++j)
      for (Index i = 0; i < r.xnum; ++i)
        item.indices.push_back(indices[static_cast<std::size_t>((r.xstrelm - 1 + i) +
                                                                (r.ystrelm - 1 + j) * r.xmaxdat)]);
    return 0;
  }
  int real_cell_array(bool masked, const CellRegion& r, std::span<const float> data,
                      std::span<const std::uint8_t>, float minimum, float maximum, int mask_colour,
                      bool, Status&) override {
    PageItem& item = cells("real_cell_array", r);
    for (Index j = 0; j < r.ynum; ++j)
      for (Index i = 0; i < r.xnum; ++i)
        item.values.push_back(
            data[static_cast<std::size_t>((r.xstrelm - 1 + i) + (r.ystrelm - 1 + j) * r.xmaxdat)]);
    item.minimum = minimum;
    item.maximum = maximum;
    item.colour = masked ? mask_colour : -1;
    item.mask_colour = mask_colour;
    return 0;
  }
  void raster_geometry(float, float, RasterGeometry& g) override { g = {0, 10, 10, 10}; }
  int raster_image(const RasterImage&, Status&) override { return 0; }

  // In double, as the screen driver maps: a window as wide as the float
  // range overflows a float width.
  float page_x(float x) const { return page(x, w_[0], w_[2], v_[0], v_[2]); }
  float page_y(float y) const { return page(y, w_[1], w_[3], v_[1], v_[3]); }
  static float page(double value, double w1, double w2, double v1, double v2) {
    return static_cast<float>(v1 + (value - w1) * (v2 - v1) / (w2 - w1));
  }

 private:
  int set(int& field, int value) {
    field = value;
    return 0;
  }
  PageItem& points(const char* kind, std::span<const float> x, std::span<const float> y) {
    PageItem item;
    item.kind = kind;
    for (std::size_t k = 0; k < x.size(); ++k) {
      item.x.push_back(page_x(x[k]));
      item.y.push_back(page_y(y[k]));
    }
    item.clip = clip_;
    items_->push_back(std::move(item));
    return items_->back();
  }
  PageItem& cells(const char* kind, const CellRegion& r) {
    const float x[2] = {r.x1, r.x2};
    const float y[2] = {r.y1, r.y2};
    PageItem& item = points(kind, x, y);
    item.xnum = r.xnum;
    item.ynum = r.ynum;
    return item;
  }

  std::vector<PageItem>* items_;
  int category_;
  std::array<float, 4> w_{0, 0, 1, 1}, v_{0, 0, 1, 1};
  std::vector<float> clip_;
  int line_colour_ = 1, line_style_ = 1, fill_colour_ = 1, marker_type_ = 2, marker_colour_ = 1,
      text_colour_ = 1;
  float line_width_ = 1.0f, height_ = 0.0f, angle_ = 0.0f;
  int horizontal_ = 0, vertical_ = 0;
};

// Opens the kernel and puts a page recorder in as workstation ID (active).
inline PageRecorder* open_page_recorder(int id, std::vector<PageItem>* items,
                                        int category = kCategoryX11) {
  QgDbSystem& sys = qg_db_system;
  const int k = sys.number_workstations++;
  auto driver = std::make_unique<PageRecorder>(items, category);
  PageRecorder* raw = driver.get();
  sys.user_id[k] = id;
  sys.category[k] = category;
  sys.device_type[k] = category == kCategoryX11 ? 11 : 21;
  sys.state[k] = 2;
  sys.page_extent_x[k] = kPageShortSide;
  sys.page_extent_y[k] = 1.0f;
  sys.driver[k] = std::move(driver);
  if (category == kCategoryX11) ++qg_db_openwk.x11;
  const QgDbTransform& t = qg_db_transform;
  Status s = kStatusGood;
  raw->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
  return raw;
}

}  // namespace kesta::testing
