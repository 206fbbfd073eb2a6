#include "app/imageops/inspection.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/slices.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

struct SaturatedAnswers {
  float threshold = 65534.0f;
};

float value_at(const KztDisplayed& d, Index x, Index y) {
  return d.data[static_cast<std::size_t>(element(x, y, d.xmaxdat))];
}

// Mean of the (2 HALF + 1)^2 block about (IX, IY) within 1..XENDELM,
// 1..YENDELM.
double block_mean(const KztDisplayed& d, Index ix, Index iy, Index half) {
  double sum = 0.0;
  Index count = 0;
  for (Index y = std::max<Index>(iy - half, 1); y <= std::min(iy + half, d.yendelm); ++y)
    for (Index x = std::max<Index>(ix - half, 1); x <= std::min(ix + half, d.xendelm); ++x) {
      sum += value_at(d, x, y);
      ++count;
    }
  return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

std::string point_text(float x, float y) {
  return "(" + format_g(x, 12, 5) + "," + format_g(y, 12, 5) + ")";
}
std::string pixel_text(Index ix, Index iy) {
  return "(" + format_i(ix, 5) + "," + format_i(iy, 5) + ")";
}

KztReadoutGeometry readout_geometry(Status& status) {
  KztReadoutGeometry g;
  kzt_inq_geometry(g.known, g.x_beam, g.y_beam, g.distance, g.wavelength, status);
  return g;
}

// NUM points (below 1: one point, or none after a click in the prompt box)
// clicked on the displayed data. False after an escape (STATUS then good)
// or a failure.
bool clicked_points(std::string_view prompt, TextLines help, int num_wanted, int& num,
                    std::span<float> x, std::span<float> y, Status& status) {
  const GsRect& g = gs_state.gui_region;
  const int max = std::max(num_wanted, 1);
  num = num_wanted;
  GS_INP_COORDINATES(g.xmin, g.ymin, g.xmax, g.ymax, prompt, static_cast<int>(help.size()),
                     help.view(), false, max, num, x, y, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  return status == kStatusGood;
}

// Data coordinates to pixel coordinates over the axes up to the region's end.
void to_pixels(const KztDisplayed& d, float x, float y, float& px, float& py, Status& status) {
  MA_DC2PIXC(d.xmaxdat, d.xendelm, d.xaxis, x, px, status);
  MA_DC2PIXC(d.ymaxdat, d.yendelm, d.yaxis, y, py, status);
}

// The memory descriptors of a stored profile of NUMBER points; the profile's
// square-root errors become variances.
void finish_profile(std::string_view kind, const KztDisplayed& d, Index number,
                    bool errors_are_roots, KztMemoryProfile& memory) {
  if (d.variances_exist && errors_are_roots)
    for (Index i = 0; i < number; ++i) {
      float& v = memory.mvariances[static_cast<std::size_t>(i)];
      v *= v;
    }
  memory.extent = KztMemoryExtent{number, 1, 1, 1, number, 1};
  memory.mtitle = (std::string(kind) + std::string(d.title)).substr(0, kKztTextLength);
  memory.mxlabel = "Pixels";
  memory.mylabel = "Not defined";
  memory.mzlabel = std::string(d.zlabel);
  memory.mx_pixel_size = d.x_pixel_size;
  memory.my_pixel_size = d.y_pixel_size;
}

std::span<float> errors_of(const KztDisplayed& d, KztMemoryProfile& memory) {
  return d.variances_exist ? memory.mvariances : std::span<float>{};
}

// Only the dimensions are checked for the profiles (codes 1, 2).
bool dimensions_refused(std::string_view position, const KztDisplayed& d, Status& status) {
  if (st_bad(status, position)) return true;
  if (d.xmaxdat < 1) return st_fail(status, kBaseApp + 1, position), true;
  if (d.ymaxdat < 1) return st_fail(status, kBaseApp + 2, position), true;
  return false;
}

bool region_refused(std::string_view position, const KztDisplayed& d, Status& status) {
  return kzt_region_refused(position, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
                            d.yendelm, status, {d.data.size()});
}

void plot(const KztDisplayed& d, Status& status) {
  GS_PLOT(d.xmaxdat, d.ymaxdat, d.data, d.xaxis, d.yaxis, d.xstrelm, d.ystrelm, d.xendelm,
          d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel, status);
  GS_UPDATE(status);
}

// The read-out loop of PEEP and PIXEL (X/Y): SHOW receives each click's lines.
template <typename Show>
void readout_loop(const KztDisplayed& d, TextLines help, Show show, Status& status) {
  const KztReadoutGeometry geometry = readout_geometry(status);
  while (status == kStatusGood) {
    std::array<float, 1> x{}, y{};
    int num = 0;
    if (!clicked_points("CLICK ON IMAGE PIXEL", help.view(), 0, num, x, y, status) || num < 1)
      return;
    float px = 0.0f, py = 0.0f;
    to_pixels(d, x[0], y[0], px, py, status);
    if (status != kStatusGood) return;
    show(kzt_pixel_lines(d, x[0], y[0], px, py, geometry));
  }
}

}  // namespace

KztDisplayed kzt_displayed(const KztDataSets& sets) {
  const KztArrays& a = vosq_kzt_arrays;
  KztDisplayed d;
  d.xmaxdat = a.xmaxdat;
  d.ymaxdat = a.ymaxdat;
  d.xnumdat = a.xnumdat;
  d.ynumdat = a.ynumdat;
  d.xstrelm = a.xstrelm;
  d.ystrelm = a.ystrelm;
  d.xendelm = a.xendelm;
  d.yendelm = a.yendelm;
  d.xaxis = kzt_xline(a.xaxis);
  d.yaxis = kzt_yline(a.yaxis);
  d.data = kzt_image(a.data);
  d.variances = kzt_image(a.variances);
  d.variances_exist = sets.variances_exist && a.variances != nullptr;
  d.title = sets.title;
  d.xlabel = sets.xlabel;
  d.ylabel = sets.ylabel;
  d.zlabel = sets.zlabel;
  d.x_pixel_size = sets.x_pixel_size;
  d.y_pixel_size = sets.y_pixel_size;
  d.data_defined = sets.data_defined;
  return d;
}

KztMemoryProfile kzt_memory_profile() {
  const KztArrays& a = vosq_kzt_arrays;
  KztMemoryProfile m;
  m.mxaxis = kzt_xline(a.mxaxis);
  m.mdata = kzt_image(a.mdata);
  m.mvariances = kzt_image(a.mvariances);
  return m;
}

void kzt_store_profile(const KztMemoryProfile& profile, KztDataSets& sets) {
  if (!profile.extent.written()) return;
  sets.mxnumdat = profile.extent.xnumdat;
  sets.mynumdat = profile.extent.ynumdat;
  sets.mxstrelm = profile.extent.xstrelm;
  sets.mystrelm = profile.extent.ystrelm;
  sets.mxendelm = profile.extent.xendelm;
  sets.myendelm = profile.extent.yendelm;
  sets.mtitle = profile.mtitle;
  sets.mxlabel = profile.mxlabel;
  sets.mylabel = profile.mylabel;
  sets.mzlabel = profile.mzlabel;
  sets.mx_pixel_size = profile.mx_pixel_size;
  sets.my_pixel_size = profile.my_pixel_size;
  sets.memory_defined = true;
}

Index kzt_clicked_pixel(float p, Index first, Index last) {
  const double index = std::floor(static_cast<double>(p)) + 1.0;
  if (!(index >= static_cast<double>(first))) return first;  // also NaN
  if (index > static_cast<double>(last)) return last;
  return static_cast<Index>(index);
}

std::vector<std::string> kzt_pixel_lines(const KztDisplayed& d, float x, float y, float px,
                                         float py, const KztReadoutGeometry& geometry) {
  const Index ix = kzt_clicked_pixel(px, d.xstrelm, d.xendelm);
  const Index iy = kzt_clicked_pixel(py, d.ystrelm, d.yendelm);
  std::vector<std::string> lines{
      "Data coordinate = " + point_text(x, y), "Pixel = " + pixel_text(ix, iy),
      "Pixel intensity = " + format_g(value_at(d, ix, iy), 12, 5),
      "Average 3*3 intensity = " + format_g(block_mean(d, ix, iy, 1), 12, 5),
      "Average 5*5 intensity = " + format_g(block_mean(d, ix, iy, 2), 12, 5)};
  if (!geometry.known) return lines;
  // The beam centre is in pixel coordinates, so the radius is too.
  const double r = std::hypot((static_cast<double>(px) - geometry.x_beam) * d.x_pixel_size,
                              (static_cast<double>(py) - geometry.y_beam) * d.y_pixel_size);
  const double two_theta = std::atan2(r, static_cast<double>(geometry.distance));
  const double s = std::sin(two_theta / 2.0);
  if (!(s > 0.0)) return lines;  // the beam centre itself has no d-spacing
  const double spacing = geometry.wavelength / (2.0 * s) * 1.0e10;
  for (int order = 1; order <= 3; ++order)
    lines.push_back("d spacing (order = " + std::to_string(order) +
                    ") = " + format_g(order * spacing, 10, 5) + " Angstroms");
  return lines;
}

std::vector<std::string> kzt_numbers_lines(const KztDisplayed& d, float x, float y, Index ix,
                                           Index iy) {
  std::vector<std::string> lines{"INFO: Data coordinate = " + point_text(x, y),
                                 "      Pixel = " + pixel_text(ix, iy)};
  auto inside = [&](Index px, Index py) {
    return px >= d.xstrelm && px <= d.xendelm && py >= d.ystrelm && py <= d.yendelm;
  };
  float minimum = 0.0f, maximum = 0.0f;
  bool any = false;
  for (Index py = iy - 5; py <= iy + 5; ++py)
    for (Index px = ix - 5; px <= ix + 5; ++px) {
      if (!inside(px, py)) continue;
      const float v = value_at(d, px, py);
      minimum = any ? std::min(minimum, v) : v;
      maximum = any ? std::max(maximum, v) : v;
      any = true;
    }
  const bool integers = maximum <= 999999.0f && minimum > -99999.0f && maximum - minimum > 1.0f;
  const std::string dot = "      .";
  for (Index py = iy + 5; py >= iy - 5; --py) {
    std::string first, second;
    for (Index px = ix - 5; px <= ix + 5; ++px) {
      if (!inside(px, py)) {
        first += dot;
        second += dot;
      } else if (integers) {
        first += format_i(std::lround(value_at(d, px, py)), 7);
      } else {
        const std::string e = format_e(value_at(d, px, py), 10, 3, 1);
        first += " " + e.substr(0, 6);
        second += "   " + e.substr(6);
      }
    }
    lines.push_back(first);
    lines.push_back(integers ? std::string(" ") : second);
  }
  if (integers) lines.pop_back();
  return lines;
}

std::vector<std::string> kzt_distance_lines(float px1, float py1, float px2, float py2,
                                            float x_pixel_size, float y_pixel_size) {
  const double dx = static_cast<double>(px2) - px1;
  const double dy = static_cast<double>(py2) - py1;
  const double metres = std::hypot(dx * x_pixel_size, dy * y_pixel_size);
  return {"INFO: Distance between coordinates = " + format_f(std::hypot(dx, dy), 9, 2) + " pixels",
          "INFO: Distance between coordinates = " + format_g(metres * 1000.0, 14, 7) +
              " millimetres",
          ""};
}

bool kzt_slice_profile(const KztDisplayed& d, float px1, float py1, float px2, float py2,
                       KztMemoryProfile& memory, Status& status) {
  if (st_bad(status, "Subroutine KZT_SLICE V0.7")) return false;
  int truncated = 0;
  Index number = 0;
  MA_SLICE(d.xmaxdat, d.ymaxdat, d.xnumdat, d.ynumdat, d.data, d.variances, px1, py1, px2, py2,
           false, d.variances_exist, d.xmaxdat, truncated, number, memory.mxaxis, memory.mdata,
           errors_of(d, memory), status);
  if (status != kStatusGood || number < 1) return false;
  finish_profile("1-D Slice: ", d, number, true, memory);
  return true;
}

bool kzt_arc_profile(const KztDisplayed& d, std::span<const float, 3> px,
                     std::span<const float, 3> py, KztMemoryProfile& memory, Status& status) {
  if (st_bad(status, "Subroutine KZT_ARCSLICE V0.8")) return false;
  int result = 0;
  float xc = 0.0f, yc = 0.0f, radius = 0.0f;
  MA_CAL_CIRCENTRE(px[0], py[0], px[1], py[1], px[2], py[2], result, xc, yc, radius, status);
  if (status != kStatusGood) return false;
  if (result != 0) {
    IO_WRITE("WARNING: Arc centre cannot be calculated", status);
    return false;
  }
  int truncated = 0;
  Index number = 0;
  MA_ARCSLICE(d.xmaxdat, d.ymaxdat, d.xnumdat, d.ynumdat, d.data, d.variances, px[0], py[0],
              px[1], py[1], px[2], py[2], xc, yc, false, d.variances_exist, d.xmaxdat, truncated,
              number, memory.mxaxis, memory.mdata, errors_of(d, memory), status);
  if (status != kStatusGood || number < 1) return false;
  finish_profile("Arc Slice: ", d, number, true, memory);
  return true;
}

void kzt_projection_profile(const KztDisplayed& d, std::span<const float> xvertices,
                            std::span<const float> yvertices, KztMemoryProfile& memory,
                            Status& status) {
  if (st_bad(status, "Subroutine KZT_PROJECTION V0.7")) return;
  // Projected aside first: a strip that holds no pixel centre, or none of a
  // finite value, gives a profile of zeros, which must not replace what the
  // memory holds.
  const auto n = static_cast<std::size_t>(std::max<Index>(d.xmaxdat, 0));
  std::vector<float> positions(n, 0.0f), profile(n, 0.0f), weights(n, 0.0f);
  std::vector<float> sums(d.variances_exist ? n : 0, 0.0f);
  int truncated = 0;
  Index number = 0;
  StripPixels pixels;
  ma_strip_projection(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.data,
                      d.variances, {}, d.x_pixel_size, d.y_pixel_size, xvertices, yvertices,
                      false, d.variances_exist, (d.x_pixel_size + d.y_pixel_size) / 2.0f,
                      d.xmaxdat, truncated, number, positions, profile, sums, weights, pixels,
                      status);
  if (status != kStatusGood || number < 1) return;
  const auto bins = static_cast<std::size_t>(std::min<Index>(number, d.xmaxdat));
  if (std::none_of(weights.begin(), weights.begin() + static_cast<std::ptrdiff_t>(bins),
                   [](float w) { return w > 0.0f; })) {
    gs_refusal({pixels.used < pixels.inside
                    ? "The strip holds no pixel of a finite value: the memory is unchanged"
                    : "The strip holds no pixel centre: the memory is unchanged"},
               status);
    return;
  }
  std::copy_n(positions.begin(), bins, memory.mxaxis.begin());
  std::copy_n(profile.begin(), bins, memory.mdata.begin());
  std::span<float> variances = errors_of(d, memory);
  if (!variances.empty()) {
    std::fill_n(variances.begin(), std::min(n, variances.size()), 0.0f);
    for (std::size_t b = 0; b < bins && b < variances.size(); ++b) {
      const double w = weights[b];
      const double mean = profile[b];
      const double v = w > 0.0 ? sums[b] / w - mean * mean : 0.0;
      variances[b] = static_cast<float>(std::max(v, 0.0));
    }
  }
  finish_profile("1-D Projection: ", d, number, false, memory);
}

void KZT_PEEP(const KztDisplayed& d, Status& status) {
  if (region_refused("Subroutine KZT_PEEP V0.8", d, status)) return;
  plot(d, status);
  readout_loop(
      d, {"Click on pixel of interest"},
      [&status](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) IO_WRITE(line, status);
      },
      status);
}

