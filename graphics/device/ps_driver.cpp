// The PostScript driver: header, prologue, page, primitives and attributes.

#include "graphics/device/ps_driver.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/ps_internal.hpp"

namespace kesta {
namespace ps_detail {

// The copy's owner (graphics/system) says a failed write, naming the file.
void write(std::string_view line, Status& status) {
  io_write_file_owner_says(qg_ps_io.unit, line, status);
}

void append_field(std::string& line, std::int64_t value, int width) {
  std::string field = format_i(value, width);
  if (field.find('*') != std::string::npos) field = std::to_string(value);
  // However wide the number, it stays separated from what precedes it.
  if (!line.empty() && line.back() != ' ' && !field.empty() && field.front() != ' ') line += ' ';
  line += field;
}

int to_int(double v) { return static_cast<int>(device_integer(v, kPsCoordinateLimit)); }

}  // namespace ps_detail

using namespace ps_detail;

namespace {

// World to PostScript units: the product truncated, the offset added, the
// sum truncated again, all in double and clamped.
int convert(float value, float scale, float offset) {
  const double product =
      static_cast<double>(device_integer(static_cast<double>(value) * scale, kPsCoordinateLimit));
  return to_int(product + offset);
}

// One colour line: components (or the grey value) then the procedure name.
void colour_line(float red, float green, float blue, std::string_view procedure,
                 std::string_view what, std::string_view position, Status& status) {
  auto bad = [](float c) { return !(c >= 0.0f && c <= 1.0f); };
  if (bad(red) || bad(green) || bad(blue)) {
    st_fail(status, 130021, position);
    return;
  }
  std::string line;
  auto add = [&](float value, std::string_view component) {
    Status local = ST_GOOD();
    bool fits = true;
    std::string text;
    IO_VTOC(value, 5, 4, false, true, false, fits, text, local);
    if (local != ST_GOOD()) {
      std::string message = "ERROR: ";
      message += what;
      message += " colour component ";
      message += component;
      message += " not converted O.K.";
      Status s = ST_GOOD();
      IO_WRITE(message, s);
    }
    if (!line.empty()) line += ' ';
    line += text;
  };
  if (qg_ps_format.colour) {
    add(red, "red");
    add(green, "green");
    add(blue, "blue");
  } else {
    add(0.5f * red + 0.39f * green + 0.11f * blue, "grey");
  }
  line += ' ';
  line += procedure;
  write(line, status);
}

// Points as "PX PY " pairs, a line written once it holds 70 characters; the
// count and procedure follow on the current line.
void point_lines(std::span<const int> px, std::span<const int> py, std::size_t first,
                 std::size_t last, bool backwards, std::string_view procedure, Status& status) {
  std::string line;
  const std::size_t count = last - first + 1;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t i = backwards ? last - k : first + k;
    line += std::to_string(px[i]);
    line += ' ';
    line += std::to_string(py[i]);
    line += ' ';
    if (line.size() >= 70) {
      write(line, status);
      line.clear();
    }
  }
  line += std::to_string(count);
  line += ' ';
  line += procedure;
  write(line, status);
}

void convert_points(int n, std::span<const float> x, std::span<const float> y,
                    std::vector<int>& px, std::vector<int>& py) {
  px.resize(static_cast<std::size_t>(n));
  py.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    px[static_cast<std::size_t>(i)] = ps_x(x[static_cast<std::size_t>(i)]);
    py[static_cast<std::size_t>(i)] = ps_y(y[static_cast<std::size_t>(i)]);
  }
}

bool counts_ok(int n, std::span<const float> x, std::span<const float> y) {
  return static_cast<std::size_t>(n) <= x.size() && static_cast<std::size_t>(n) <= y.size();
}

void translate_line(Status& status) {
  std::string line;
  append_field(line, 2 * qg_ps_region.xmin + qg_ps_region.width, 4);
  line += " 0 translate 90 rotate";
  write(line, status);
}

