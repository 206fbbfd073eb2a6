#include "app/diffraction/fibre.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

// Lists larger than this many spots are refused: their two arrays would
// need gigabytes.
constexpr Index kMaxFibreSpots = Index{1} << 25;

struct FibreAnswers {
  // Lengths in inverse Angstroms, angles in degrees.
  std::array<float, 9> cell{0.02606f, 0.03852f, 0.00148f, 88.34f, 90.275f, 2.8891f,
                            0.0f,     74.417f,  -0.24f};
  FibreRanges ranges;
  bool overlay = true;
  bool hardcopy = true;
};

std::array<double, 3> unit_vector(double theta, double phi) {
  return {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
}

// Ten help lines: the common text and LAST naming the value.
std::vector<std::string> cell_help(const std::string& last) {
  return {"The pattern calculated is that of a unit cell",
          "randomly orientated about a single axis (a fibre",
          "pattern). The cell must be entered as the",
          "reciprocal cell; the command UNIT CELL PARAMETERS",
          "converts between real and reciprocal cells.",
          "The orientation of the axes is defined with",
          "respect to the rotation (fibre) axis: THETA is",
          "the angle from the Z-axis (fibre), PHI the angle",
          "from the X-axis (beam) about the fibre axis.",
          last};
}

double angle_between(double th1, double ph1, double th2, double ph2) {
  const double c =
      std::cos(th1) * std::cos(th2) + std::sin(th1) * std::sin(th2) * std::cos(ph1 - ph2);
  return std::acos(std::clamp(c, -1.0, 1.0));
}

FibreCell cell_in_radians(const std::array<float, 9>& v) {
  const float k = kRadiansPerDegree;
  return FibreCell{v[0], v[3] * k, v[6] * k, v[1], v[4] * k, v[7] * k, v[2], v[5] * k, v[8] * k};
}

// The spots alone, or over the current image.
void draw_pattern(bool overlay, const KztDataSets& sets, const GsCurves& curves,
                  Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  if (overlay) {
    GS_2DIMAGE(a.xmaxdat, a.ymaxdat, kzt_image(a.data), kzt_xline(a.xaxis), kzt_yline(a.yaxis),
               a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.title, sets.xlabel, sets.ylabel,
               sets.zlabel, status);
    GS_XYCURVES(curves, status);
  } else {
    GS_XYGRAPH(curves, "Predicted Diffraction Pattern", "X-film", "Y-film", status);
  }
  GS_UPDATE(status);
}

}  // namespace

void KZT_PEAKRZ(const FibreCell& c, int h, int k, int l, float& r, float& z, Status& status) {
  if (st_bad(status, "Subroutine KZT_PEAKRZ V0.1")) return;
  const auto ua = unit_vector(c.theta_a, c.phi_a), ub = unit_vector(c.theta_b, c.phi_b),
             uc = unit_vector(c.theta_c, c.phi_c);
  std::array<double, 3> v{};
  for (std::size_t i = 0; i < 3; ++i)
    v[i] = h * static_cast<double>(c.a_star) * ua[i] + k * static_cast<double>(c.b_star) * ub[i] +
           l * static_cast<double>(c.c_star) * uc[i];
  r = static_cast<float>(std::hypot(v[0], v[1]));
  z = static_cast<float>(v[2]);
}

void KZT_PEAKXY(const FibreDetector& d, const FibreCell& cell, int h, int k, int l, bool second,
                bool& found, float& x, float& y, Status& status) {
  found = false;
  if (st_bad(status, "Subroutine KZT_PEAKXY V0.1")) return;
  float rr = 0.0f, zz = 0.0f;
  KZT_PEAKRZ(cell, h, k, l, rr, zz, status);
  const double r = static_cast<double>(rr) * d.wavelength, z = static_cast<double>(zz) * d.wavelength;
  if (!(z >= -1.0 && z <= 1.0)) return;
  double sx = (2.0 - r * r - z * z) / 2.0;
  if (second) sx = -sx;
  if (!(sx >= -1.0 && sx <= 1.0)) return;
  const double q = 1.0 - z * z - sx * sx;
  // At 90 degrees (sx = 0) the ray runs parallel to the detector.
  if (!(q >= 0.0) || sx == 0.0) return;
  const double sy = std::sqrt(q);
  const double xf = sy / sx * d.sample_distance, yf = z / sx * d.sample_distance;
  const double cr = std::cos(d.detector_rotation), sr = std::sin(d.detector_rotation);
  const double px = (xf * cr + yf * sr) / d.x_pixel_size + d.x_beam_centre;
  const double py = (yf * cr - xf * sr) / d.y_pixel_size + d.y_beam_centre;
  if (!std::isfinite(px) || !std::isfinite(py)) return;
  x = static_cast<float>(px);
  y = static_cast<float>(py);
  found = true;
}