void KZT_PIXELXY(const KztDisplayed& d, Status& status) {
  if (region_refused("Subroutine KZT_PIXELXY V0.10", d, status)) return;
  float mx1 = 0.0f, my1 = 0.0f, mx2 = 0.0f, my2 = 0.0f;
  GS_INQ_MESSAGE(mx1, my1, mx2, my2, status);
  const GsRect g = gs_state.gui_region;
  readout_loop(
      d,
      {"Click on coordinate to obtain information",
       "on position and intensity. If the experimental",
       "geometry has been defined, d-spacing information", "will also be output."},
      [&](const std::vector<std::string>& lines) {
        GS_SET_MESSAGE(g.xmin, g.ymin, g.xmax, g.ymax, status);
        const int num = static_cast<int>(lines.size());
        GS_MESSAGE(num, num, lines, status);
        Status local = kStatusGood;
        GS_SET_MESSAGE(mx1, my1, mx2, my2, local);
      },
      status);
  if (status == kStatusEscape) st_reset(status);
}

void KZT_NUMBERS(const KztDisplayed& d, Status& status) {
  if (region_refused("Subroutine KZT_NUMBERS V0.5", d, status)) return;
  while (status == kStatusGood) {
    std::array<float, 1> x{}, y{};
    int num = 0;
    if (!clicked_points("CLICK ON IMAGE PIXEL",
                        {"Click on centre of region, for which intensity",
                         "values are to be output. The intensity information",
                         "of the 11 * 11 region centred on the clicked",
                         "pixel will be output in the terminal window.",
                         "When finished click in the text prompt box."},
                        0, num, x, y, status) ||
        num < 1)
      return;
    float px = 0.0f, py = 0.0f;
    to_pixels(d, x[0], y[0], px, py, status);
    if (status != kStatusGood) return;
    const Index ix = kzt_clicked_pixel(px, d.xstrelm, d.xendelm);
    const Index iy = kzt_clicked_pixel(py, d.ystrelm, d.yendelm);
    for (const std::string& line : kzt_numbers_lines(d, x[0], y[0], ix, iy)) IO_WRITE(line, status);
  }
}