// The box around the page's drawing area (0.7071 x 1 page units from the
// region's corner, turned by translate_line on a landscape page) in points,
// rounded outward, so that viewers that crop to it cut nothing off.
std::string bounding_box_line() {
  const QgPsRegion& r = qg_ps_region;
  const double unit = r.unit;
  const double short_side = static_cast<double>(kPageShortSide) * unit;
  double left = r.xmin, bottom = r.ymin, right = r.xmin + short_side, top = r.ymin + unit;
  if (qg_ps_format.landscape) {
    const double shift = 2.0 * r.xmin + r.width;
    left = shift - (r.ymin + short_side);
    right = shift - r.ymin;
    bottom = r.xmin;
    top = r.xmin + unit;
  }
  auto down = [](double tenths) {
    return std::to_string(static_cast<long>(std::floor(tenths / 10.0)));
  };
  auto up = [](double tenths) { return std::to_string(static_cast<long>(std::ceil(tenths / 10.0))); };
  return "%%BoundingBox: " + down(left) + " " + down(bottom) + " " + up(right) + " " + up(top);
}

void prologue(Status& status) {
  const bool colour = qg_ps_format.colour;
  const int u = qg_ps_region.unit;
  std::string line;
  write("%!PS-Adobe-2.0", status);
  write(bounding_box_line(), status);
  write("%%Creator: Produced by the \"Qivo Graphics\" system", status);
  write("%%Title: \"Qivo Graphics\" V1.5 PostScript Output", status);
  write("% Coordinates are in tenths of a point; each primitive calls one", status);
  write("% of the short procedures defined below.", status);
  write(" ", status);
  write("% Definition of variables", status);
  line = colour ? "/pl_r 0 def /pl_g 0 def /pl_b 0 def /pl_w " : "/pl_g 0 def /pl_w ";
  append_field(line, u / 1500, 4);
  line += " def /pl_t 0 def";
  write(line, status);
  line = colour ? "/pm_r 0 def /pm_g 0 def /pm_b 0 def /pm_t 5 def /pm_s "
                : "/pm_g 0 def /pm_t 5 def /pm_s ";
  append_field(line, u / 150, 4);
  line += " def/pm_w ";
  append_field(line, u / 1500, 4);
  line += " def";
  write(line, status);
  line = "/setlinejoin 1 def /dash";
  append_field(line, u / 100, 4);
  line += " def /dot ";
  append_field(line, u / 750, 4);
  line += " def /gap ";
  append_field(line, u / 250, 4);
  line += " def";
  write(line, status);
  write(colour ? "/fa_r 1 def /fa_g 1 def /fa_b 1 def" : "/fa_g 1 def", status);
  write(colour ? "/tx_r 0 def /tx_g 0 def /tx_b 0 def /tx_h 0 def /tx_v 0 def"
               : "/tx_g 0 def /tx_h 0 def /tx_v 0 def",
        status);
  write("/tx_a 0 def /c_a 1 def /s_a 0 def", status);
  write(" ", status);
  write("% Definition of functions", status);
  if (colour) {
    write("/pc {  /pl_b exch def /pl_g exch def /pl_r exch def} def", status);
    write("/mc {  /pm_b exch def /pm_g exch def /pm_r exch def} def", status);
    write("/fc {  /fa_b exch def /fa_g exch def /fa_r exch def} def", status);
    write("/tc {  /tx_b exch def /tx_g exch def /tx_r exch def} def", status);
  } else {
    write("/pc {/pl_g exch def} def", status);
    write("/mc {/pm_g exch def} def", status);
    write("/fc {/fa_g exch def} def", status);
    write("/tc {/tx_g exch def} def", status);
  }
  write("/pw { /pl_w exch def } def", status);
  write("/pt { /pl_t exch def } def", status);
  write("/mt { /pm_t exch def } def", status);
  write("/ms { /pm_s exch def } def", status);
  write("/mw { /pm_w exch def } def", status);
  write("/ta {/tx_v exch def /tx_h exch def} def", status);
  write("/td { /tx_a exch def /c_a tx_a cos def /s_a tx_a sin def} def", status);
  write("/tf { /fi exch def /size exch def", status);
  write("fi 1 eq {/Times-Roman findfont size scalefont setfont} if", status);
  write("fi 2 eq {/Courier findfont size scalefont setfont} if", status);
  write("} bind def", status);
  write("/l_type {0 pl_t eq {[] 0 setdash} if", status);
  write("1 pl_t eq {[] 0 setdash} if", status);
  write("2 pl_t eq {[dash dash] dash 2 div setdash} if", status);
  write("3 pl_t eq {[dot gap] 0 setdash} if", status);
  write("4 pl_t eq {[dash gap dot gap] dash 2 div setdash} if} def", status);
  const char* stroke = colour ? "pl_w setlinewidth pl_r pl_g pl_b setrgbcolor l_type stroke} bind def"
                              : "pl_w setlinewidth pl_g setgray l_type stroke} bind def";
  write("/pl { /num exch def newpath moveto", status);
  write("num 1 sub {lineto} repeat", status);
  write(stroke, status);
  write("/cl { /num exch def newpath moveto", status);
  write("num 1 sub {lineto} repeat closepath", status);
  write(stroke, status);
  write("/hl { dup 3 -1 roll dup 3 -1 roll newpath moveto 3 -1 roll add exch lineto", status);
  write(stroke, status);
  write("/vl { dup 3 -1 roll dup 3 -1 roll newpath moveto 3 1 roll add lineto", status);
  write(stroke, status);
  write("/dt {newpath /y exch def /x exch def x 1 sub y moveto x 1 add y lineto", status);
  write("stroke} bind def", status);
  write("/plus {newpath /y exch def  /x exch def x pm_s sub y moveto x pm_s add y lineto", status);
  write("x y pm_s sub moveto x y pm_s add lineto stroke} bind def", status);
  const char* d1 = "x pm_s 0.707 mul sub y pm_s 0.707 mul sub moveto";
  const char* d2 = "x pm_s 0.707 mul add y pm_s 0.707 mul add lineto";
  const char* d3 = "x pm_s 0.707 mul sub y pm_s 0.707 mul add moveto";
  const char* d4 = "x pm_s 0.707 mul add y pm_s 0.707 mul sub lineto";
  write("/star {newpath /y exch def  /x exch def x pm_s sub y moveto x pm_s add y lineto", status);
  write(d1, status);
  write(d2, status);
  write(d3, status);
  write(d4, status);
  write("x y pm_s sub moveto x y pm_s add lineto stroke} bind def", status);
  write("/cir {newpath pm_s 0 360 arc stroke} def", status);
  write("/cross {newpath /y exch def  /x exch def", status);
  write(d1, status);
  write(d2, status);
  write(d3, status);
  write(d4, status);
  write("stroke} bind def", status);
  write(colour ? "/pm {/num exch def pm_r pm_g pm_b setrgbcolor [] 0 setdash"
               : "/pm {/num exch def pm_g setgray [] 0 setdash",
        status);
  write("pm_t 1 eq {10 setlinewidth 1 setlinecap num {dt} repeat} if", status);
  write("pm_t 2 eq {pm_w setlinewidth 0 setlinecap num {plus} repeat} if", status);
  write("pm_t 3 eq {pm_w setlinewidth 0 setlinecap num {star} repeat} if", status);
  write("pm_t 4 eq {pm_w setlinewidth 0 setlinecap num {cir} repeat} if", status);
  write("pm_t 5 eq {pm_w setlinewidth 0 setlinecap num {cross} repeat} if", status);
  write("} bind def", status);
  write("/fa { /num exch def newpath moveto", status);
  write("num 1 sub {lineto} repeat closepath", status);
  write(colour ? "fa_r fa_g fa_b setrgbcolor fill} bind def" : "fa_g setgray fill} bind def",
        status);
  write("/tx_box {gsave newpath 0 0 moveto true charpath flattenpath pathbbox", status);
  write("grestore} def", status);
  write("/tx {/tx_y exch def /tx_x exch def", status);
  write("dup stringwidth pop /width exch def", status);
  write(colour ? "tx_r tx_g tx_b setrgbcolor" : "tx_g setgray", status);
  write("0 tx_h eq { /x_a 0 def } if", status);
  write("1 tx_h eq { /x_a 0 def } if", status);
  write("2 tx_h eq { /x_a width 2 div def } if", status);
  write("3 tx_h eq { /x_a width def } if", status);
  write("0 tx_v eq { /y_a 0 def} if", status);
  write("1 tx_v eq { (l) tx_box /y_a exch def pop pop pop} if", status);
  write("2 tx_v eq { (X) tx_box /y_a exch def pop pop pop} if", status);
  write("3 tx_v eq { (Xg) tx_box exch pop add 2 div /y_a exch def pop} if", status);
  write("4 tx_v eq { /y_a 0 def} if", status);
  write("5 tx_v eq { (g) tx_box pop pop -1 mul /y_a exch def pop} if", status);
  write("6 tx_v eq { (X) tx_box exch pop add 2 div /y_a exch def pop} if", status);
  write("/tx_x tx_x x_a c_a mul s_a y_a mul sub sub def", status);
  write("/tx_y tx_y s_a x_a mul c_a y_a mul add sub def", status);
  write("tx_x tx_y moveto gsave tx_a rotate show grestore} bind def", status);
  write("/" + std::string(kPsClearName) +
            " { /ymax exch def /xmax exch def /ymin exch def /xmin exch def",
        status);
  write("newpath xmin ymin moveto xmax ymin lineto xmax ymax lineto xmin ymax lineto", status);
  write(colour ? "closepath 1 1 1 setrgbcolor fill} bind def" : "closepath 1 setgray fill} bind def",
        status);
  write("/cp {/ymax exch def /xmax exch def /ymin exch def /xmin exch def", status);
  write("newpath xmin ymin moveto xmax ymin lineto xmax ymax lineto xmin ymax lineto", status);
  write("closepath clip} def", status);
  write("0.1 0.1 scale", status);
  line.clear();
  append_field(line, u / 60, 4);
  line += " 1 tf";
  write(line, status);
  if (qg_ps_format.landscape) translate_line(status);
  write("% End of prologue", status);
  write(" ", status);
  write("% Define current graphics state", status);
}