Index kzt_fibre_spot_count(const FibreRanges& r) {
  Index n = 2;
  for (const Index extent : {Index{r.hmax} - r.hmin + 1, Index{r.kmax} - r.kmin + 1,
                             Index{r.lmax} - r.lmin + 1}) {
    if (extent < 1) return 0;
    if (!checked_product(n, extent, n)) return -1;
  }
  return n;
}

void KZT_DIFFRACTION(const FibreDetector& d, const FibreCell& cell, const FibreRanges& r,
                     float x1, float y1, float x2, float y2, Index maxspots, Index& nspots,
                     Index& nequator, std::span<float> x, std::span<float> y, Status& status) {
  constexpr const char* kName = "Subroutine KZT_DIFFRACTION V0.2";
  nspots = 0;
  nequator = 0;
  if (st_bad(status, kName)) return;
  if (maxspots < 1) return st_fail(status, kBaseApp + 1, kName);
  Index needed = 0;
  if (!checked_product(maxspots, 2, needed) || x.size() < static_cast<std::size_t>(needed) ||
      y.size() < static_cast<std::size_t>(needed))
    return st_fail(status, kBaseApp + 1, kName);
  if (!(d.sample_distance > 0.0f) || !(d.x_pixel_size > 0.0f) || !(d.y_pixel_size > 0.0f))
    return;
  const float xlo = std::min(x1, x2), xhi = std::max(x1, x2);
  const float ylo = std::min(y1, y2), yhi = std::max(y1, y2);
  for (int h = r.hmin; h <= r.hmax; ++h)
    for (int k = r.kmin; k <= r.kmax; ++k)
      for (int l = r.lmin; l <= r.lmax; ++l)
        for (const bool second : {false, true}) {
          bool found = false;
          float px = 0.0f, py = 0.0f;
          KZT_PEAKXY(d, cell, h, k, l, second, found, px, py, status);
          if (status != kStatusGood) return;
          if (!found || px < xlo || px > xhi || py < ylo || py > yhi) continue;
          if (nspots < maxspots) {
            x[static_cast<std::size_t>(nspots)] = px;
            y[static_cast<std::size_t>(nspots)] = py;
            ++nspots;
          }
          if (l == 0 && nequator < maxspots) {
            x[static_cast<std::size_t>(maxspots + nequator)] = px;
            y[static_cast<std::size_t>(maxspots + nequator)] = py;
            ++nequator;
          }
        }
}