void KZT_DISTANCE(const KztDisplayed& d, Status& status) {
  if (region_refused("Subroutine KZT_DISTANCE V0.1", d, status)) return;
  std::array<float, 2> x{}, y{};
  int num = 0;
  if (!clicked_points("ENTER POINTS FOR DISTANCE CALCULATION", {"Click on 2 X/Y coordinates"}, 2,
                      num, x, y, status) ||
      num < 2)
    return;
  std::array<float, 2> px{}, py{};
  for (std::size_t k = 0; k < 2; ++k) to_pixels(d, x[k], y[k], px[k], py[k], status);
  if (status != kStatusGood) return;
  for (const std::string& line :
       kzt_distance_lines(px[0], py[0], px[1], py[1], d.x_pixel_size, d.y_pixel_size))
    IO_WRITE(line, status);
}

void KZT_SATURATED(const KztDisplayed& d, Status& status) {
  if (region_refused("Subroutine KZT_SATURATED V0.3", d, status)) return;
  float mx1 = 0.0f, my1 = 0.0f, mx2 = 0.0f, my2 = 0.0f;
  GS_INQ_MESSAGE(mx1, my1, mx2, my2, status);
  const GsRect g = gs_state.gui_region;
  GS_SET_MESSAGE(g.xmin, g.ymin, g.xmax, g.ymax, status);
  SaturatedAnswers answers = remembered<SaturatedAnswers>();
  GS_INPR(false, 0.0f, 0.0f, true, "THRESHOLD VALUE (INCLUSIVE)",
          {"Enter threshold value for counts pixels"}, {"Enter valid real"}, answers.threshold,
          status);
  if (status == kStatusGood) {
    remembered<SaturatedAnswers>() = answers;
    Index count = 0;
    MA_SATURATED(d.xmaxdat, d.ymaxdat, d.data, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm,
                 answers.threshold, count, status);
    const std::string line =
        "INFO: Number of pixels equal and above threshold value = " + format_i(count, 12);
    GS_MESSAGE(1, 1, {line}, status);
    IO_WRITE(line, status);
  }
  Status local = kStatusGood;
  GS_SET_MESSAGE(mx1, my1, mx2, my2, local);
}