// The kernel's current attributes, as a new file starts with them.
void current_attributes(Status& status) {
  const QgDbRastermode& r = qg_db_rastermode;
  const QgDbTextatts& t = qg_db_textatts;
  auto entry = [](int index) { return qg_db_colours.table[std::clamp(index, 0, 255)]; };
  QG_PS_LINESTYLE(r.line_style, status);
  if (r.line_colour >= 1) {
    const Rgb c = entry(r.line_colour);
    QG_PS_LINECOLOUR(c.red, c.green, c.blue, status);
  }
  QG_PS_LINEWIDTH(r.line_width, status);
  Rgb c = entry(r.fill_colour);
  QG_PS_FILLCOLOUR(c.red, c.green, c.blue, status);
  QG_PS_MARKERTYPE(r.marker_type, status);
  c = entry(r.marker_colour);
  QG_PS_MARKERCOLOUR(c.red, c.green, c.blue, status);
  QG_PS_MARKERSCALE(r.marker_scale, status);
  QG_PS_MARKERWIDTH(r.marker_width, status);
  QG_PS_TEXTFONT(t.font, status);
  if (!(t.height > 0.0f && t.height <= 1.0f)) {
    st_fail(status, 130021, "Subroutine QG_PS_TEXTHEIGHT V0.2");
    return;
  }
  QG_PS_TEXTHEIGHT(t.height, status);
  c = entry(t.colour);
  QG_PS_TEXTCOLOUR(c.red, c.green, c.blue, status);
  QG_PS_TEXTALIGNMENT(t.horizontal, t.vertical, status);
  QG_PS_TEXTANGLE(t.angle, status);
  write(" ", status);
}

}  // namespace