void KZT_DIFPATTERN(KztDataSets& sets, Status& status) {
  constexpr const char* kName = "Subroutine KZT_DIFPATTERN V0.3";
  if (st_bad(status, kName)) return;
  const KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  FibreDetector d;
  bool known = false;
  float wavelength = kDefaultWavelength, tilt_rotation = 0.0f, tilt_angle = 0.0f;
  d.sample_distance = kDefaultSampleDistance;
  d.x_beam_centre = static_cast<float>(a.xstrelm + a.xendelm) * 0.5f;
  d.y_beam_centre = static_cast<float>(a.ystrelm + a.yendelm) * 0.5f;
  KZT_INQ_GEOMETRY(known, d.x_beam_centre, d.y_beam_centre, d.sample_distance, wavelength,
                   tilt_rotation, tilt_angle, d.detector_rotation, status);
  d.wavelength = wavelength * 1.0e10f;
  d.x_pixel_size = sets.x_pixel_size;
  d.y_pixel_size = sets.y_pixel_size;

  IO_WRITE("", status);
  IO_WRITE("NOTE: The reciprocal cell angles are not defined in a standard", status);
  IO_WRITE("      alpha star, beta star, gamma star fashion.", status);
  IO_WRITE("", status);

  FibreAnswers answers = remembered<FibreAnswers>();
  static const char* const kPrompts[] = {
      "A* (INVERSE ANGSTROMS)", "B* (INVERSE ANGSTROMS)", "C* (INVERSE ANGSTROMS)",
      "THETA A* (degrees)",     "THETA B* (degrees)",     "THETA C* (degrees)",
      "PHI A* (degrees)",       "PHI B* (degrees)",       "PHI C* (degrees)"};
  static const char* const kLast[] = {
      "Size of A star axis in reciprocal space.", "Size of B star axis in reciprocal space.",
      "Size of C star axis in reciprocal space.", "Angle from Z-axis (fibre) to A*",
      "Angle from Z-axis (fibre) to B*",          "Angle from Z-axis (fibre) to C*",
      "Angle from X-axis (beam) to A*",           "Angle from X-axis (beam) to B*",
      "Angle from X-axis (beam) to C*"};
  static const float kLower[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, -360.0f, -360.0f, -360.0f};
  static const float kUpper[] = {100.0f, 100.0f, 1.0f, 180.0f, 180.0f, 180.0f,
                                 360.0f, 360.0f, 360.0f};
  for (std::size_t i = 0; i < 9; ++i) {
    answers.cell[i] = std::clamp(answers.cell[i], kLower[i], kUpper[i]);
    IO_INPR(true, kLower[i], kUpper[i], true, kPrompts[i], cell_help(kLast[i]),
            {"Value must be within given range"}, answers.cell[i], status);
  }
  if (status != kStatusGood) return;
  const FibreCell cell = cell_in_radians(answers.cell);
  const double to_degrees = 180.0 / 3.1415926;
  IO_WRITE("INFO: alpha star = " +
               format_e(angle_between(cell.theta_b, cell.phi_b, cell.theta_c, cell.phi_c) *
                            to_degrees, 12, 5, 1),
           status);
  IO_WRITE("INFO: beta star = " +
               format_e(angle_between(cell.theta_a, cell.phi_a, cell.theta_c, cell.phi_c) *
                            to_degrees, 12, 5, 1),
           status);
  IO_WRITE("INFO: gamma star = " +
               format_e(angle_between(cell.theta_a, cell.phi_a, cell.theta_b, cell.phi_b) *
                            to_degrees, 12, 5, 1),
           status);

  FibreRanges& r = answers.ranges;
  auto ask_range = [&](char index, int& low, int& high) {
    const std::string i(1, index);
    IO_INPI(true, -1000, 1000, true, "MINIMUM " + i + " index",
            {"Lowest index in range of " + i + " indices to calculate"},
            {"Value must be within given range"}, low, status);
    if (status != kStatusGood) return;
    high = std::clamp(high, low, 1000);
    IO_INPI(true, low, 1000, true, "MAXIMUM " + i + " index",
            {"Highest index in range of " + i + " indices to calculate"},
            {"Value must be within given range"}, high, status);
  };
  ask_range('h', r.hmin, r.hmax);
  ask_range('k', r.kmin, r.kmax);
  ask_range('l', r.lmin, r.lmax);
  if (status != kStatusGood) return;
  remembered<FibreAnswers>() = answers;

  const Index maxspots = kzt_fibre_spot_count(r);
  if (maxspots < 1 || maxspots > kMaxFibreSpots) {
    IO_WRITE("WARNING: The index ranges give too many reflections to predict; reduce the ranges",
             status);
    return;
  }
  std::vector<float> x(static_cast<std::size_t>(maxspots) * 2),
      y(static_cast<std::size_t>(maxspots) * 2);
  const std::span<const float> xaxis = kzt_xline(a.xaxis), yaxis = kzt_yline(a.yaxis);
  GS_SET_DDDR(xaxis[static_cast<std::size_t>(a.xstrelm - 1)],
              yaxis[static_cast<std::size_t>(a.ystrelm - 1)],
              xaxis[static_cast<std::size_t>(a.xendelm - 1)],
              yaxis[static_cast<std::size_t>(a.yendelm - 1)], status);
  Index nspots = 0, nequator = 0;
  KZT_DIFFRACTION(d, cell, r, xaxis[static_cast<std::size_t>(a.xstrelm - 1)],
                  yaxis[static_cast<std::size_t>(a.ystrelm - 1)],
                  xaxis[static_cast<std::size_t>(a.xendelm - 1)],
                  yaxis[static_cast<std::size_t>(a.yendelm - 1)], maxspots, nspots, nequator, x,
                  y, status);
  if (status != kStatusGood || nspots < 1) return;

  GS_SET_CURVESTYLE(1, false, true, false, status);
  GS_SET_CURVESTYLE(2, false, true, false, status);
  const std::array<Index, 2> starts{1, 1}, ends{nspots, nequator};
  GsCurves curves;
  curves.maxpts = maxspots;
  curves.maxcurves = 2;
  curves.numcurves = nequator > 0 ? 2 : 1;
  curves.starts = starts;
  curves.ends = ends;
  curves.x = x;
  curves.y = y;
  IO_INPL(false, false, true, true, "OVERLAY PLOT", {"YES for overlay, NO for basic X/Y plot"},
          {"Enter \"YES\" or \"NO\""}, answers.overlay, status);
  if (status != kStatusGood) return;
  draw_pattern(answers.overlay, sets, curves, status);
  IO_INPL(false, false, true, true, "HARDCOPY OUTPUT", {"YES for saving to file, NO for no output"},
          {"Enter \"YES\" or \"NO\""}, answers.hardcopy, status);
  if (status != kStatusGood) return;
  remembered<FibreAnswers>() = answers;
  if (!answers.hardcopy) return;
  // A file already open for PRINT GRAPHICS takes the page and stays open for
  // more, as said; one opened here is finished under its name before it is
  // said to be, as every print but the keyboard's own PRINT GRAPHICS does.
  bool already_open = false;
  GS_INQ_PSFILE(already_open, status);
  bool opened = false;
  GS_ON_PRINT(false, opened, status);
  if (!opened || status != kStatusGood) return;
  draw_pattern(answers.overlay, sets, curves, status);
  GS_OFF_PRINT(status);
  if (already_open)
    gs_say_print_written(status);
  else
    gs_end_graphics_file(status);
}

}  // namespace kesta