void kzt_show_profile(const KztMemoryProfile& memory, bool variances_exist, Status& status) {
  if (st_bad(status, "Subroutine KZT_SHOW_PROFILE V0.1") || !memory.extent.written()) return;
  const Index n = memory.extent.xnumdat;
  const auto size = static_cast<std::size_t>(n);
  std::vector<float> errors;
  if (variances_exist) {
    errors.resize(size);
    for (std::size_t i = 0; i < size; ++i) errors[i] = std::sqrt(std::max(memory.mvariances[i], 0.0f));
  }
  GS_SET_ERRORBARS(false, variances_exist, status);
  const std::array<Index, 1> starts{1}, ends{n};
  GsCurves curves;
  curves.maxpts = n;
  curves.maxcurves = 1;
  curves.numcurves = 1;
  curves.starts = starts;
  curves.ends = ends;
  curves.x = memory.mxaxis.first(size);
  curves.y = memory.mdata.first(size);
  curves.ylow = errors;
  curves.yhigh = errors;
  GS_INT_XYEGRAPH(curves, memory.mtitle, memory.mxlabel, memory.mzlabel, status);
}

void KZT_SLICE(const KztDisplayed& d, KztMemoryProfile& memory, Status& status) {
  if (dimensions_refused("Subroutine KZT_SLICE V0.7", d, status)) return;
  std::array<float, 2> x{}, y{};
  int num = 0;
  if (!clicked_points("ENTER ENDS OF SLICE (TWO COORDINATES)",
                      {"Click on 2 X/Y coordinates, to define slice"}, 2, num, x, y, status) ||
      num < 2)
    return;
  std::array<float, 2> px{}, py{};
  for (std::size_t k = 0; k < 2; ++k) to_pixels(d, x[k], y[k], px[k], py[k], status);
  // The memory may hold an earlier profile: only one made now is said.
  if (!kzt_slice_profile(d, px[0], py[0], px[1], py[1], memory, status) || status != kStatusGood)
    return;
  IO_WRITE("INFO: The \"Slice\" is stored in the memory", status);
  kzt_show_profile(memory, d.variances_exist, status);
}