int ps_x(float x) { return convert(x, qg_ps_region.x_scale, qg_ps_region.x_offset); }
int ps_y(float y) { return convert(y, qg_ps_region.y_scale, qg_ps_region.y_offset); }

void QG_PS_OPEN(int unit, bool keep_region, bool landscape, bool colour, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_OPEN V0.6")) return;
  qg_ps_io.unit = unit;
  qg_ps_format.landscape = landscape;
  qg_ps_format.colour = colour;
  QgPsRegion& r = qg_ps_region;
  if (!keep_region) {
    r.xmin = 180;
    r.ymin = 230;
    r.xmax = 5690;
    r.ymax = 8100;
  }
  r.width = r.xmax - r.xmin + 1;
  r.height = r.ymax - r.ymin + 1;
  r.unit = std::max(r.width, r.height);
  qg_ps_functions.written = false;
  prologue(status);
  current_attributes(status);
}

void QG_PS_TRANSFORM(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                     float vy2, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_TRANSFORM V0.2";
  if (st_bad(status, kPosition)) return;
  if (!(wx1 < wx2) || !(vx1 < vx2)) {
    st_fail(status, 130013, kPosition);
    return;
  }
  if (!(wy1 < wy2) || !(vy1 < vy2)) {
    st_fail(status, 130014, kPosition);
    return;
  }
  QgPsRegion& r = qg_ps_region;
  const float u = static_cast<float>(r.unit);
  // The scales in double: a window as wide as the float range overflows a
  // float width, while the scale itself is still a usable float.
  r.x_scale = static_cast<float>((double{vx2} - vx1) * u / (double{wx2} - wx1));
  r.x_offset = u * vx1 + static_cast<float>(r.xmin) - wx1 * r.x_scale;
  r.y_scale = static_cast<float>((double{vy2} - vy1) * u / (double{wy2} - wy1));
  r.y_offset = u * vy1 + static_cast<float>(r.ymin) - wy1 * r.y_scale;
}

