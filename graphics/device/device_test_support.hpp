#pragma once
// Helpers for the graphics kernel's tests only: a recording driver, a
// PostScript file on stream 17, and Ghostscript rendering of such a file.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"

namespace kesta::testing {

// A driver that records every call as one text line.
class RecordingDriver : public Driver {
 public:
  explicit RecordingDriver(std::vector<std::string>* log, int category = kCategoryX11,
                           int code = 0)
      : log_(log), category_(category), code_(code) {}

  int category() const override { return category_; }
  int open(const OpenRequest&, Status&) override { return note("open"); }
  void close(Status&) override { note("close"); }
  int transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                float vy2, Status&) override {
    return note("transform " + n(wx1) + " " + n(wy1) + " " + n(wx2) + " " + n(wy2) + " " +
                n(vx1) + " " + n(vy1) + " " + n(vx2) + " " + n(vy2));
  }
  int clip(bool on, float, float, float, float, Status&) override {
    return note(on ? "clip on" : "clip off");
  }
  int clear(Status&) override { return note("clear"); }
  int update(Status&) override { return note("update"); }
  int line_colour(int i, const Rgb&, Status&) override { return note("line_colour " + n(i)); }
  int line_style(int s, Status&) override { return note("line_style " + n(s)); }
  int line_width(float w, Status&) override { return note("line_width " + n(w)); }
  int fill_colour(int i, const Rgb&, Status&) override { return note("fill_colour " + n(i)); }
  int marker_type(int t, Status&) override { return note("marker_type " + n(t)); }
  int marker_colour(int i, const Rgb&, Status&) override { return note("marker_colour " + n(i)); }
  int marker_scale(float s, Status&) override { return note("marker_scale " + n(s)); }
  int marker_width(float w, Status&) override { return note("marker_width " + n(w)); }
  int text_font(int f, Status&) override { return note("text_font " + n(f)); }
  int text_height(float h, Status&) override { return note("text_height " + n(h)); }
  int text_colour(int i, const Rgb&, Status&) override { return note("text_colour " + n(i)); }
  int text_alignment(int h, int v, Status&) override {
    return note("text_alignment " + n(h) + " " + n(v));
  }
  int text_angle(float a, Status&) override { return note("text_angle " + n(a)); }
  int polyline(std::span<const float> x, std::span<const float>, Status&) override {
    return note("polyline " + n(static_cast<int>(x.size())));
  }
  int polymarker(std::span<const float> x, std::span<const float>, Status&) override {
    return note("polymarker " + n(static_cast<int>(x.size())));
  }
  int fill_area(std::span<const float> x, std::span<const float>, Status&) override {
    return note("fill_area " + n(static_cast<int>(x.size())));
  }
  int text(float, float, std::string_view t, Status&) override {
    return note("text " + std::string(t));
  }
  int cell_array(const CellRegion&, std::span<const int>, Status&) override {
    return note("cell_array");
  }
  int real_cell_array(bool, const CellRegion&, std::span<const float>,
                      std::span<const std::uint8_t>, float minimum, float maximum, int,
                      bool log_scale, Status&) override {
    return note("real_cell_array " + n(minimum) + " " + n(maximum) + (log_scale ? " log" : ""));
  }
  void raster_geometry(float, float, RasterGeometry& g) override {
    g = geometry;
    note("raster_geometry");
  }
  int raster_image(const RasterImage& image, Status&) override {
    last_image = image;
    image_bytes.assign(image.bytes.begin(), image.bytes.end());
    return note("raster_image " + n(static_cast<int>(image.x1)) + " " +
                n(static_cast<int>(image.y1)) + " " + n(static_cast<int>(image.x2)) + " " +
                n(static_cast<int>(image.y2)));
  }

  RasterGeometry geometry{0, 10, 8, 10};
  RasterImage last_image;
  std::vector<std::uint8_t> image_bytes;

 private:
  static std::string n(int v) { return std::to_string(v); }
  static std::string n(float v) {
    std::ostringstream s;
    s << v;
    return s.str();
  }
  int note(const std::string& text) {
    log_->push_back(text);
    return code_;
  }
  std::vector<std::string>* log_;
  int category_;
  int code_;
};

// Puts a recording driver into the next slot of the kernel's table, active.
inline RecordingDriver* add_recording_workstation(int id, std::vector<std::string>* log,
                                                  int category = kCategoryX11, int code = 0) {
  QgDbSystem& sys = qg_db_system;
  const int k = sys.number_workstations++;
  auto driver = std::make_unique<RecordingDriver>(log, category, code);
  RecordingDriver* raw = driver.get();
  sys.user_id[k] = id;
  sys.category[k] = category;
  sys.device_type[k] = category == kCategoryX11 ? 11 : 21;
  sys.state[k] = 2;
  sys.page_extent_x[k] = kPageShortSide;
  sys.page_extent_y[k] = 1.0f;
  sys.driver[k] = std::move(driver);
  return raw;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Lines of a file without trailing blanks.
inline std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A PostScript workstation (ID 2) of TYPE on stream 17, writing PATH. The
// kernel is opened, a text height set, the workstation opened and activated.
class PsFile {
 public:
  PsFile(const std::string& path, int type, Status& status) : path_(path) {
    QG_OPEN(0, status);
    QG_TEXTHEIGHT(0.02f, status);
    io_open_stream(kStreamDefaults, path, "w");
    QG_OPEN_WK(2, kStreamDefaults, type, status);
    QG_ACTIVATE_WK(2, status);
  }
  // Ends the page, closes the workstation and the file.
  void finish(Status& status) {
    if (done_) return;
    done_ = true;
    QG_UPDATE(2, 0, status);
    QG_CLOSE_WK(2, status);
    io_close_stream(kStreamDefaults);
  }
  ~PsFile() {
    Status s = ST_GOOD();
    finish(s);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool done_ = false;
};

// Result of Ghostscript on a file.
struct Rendered {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  std::array<int, 3> at(int x, int y) const {
    const std::size_t k = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[k], rgb[k + 1], rgb[k + 2]};
  }
};

// Syntax check: the null device must run the file without an error.
inline bool gs_syntax_ok(const std::string& path, std::string* output = nullptr) {
  const std::string log = path + ".gslog";
  const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage \"" + path +
                              "\" > \"" + log + "\" 2>&1";
  const int rc = std::system(command.c_str());
  const std::string text = read_file(log);
  if (output) *output = text;
  return rc == 0 && text.find("Error") == std::string::npos;
}

// Renders the first page on A4 at 72 dpi (one pixel a point, row 0 at the top).
inline Rendered gs_render(const std::string& path) {
  Rendered r;
  const std::string ppm = path + ".ppm";
  const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 "
                              "-sPAPERSIZE=a4 -dFIXEDMEDIA -dFirstPage=1 -dLastPage=1 "
                              "-sOutputFile=\"" +
                              ppm + "\" \"" + path + "\" > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return r;
  const std::string data = read_file(ppm);
  std::istringstream in(data);
  std::string magic;
  int maxval = 0;
  in >> magic;
  // Header fields may be separated by comment lines.
  auto field = [&in](int& value) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
    in >> value;
  };
  field(r.width);
  field(r.height);
  field(maxval);
  if (magic != "P6" || maxval != 255) return r;
  in.get();
  const std::size_t bytes = static_cast<std::size_t>(r.width) * r.height * 3;
  const std::size_t start = static_cast<std::size_t>(in.tellg());
  if (data.size() < start + bytes) return r;
  r.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(start),
               data.begin() + static_cast<std::ptrdiff_t>(start + bytes));
  r.ok = true;
  return r;
}

}  // namespace kesta::testing