void KZT_ARCSLICE(const KztDisplayed& d, KztMemoryProfile& memory, Status& status) {
  if (dimensions_refused("Subroutine KZT_ARCSLICE V0.8", d, status)) return;
  std::array<float, 3> x{}, y{};
  int num = 0;
  if (!clicked_points("ENTER ARC THREE COORDINATES (START, MIDDLE, END)",
                      {"In order to define an arc, three coordinates must",
                       "be input in the following order: starting point,",
                       "a point on the arc, and the end point. Note that",
                       "changing the order of the first and third point",
                       "will result in the 1-D slice being the opposite", "way round."},
                      3, num, x, y, status) ||
      num < 3)
    return;
  std::array<float, 3> px{}, py{};
  for (std::size_t k = 0; k < 3; ++k) to_pixels(d, x[k], y[k], px[k], py[k], status);
  // The memory may hold an earlier profile: only one made now is said.
  if (!kzt_arc_profile(d, px, py, memory, status) || status != kStatusGood) return;
  IO_WRITE("INFO: The \"Arc-Slice\" is stored in the memory", status);
  kzt_show_profile(memory, d.variances_exist, status);
}

void KZT_PROJECTION(const KztDisplayed& d, KztMemoryProfile& memory, Status& status) {
  if (dimensions_refused("Subroutine KZT_PROJECTION V0.7", d, status)) return;
  // A scan has no strip to project: its projection would be zeros.
  if (kzt_scan_refused(true, d.ynumdat, "PROJECTION", status)) return;
  std::array<float, 5> xv{}, yv{};
  if (!kzt_upcall(imageops_upcalls.inp_projection, "PROJECTION", status, true, false, 0.0f, 0.0f,
                  d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.xaxis,
                  d.yaxis, d.data, std::span<const std::uint8_t>{}, d.title, d.xlabel, d.ylabel,
                  d.zlabel, std::span<float>(xv), std::span<float>(yv)))
    return;
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  GS_FPROMPT(1, 1, {"CALCULATING PROJECTION (this may take a while)"}, status);
  GS_UPDATE(status);
  kzt_projection_profile(d, xv, yv, memory, status);
  if (status != kStatusGood || !memory.extent.written()) return;
  IO_WRITE("INFO: The \"Projection\" is stored in the memory", status);
  kzt_show_profile(memory, d.variances_exist, status);
}

void kzt_command_peep(KztDataSets& sets, std::string&, Status& status) {
  KZT_PEEP(kzt_displayed(sets), status);
}

}  // namespace kesta