void QG_PS_UPDATE(Status& status) {
  if (st_bad(status, "Subroutine QG_PS_UPDATE V0.2")) return;
  write("showpage", status);
  write("0.1 0.1 scale", status);
  if (qg_ps_format.landscape) translate_line(status);
}

void QG_PS_CLEAR(Status& status) {
  if (st_bad(status, "Subroutine QG_PS_CLEAR V0.2")) return;
  const QgPsRegion& r = qg_ps_region;
  write(std::to_string(r.xmin) + " " + std::to_string(r.ymin) + " " + std::to_string(r.xmax) +
            " " + std::to_string(r.ymax) + " " + std::string(kPsClearName),
        status);
}

void QG_PS_CLIP(bool on, float x1, float y1, float x2, float y2, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_CLIP V0.1";
  if (st_bad(status, kPosition)) return;
  if (!on) {
    write("initclip", status);
    return;
  }
  if (!(x1 < x2)) {
    st_fail(status, 130013, kPosition);
    return;
  }
  if (!(y1 < y2)) {
    st_fail(status, 130014, kPosition);
    return;
  }
  const QgPsRegion& r = qg_ps_region;
  auto single = [](float v, float scale, float offset) {
    return to_int(static_cast<double>(v) * scale + offset);
  };
  write(std::to_string(single(x1, r.x_scale, r.x_offset)) + " " +
            std::to_string(single(y1, r.y_scale, r.y_offset)) + " " +
            std::to_string(single(x2, r.x_scale, r.x_offset)) + " " +
            std::to_string(single(y2, r.y_scale, r.y_offset)) + " cp",
        status);
}

void QG_PS_PL(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_PL V0.3";
  if (st_bad(status, kPosition)) return;
  if (n < 2 || !counts_ok(n, x, y)) {
    st_fail(status, 130017, kPosition);
    return;
  }
  std::vector<int> px, py;
  convert_points(n, x, y, px, py);
  // Horizontal, vertical and closed lines are recognised on the written
  // integer coordinates, whatever the world units.
  if (n == 2 && py[0] == py[1]) {
    write(std::to_string(std::abs(px[0] - px[1])) + " " + std::to_string(std::min(px[0], px[1])) +
              " " + std::to_string(py[0]) + " hl",
          status);
    return;
  }
  if (n == 2 && px[0] == px[1]) {
    write(std::to_string(std::abs(py[0] - py[1])) + " " + std::to_string(px[0]) + " " +
              std::to_string(std::min(py[0], py[1])) + " vl",
          status);
    return;
  }
  std::size_t count = static_cast<std::size_t>(n);
  std::string_view procedure = "pl";
  if (n <= kPsChunk && px[count - 1] == px[0] && py[count - 1] == py[0]) {
    --count;
    procedure = "cl";
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(start + kPsChunk - 1, count - 1);
    point_lines(px, py, start, end, true, procedure, status);
    if (end >= count - 1) break;
    start = end;
  }
}

void QG_PS_PM(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_PM V0.2";
  if (st_bad(status, kPosition)) return;
  if (n < 1 || !counts_ok(n, x, y)) {
    st_fail(status, 130017, kPosition);
    return;
  }
  std::vector<int> px, py;
  convert_points(n, x, y, px, py);
  const std::size_t count = static_cast<std::size_t>(n);
  for (std::size_t start = 0; start < count; start += kPsChunk)
    point_lines(px, py, start, std::min(start + kPsChunk, count) - 1, true, "pm", status);
}

void QG_PS_FA(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_FA V0.2";
  if (st_bad(status, kPosition)) return;
  if (n < 3 || !counts_ok(n, x, y)) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (n > kMaxFillPoints) {
    st_fail(status, 130009, kPosition);
    return;
  }
  std::vector<int> px, py;
  convert_points(n, x, y, px, py);
  point_lines(px, py, 0, static_cast<std::size_t>(n) - 1, false, "fa", status);
}

void QG_PS_TEXT(float x, float y, std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_TEXT V0.2")) return;
  const std::string_view used = without_trailing_blanks(text);
  if (used.empty()) return;
  std::string line = "(";
  for (const char c : used) {
    if (c == '\\' || c == '(' || c == ')') line += '\\';
    line += c;
    if (line.size() >= 77) {
      line += '\\';
      write(line, status);
      line.clear();
    }
  }
  line += ')';
  write(line, status);
  write(std::to_string(ps_x(x)) + " " + std::to_string(ps_y(y)) + " tx", status);
}

void QG_PS_LINESTYLE(int style, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_LINESTYLE V0.1")) return;
  if (style < 0 || style > 4) {
    st_fail(status, 130021, "Subroutine QG_PS_LINESTYLE V0.1");
    return;
  }
  write(std::to_string(style) + " pt", status);
}

void QG_PS_LINEWIDTH(float width, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_LINEWIDTH V0.1")) return;
  if (!(width > 0.0f)) {
    st_fail(status, 130021, "Subroutine QG_PS_LINEWIDTH V0.1");
    return;
  }
  write(std::to_string(to_int(static_cast<double>(qg_ps_region.unit) * width / 1500.0)) + " pw",
        status);
}

void QG_PS_LINECOLOUR(float red, float green, float blue, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_LINECOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  colour_line(red, green, blue, "pc", "Line drawing", kPosition, status);
}

void QG_PS_FILLCOLOUR(float red, float green, float blue, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_FILLCOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  colour_line(red, green, blue, "fc", qg_ps_format.colour ? "Fill area" : "Fill drawing", kPosition, status);
}

void QG_PS_MARKERCOLOUR(float red, float green, float blue, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_MARKERCOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  colour_line(red, green, blue, "mc", "Marker drawing", kPosition, status);
}

void QG_PS_TEXTCOLOUR(float red, float green, float blue, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_TEXTCOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  colour_line(red, green, blue, "tc", "Text drawing", kPosition, status);
}

void QG_PS_MARKERTYPE(int type, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_MARKERTYPE V0.1")) return;
  if (type < 1 || type > 5) {
    st_fail(status, 130021, "Subroutine QG_PS_MARKERTYPE V0.1");
    return;
  }
  write(std::to_string(type) + " mt", status);
}

void QG_PS_MARKERSCALE(float scale, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_MARKERSCALE V0.1")) return;
  if (!(scale > 0.0f)) {
    st_fail(status, 130021, "Subroutine QG_PS_MARKERSCALE V0.1");
    return;
  }
  write(std::to_string(to_int(static_cast<double>(qg_ps_region.unit) * scale / 150.0)) + " ms",
        status);
}

void QG_PS_MARKERWIDTH(float width, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_MARKERWIDTH V0.1")) return;
  if (!(width > 0.0f)) {
    st_fail(status, 130021, "Subroutine QG_PS_MARKERWIDTH V0.1");
    return;
  }
  write(std::to_string(to_int(static_cast<double>(qg_ps_region.unit) * width / 1500.0)) + " mw",
        status);
}

void QG_PS_TEXTFONT(int font, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_TEXTFONT V0.1")) return;
  qg_db_textatts.font = font;
  write(std::to_string(qg_db_textatts.ps_size) + " " + std::to_string(font) + " tf", status);
}

void QG_PS_TEXTHEIGHT(float height, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_TEXTHEIGHT V0.2";
  if (st_bad(status, kPosition)) return;
  if (!(height > 0.0f && height <= 1.0f)) {
    st_fail(status, 130021, kPosition);
    return;
  }
  const int size = to_int(std::round(static_cast<double>(qg_ps_region.unit) * height));
  if (size <= 0) {
    Status local = ST_GOOD();
    IO_WRITE("WARNING: Attempt to set zero or negative height text characters", local);
    return;
  }
  qg_db_textatts.ps_size = size;
  write(std::to_string(size) + " " + std::to_string(qg_db_textatts.font) + " tf", status);
}

void QG_PS_TEXTALIGNMENT(int horizontal, int vertical, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_TEXTALIGNMENT V0.1")) return;
  write(std::to_string(horizontal) + " " + std::to_string(vertical) + " ta", status);
}

void QG_PS_TEXTANGLE(float angle, Status& status) {
  if (st_bad(status, "Subroutine QG_PS_TEXTANGLE V0.1")) return;
  write(std::to_string(to_int(std::round(static_cast<double>(angle)))) + " td", status);
}

// ---- The driver object ----

namespace {

class PsDriver final : public Driver {
 public:
  int category() const override { return kCategoryPostScript; }
  int open(const OpenRequest& request, Status& status) override {
    const bool landscape = request.type == 22 || request.type == 24;
    const bool colour = request.type == 21 || request.type == 22;
    QG_PS_OPEN(request.unit, false, landscape, colour, status);
    return 0;
  }
  void close(Status& /*status*/) override { qg_ps_functions.written = false; }
  int transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                float vy2, Status& status) override {
    QG_PS_TRANSFORM(wx1, wy1, wx2, wy2, vx1, vy1, vx2, vy2, status);
    return 0;
  }
  int clip(bool on, float x1, float y1, float x2, float y2, Status& status) override {
    QG_PS_CLIP(on, x1, y1, x2, y2, status);
    return 0;
  }
  int clear(Status& status) override {
    QG_PS_CLEAR(status);
    return 0;
  }
  int update(Status& status) override {
    QG_PS_UPDATE(status);
    return 0;
  }
  int line_colour(int index, const Rgb& c, Status& status) override {
    if (index < 1) {
      Status local = ST_GOOD();
      IO_WRITE("WARNING: The PostScript driver does not support inverse video", local);
      return 0;
    }
    QG_PS_LINECOLOUR(c.red, c.green, c.blue, status);
    return 0;
  }
  int line_style(int style, Status& status) override {
    QG_PS_LINESTYLE(style, status);
    return 0;
  }
  int line_width(float width, Status& status) override {
    QG_PS_LINEWIDTH(width, status);
    return 0;
  }
  int fill_colour(int, const Rgb& c, Status& status) override {
    QG_PS_FILLCOLOUR(c.red, c.green, c.blue, status);
    return 0;
  }
  int marker_type(int type, Status& status) override {
    QG_PS_MARKERTYPE(type, status);
    return 0;
  }
  int marker_colour(int, const Rgb& c, Status& status) override {
    QG_PS_MARKERCOLOUR(c.red, c.green, c.blue, status);
    return 0;
  }
  int marker_scale(float scale, Status& status) override {
    QG_PS_MARKERSCALE(scale, status);
    return 0;
  }
  int marker_width(float width, Status& status) override {
    QG_PS_MARKERWIDTH(width, status);
    return 0;
  }
  int text_font(int font, Status& status) override {
    QG_PS_TEXTFONT(font, status);
    return 0;
  }
  int text_height(float height, Status& status) override {
    QG_PS_TEXTHEIGHT(height, status);
    return 0;
  }
  int text_colour(int, const Rgb& c, Status& status) override {
    QG_PS_TEXTCOLOUR(c.red, c.green, c.blue, status);
    return 0;
  }
  int text_alignment(int horizontal, int vertical, Status& status) override {
    QG_PS_TEXTALIGNMENT(horizontal, vertical, status);
    return 0;
  }
  int text_angle(float degrees, Status& status) override {
    QG_PS_TEXTANGLE(degrees, status);
    return 0;
  }
  int polyline(std::span<const float> x, std::span<const float> y, Status& status) override {
    QG_PS_PL(static_cast<int>(x.size()), x, y, status);
    return 0;
  }
  int polymarker(std::span<const float> x, std::span<const float> y, Status& status) override {
    QG_PS_PM(static_cast<int>(x.size()), x, y, status);
    return 0;
  }
  int fill_area(std::span<const float> x, std::span<const float> y, Status& status) override {
    QG_PS_FA(static_cast<int>(x.size()), x, y, status);
    return 0;
  }
  int text(float x, float y, std::string_view text, Status& status) override {
    QG_PS_TEXT(x, y, text, status);
    return 0;
  }
  int cell_array(const CellRegion& r, std::span<const int> indices, Status& status) override {
    QG_PS_CA(r.x1, r.y1, r.x2, r.y2, r.xmaxdat, r.ymaxdat, r.xstrelm, r.ystrelm, r.xnum, r.ynum,
             indices, status);
    return 0;
  }
  int real_cell_array(bool masked, const CellRegion& r, std::span<const float> data,
                      std::span<const std::uint8_t> mask, float minimum, float maximum,
                      int mask_colour, bool /*log_scale*/, Status& status) override {
    QG_PS_RMCA(masked, r.x1, r.y1, r.x2, r.y2, r.xmaxdat, r.ymaxdat, r.xstrelm, r.ystrelm, r.xnum,
               r.ynum, data, mask, minimum, maximum, mask_colour, status);
    return 0;
  }
  void raster_geometry(float page_x, float page_y, RasterGeometry& g) override {
    g.device_flag = 0;
    g.scale_size = 950;
    g.width = static_cast<int>(std::lround(page_x * 950.0));
    g.height = static_cast<int>(std::lround(page_y * 950.0));
  }
  int raster_image(const RasterImage& image, Status& status) override {
    const Index nx = image.x2 - image.x1 + 1;
    const Index ny = image.y2 - image.y1 + 1;
    if (!image.top_first) {
      QG_PS_BCA(image.page_x1, image.page_y1, image.page_x2, image.page_y2, image.width,
                image.height, image.x1, image.y1, nx, ny, image.bytes, status);
      return 0;
    }
    // A raster sized for a window holds its top row first: hand over the
    // box bottom row first.
    std::vector<std::uint8_t> box(static_cast<std::size_t>(nx * ny));
    for (Index r = 0; r < ny; ++r) {
      const Index stored = image.y2 - r;  // stored row of the r-th row from the bottom
      std::copy_n(image.bytes.begin() + element(image.x1, stored, image.width), nx,
                  box.begin() + r * nx);
    }
    QG_PS_BCA(image.page_x1, image.page_y1, image.page_x2, image.page_y2, nx, ny, 1, 1, nx, ny,
              box, status);
    return 0;
  }
};

}  // namespace

std::unique_ptr<Driver> qg_make_ps_driver() { return std::make_unique<PsDriver>(); }

}  // namespace kesta
