#include "app/diffraction/powder.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate.hpp"
#include "app/distortion/correction_common.hpp"
#include "app/distortion/spline.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/kzt_common.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "formats/scan_formats.hpp"
#include "numeric/slices.hpp"

namespace kesta {

namespace {

// The widest 2-theta bin, or outer edge, a scan takes: short of 90 degrees,
// where the outer radius on the detector becomes infinite.
constexpr float kLargestAngularStep = 89.9f;

float offered(float value, float lower, float upper) {
  if (!(value >= lower)) return lower;
  return value > upper ? upper : value;
}

const std::string kEqualAngleHelp[] = {
    "YES: to produce a scan in equal angle pixels (2-theta), NO: to produce",
    "a scan in equal radial distance pixels on an orthogonal detector. The",
    "two are not the same: equal angle pixels are not equal radial distance",
    "pixels, and vice versa.",
    "If the scan is for a Rietveld refinement program which needs equal",
    "angle steps, the answer must be YES.",
    "Otherwise equal radial distance re-binning is preferable, as it keeps",
    "the sampling of the detector.",
    ""};

void write_geometry_lines(const PowderSettings& g, float xps, float yps, Status& status) {
  IO_WRITE("INFO: The current pixel coordinates for the beam centre = " +
               format_f(g.x_beam_centre, 10, 3) + format_f(g.y_beam_centre, 10, 3),
           status);
  IO_WRITE("INFO: The current pixel sizes (microns) = " + format_f(xps * 1.0e6, 10, 3) +
               format_f(yps * 1.0e6, 10, 3),
           status);
  IO_WRITE("INFO: The current sample to detector distance (millimetres) = " +
               format_f(g.sample_distance * 1000.0, 10, 3),
           status);
  IO_WRITE("INFO: The rotation angle of the tilt plane = " +
               format_f(g.tilt_rotation * kDegreesPerRadian, 8, 3),
           status);
  IO_WRITE("INFO: The tilt angle of the detector = " +
               format_f(g.tilt_angle * kDegreesPerRadian, 8, 3),
           status);
}

// Asks whether to change the geometry and, on YES, the beam centre, pixel
// sizes, distance and tilt into TYPED, XPS and YPS (CHANGE is the answer).
void ask_geometry_change(bool& change, PowderSettings& typed, float& xps, float& yps,
                         Status& status) {
  IO_INPL(false, false, false, true, "CHANGE BEAM CENTRE AND/OR TILT VALUES",
          {"YES: to specific new values for parameters"}, {"Enter YES or NO"}, change, status);
  if (status != kStatusGood || !change) return;
  KZT_INP_BEAMCENTRE(false, typed.x_beam_centre, typed.y_beam_centre, status);
  KZT_INP_PIXELSIZES(false, xps, yps, status);
  KZT_INP_SAMPLEDISTANCE(false, typed.sample_distance, status);
  KZT_INP_DETECTORTILT(false, typed.tilt_rotation, typed.tilt_angle, status);
}

void define_scan_memory(KztDataSets& sets, Index num, const std::string& title_tail,
                        const std::string& xlabel) {
  sets.mxnumdat = num;
  sets.mynumdat = 1;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = num;
  sets.myendelm = 1;
  sets.mtitle = sets.title + title_tail;
  if (sets.mtitle.size() > kKztTextLength) sets.mtitle.resize(kKztTextLength);
  sets.mxlabel = xlabel;
  sets.memory_defined = true;
}

// The active region as re-binned (the spline's valid region may cut it).
struct Region {
  Index xs, ys, xe, ye;
};

// The offsets from the beam centre of pixel (i, j), moved by the
// displacements when there are any.
struct PixelPositions {
  const DiffractionGeometry& g;
  std::span<const float> dx, dy;
  Index xmaxdat;
  double xps, yps;
  void at(Index i, Index j, double& x, double& y) const {
    x = g.x_offset(i);
    y = g.y_offset(j);
    if (dx.empty()) return;
    const auto e = static_cast<std::size_t>(element(i, j, xmaxdat));
    x += dx[e] * xps;
    y += dy[e] * yps;
  }
};

// The largest radius of an unmasked pixel of finite value of the region on
// the equivalent untilted detector (pixels behind the sample plane have
// none); below 0 when no pixel counts.
double largest_radius(const PixelPositions& p, const Region& r, std::span<const float> data,
                      std::span<const std::uint8_t> mask) {
  double largest = -1.0, x = 0.0, y = 0.0;
  for (Index j = r.ys; j <= r.ye; ++j)
    for (Index i = r.xs; i <= r.xe; ++i) {
      const auto e = static_cast<std::size_t>(element(i, j, p.xmaxdat));
      if ((!mask.empty() && mask[e] != 0) || !std::isfinite(data[e])) continue;
      p.at(i, j, x, y);
      largest = std::max(largest, std::max(p.g.radius(x, y), 0.0));
    }
  return largest;
}

// A scan made aside from the memory: NUM bins of intensity, variances (when
// the data have them) and summed pixel fractions.
struct Scan {
  Index num = 0;
  float radial_step = 0.0f;
  std::vector<float> profile, variances, counts;
};

// The scan of REGION into SCAN: bins of STEP from 0 up to the one reached
// by the farthest footprint of a counted pixel (at most MAXBINS, and short
// of 90 degrees), the pixel fractions per bin in COUNTS and the variances as
// the spread of the contributing values. Each pixel is binned at its centre
// moved by X_SHIFT, Y_SHIFT when given. SCAN.NUM stays 0 when no pixel
// counts or none reaches a bin.
void KZT_TILTRADIAL(KztDataSets& sets, const PowderSettings& g, float xps, float yps,
                    bool angular, float step, const Region& region,
                    std::span<const float> x_shift, std::span<const float> y_shift, Scan& scan,
                    Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  scan = Scan{};
  const float mean_pixel = (xps + yps) * 0.5f;
  const Index maxbins = a.xmaxdat;
  const DiffractionGeometry geometry(xps, yps, g.sample_distance, g.wavelength, g.x_beam_centre,
                                     g.y_beam_centre, g.tilt_rotation, g.tilt_angle);
  const PixelPositions positions{geometry, x_shift, y_shift, a.xmaxdat, xps, yps};
  const std::span<const float> data = kzt_image(a.data);
  const std::span<const std::uint8_t> mask = kzt_mask();
  const double largest = largest_radius(positions, region, data, mask);
  if (largest < 0.0) return;
  // The bin holding the outer edge of the farthest footprint.
  const double reach = largest + std::sqrt(0.3183099) * mean_pixel;
  const double extent = angular ? std::atan2(reach, static_cast<double>(g.sample_distance)) : reach;
  Index bins = std::clamp<Index>(static_cast<Index>(std::min(extent / step, 4.0e18)) + 1, 1,
                                 maxbins);
  if (angular)
    bins = std::clamp<Index>(bins, 1, std::max<Index>(1, static_cast<Index>(1.5 / step)));
  const float outer = angular ? g.sample_distance * std::tan(static_cast<float>(bins) * step)
                              : static_cast<float>(bins) * step;
  const auto size = static_cast<std::size_t>(bins);
  std::vector<float> counts(size, 0.0f), profile(size, 0.0f), variances;
  float azimuth_step = 0.0f, radial_start = 0.0f, radial_step = 0.0f;
  const int type = angular ? kScanTwoTheta : kScanRadial;
  // Sums of the squared corrected values for the variances, through the same
  // table: the engine divides by the polarisation factor once, so it is
  // given DATA^2 / p to sum (DATA / p)^2.
  const bool wanted = sets.variances_exist && !kzt_image(a.mvariances).empty();
  if (wanted) {
    // Made over the region only, which is all the engine reads.
    const KztWorkImage work(a.xmaxdat, a.ymaxdat);
    const std::span<float> squares = work.pixels();
    std::vector<float> scratch(size);
    variances.assign(size, 0.0f);
    const double dd = static_cast<double>(g.sample_distance) * g.sample_distance;
    double x = 0.0, y = 0.0;
    for (Index j = region.ys; j <= region.ye; ++j)
      for (Index i = region.xs; i <= region.xe; ++i) {
        positions.at(i, j, x, y);
        const double r = geometry.radius(x, y);
        const double p = g.correct_polarisation && r >= 0.0
                             ? polarisation_factor(dd / (r * r + dd),
                                                   DiffractionGeometry::cos_twice_azimuth(x, y),
                                                   g.polarisation)
                             : 1.0;
        const auto e = static_cast<std::size_t>(element(i, j, a.xmaxdat));
        squares[e] = static_cast<float>(static_cast<double>(data[e]) * data[e] / p);
      }
    Status local = kStatusGood;
    KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, region.xs, region.ys, region.xe, region.ye, squares,
                  mask, true, type, 20.0f, xps, yps, g.sample_distance, g.wavelength,
                  g.x_beam_centre, g.y_beam_centre, 0.0f, 360.0f, 0.0f, outer, g.tilt_rotation,
                  g.tilt_angle, bins, 1, g.correct_polarisation, g.polarisation, 0, bins, 1, bins,
                  1, azimuth_step, radial_step, radial_start, scratch, variances, local, x_shift,
                  y_shift);
    if (local != kStatusGood) {
      status = local;
      return;
    }
  }
  KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, region.xs, region.ys, region.xe, region.ye, data, mask,
                false, type, 20.0f, xps, yps, g.sample_distance, g.wavelength, g.x_beam_centre,
                g.y_beam_centre, 0.0f, 360.0f, 0.0f, outer, g.tilt_rotation, g.tilt_angle, bins, 1,
                g.correct_polarisation, g.polarisation, 0, bins, 1, bins, 1, azimuth_step,
                radial_step, radial_start, counts, profile, status, x_shift, y_shift);
  if (status != kStatusGood) return;
  if (std::none_of(counts.begin(), counts.end(), [](float c) { return c > 0.0f; })) return;
  // The spread of the contributing values; a bin of less than one pixel
  // reports its mean.
  for (std::size_t i = 0; i < variances.size(); ++i) {
    const double n = counts[i];
    if (n > 1.0)
      variances[i] = static_cast<float>(
          std::max(0.0, (variances[i] - static_cast<double>(profile[i]) * profile[i] * n) /
                            (n - 1.0)));
    else
      variances[i] = n > 0.01 ? profile[i] : 0.0f;
  }
  scan.num = bins;
  scan.radial_step = radial_step;
  scan.profile = std::move(profile);
  scan.variances = std::move(variances);
  scan.counts = std::move(counts);
}

// The X and Y distortions (pixels) at the pixel centres of REGION into
// X_SHIFT and Y_SHIFT, Y_ROWS rows at a time, then the scan at the
// corrected positions.
void KZT_CORR2_RADIAL(KztDataSets& sets, const PowderSettings& g, float xps, float yps,
                      bool angular, float step, const Region& region, const SplineSet& spline,
                      Index y_rows, Scan& scan, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  IO_WRITE("INFO: Starting to re-bin 2-D data to a 1-D profile, with correction", status);
  IO_WRITE("      for spatial distortion, this can take some time for large arrays.", status);
  double start = 0.0, end = 0.0, cpu = 0.0;
  IO_TIMES(start, cpu, status);
  const Index width = region.xe - region.xs + 1;
  // The shifts, of the arrays' shape, are made over the region only, which is
  // all the scan reads.
  std::optional<KztWorkImage> x_work, y_work;
  std::vector<float> dx, dy;
  try {
    x_work.emplace(a.xmaxdat, a.ymaxdat);
    y_work.emplace(a.xmaxdat, a.ymaxdat);
    dx.resize(static_cast<std::size_t>(width * y_rows));
    dy.resize(dx.size());
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, "Subroutine KZT_CORR2_RADIAL V0.1");
  }
  const std::span<float> x_shift = x_work->pixels(), y_shift = y_work->pixels();
  const std::span<const float> xaxis = kzt_xline(a.xaxis), yaxis = kzt_yline(a.yaxis);
  const std::span<const float> columns = xaxis.subspan(static_cast<std::size_t>(region.xs - 1),
                                                       static_cast<std::size_t>(width));
  SplineGrid grid;
  for (Index j0 = region.ys; j0 <= region.ye && status == kStatusGood; j0 += y_rows) {
    const Index rows = std::min(y_rows, region.ye - j0 + 1);
    const std::span<const float> block_rows =
        yaxis.subspan(static_cast<std::size_t>(j0 - 1), static_cast<std::size_t>(rows));
    const auto cells = static_cast<std::size_t>(width * rows);
    grid.evaluate(spline.x, columns, block_rows, std::span(dx).first(cells), status);
    grid.evaluate(spline.y, columns, block_rows, std::span(dy).first(cells), status);
    for (Index r = 0; r < rows; ++r) {
      const auto to = static_cast<std::size_t>(element(region.xs, j0 + r, a.xmaxdat));
      const auto from = static_cast<std::size_t>(r * width);
      std::copy_n(dx.begin() + from, width, x_shift.begin() + to);
      std::copy_n(dy.begin() + from, width, y_shift.begin() + to);
    }
  }
  if (status != kStatusGood) return;
  KZT_TILTRADIAL(sets, g, xps, yps, angular, step, region, x_shift, y_shift, scan, status);
  IO_TIMES(end, cpu, status);
  IO_WRITE("INFO: Time for operation = " + format_f(end - start, 12, 2) + " seconds", status);
  IO_WRITE(" ", status);
}

// The distortion-corrected scan: the spline file, the region it is valid
// for and the block size, then KZT_CORR2_RADIAL. False, with no scan, when
// the spline file cannot be read, a question is escaped or no pixel lies in
// the spline's valid region (each said by its own message).
bool KZT_SRADIAL(KztDataSets& sets, const PowderSettings& g, float xps, float yps, bool angular,
                 float step, Region region, PowderCommandSettings& s, Scan& scan,
                 Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  scan = Scan{};
  SplineSet spline;
  int retstat = 0;
  std::string file = s.spline_file;
  KZT_IN_SPATIAL(false, 100, 100, file, retstat, spline, status);
  if (status != kStatusGood || retstat != 0) return false;
  s.spline_file = file;
  correction_pixel_sizes(spline.x_pixel_size, spline.y_pixel_size, status);
  Region cut = region;
  spline_pixel_limits(spline, kzt_xline(a.xaxis), kzt_yline(a.yaxis), region.xs, region.ys,
                      region.xe, region.ye, cut.xs, cut.ys, cut.xe, cut.ye, status);
  // Over-loaded pixels have no meaning in a 1-D profile: asked for, kept,
  // and not used.
  float overload = 99999.5f;
  correction_overload_value(true, overload, status);
  int y_rows = s.y_rows;
  const int most = static_cast<int>(std::min<Index>(region.ye - region.ys + 2, 1000000000));
  y_rows = std::clamp(y_rows, 2, std::max(most, 2));
  IO_INPI(true, 2, std::max(most, 2), true,
          "NUMBER OF ROWS OF DISTORTION FUNCTIONS TO CALCULATED IN A BLOCK",
          {"Enter the number of rows of the distortion functions to be calculated",
           "together. More rows use more memory, fewer rows take more time."},
          {"Enter integer within given range"}, y_rows, status);
  if (status != kStatusGood) return false;
  s.y_rows = y_rows;
  if (cut.xs > cut.xe || cut.ys > cut.ye) {
    IO_WRITE("WARNING: No pixel of the active data region lies inside the valid region", status);
    return false;
  }
  KZT_CORR2_RADIAL(sets, g, xps, yps, angular, step, cut, spline, y_rows, scan, status);
  return true;
}

}  // namespace

void KZT_POWDERDIFFRACTION(KztDataSets& sets, PowderSettings& g, PowderCommandSettings& s,
                           Status& status) {
  constexpr const char* kName = "Subroutine KZT_POWDERDIFFRACTION V0.1";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (const Status e = region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                                    a.yendelm, kBaseApp))
    return st_fail(status, e, kName);
  // The scan goes into the memory arrays: without them there are no bins.
  if (kzt_image(a.mdata).size() < static_cast<std::size_t>(a.xmaxdat) ||
      kzt_xline(a.mxaxis).size() < static_cast<std::size_t>(a.xmaxdat))
    return st_fail(status, kBaseApp + 1, kName);
  write_geometry_lines(g, sets.x_pixel_size, sets.y_pixel_size, status);
  PowderSettings typed = g;
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  float& xps = pixels.x;
  float& yps = pixels.y;
  bool change = s.change_values;
  ask_geometry_change(change, typed, xps, yps, status);
  int lorentz = s.lorentz_geometry;
  KZT_INP_POLARISATION(typed.correct_polarisation, typed.polarisation, lorentz, status);
  bool angular = s.angular_scan;
  IO_INPL(false, false, false, true, "PRODUCE EQUAL ANGLE PIXEL SCAN", kEqualAngleHelp,
          {"Enter YES or NO"}, angular, status);
  if (status != kStatusGood) return;
  const float mean_pixel = (xps + yps) * 0.5f;
  float step = 0.0f;
  if (angular) {
    float degrees = std::round(std::atan2(mean_pixel, typed.sample_distance) * kDegreesPerRadian *
                               1000.0f) /
                    1000.0f;
    degrees = offered(degrees, 0.001f, kLargestAngularStep);
    IO_INPR(true, 0.001f, kLargestAngularStep, true, "2 THETA SCAN ANGULAR PIXEL STEP (DEGREES)",
            {"Enter the angular width of one bin of the 2-theta scan (degrees),",
             "below 90 degrees: a scan ends before 2-theta reaches 90 degrees"},
            {"Must be within given range"}, degrees, status);
    step = degrees * kRadiansPerDegree;
  } else {
    float microns = offered(mean_pixel * 1.0e6f, 0.001f, 10000.0f);
    IO_INPR(true, 0.001f, 10000.0f, true, "RADIAL PIXEL SIZE (MICRONS)",
            {"Enter the radial width of one bin of the scan (microns)"},
            {"Must be within given range"}, microns, status);
    step = microns * 1.0e-6f;
  }
  bool distortion = s.spatial_distortion;
  IO_INPL(false, false, false, true, "TAKE ACCOUNT OF SPATIAL DISTORTION",
          {"YES: if the spatial distortion of the detector has been characterised;",
           "a spline file name is then required."},
          {"Enter YES or NO"}, distortion, status);
  if (status != kStatusGood) return;
  g = typed;
  kzt_keep_pixel_sizes(pixels, sets.x_pixel_size, sets.y_pixel_size);
  s.change_values = change;
  s.lorentz_geometry = lorentz;
  s.angular_scan = angular;
  s.spatial_distortion = distortion;
  Scan scan;
  const Region region{a.xstrelm, a.ystrelm, a.xendelm, a.yendelm};
  if (distortion) {
    if (!KZT_SRADIAL(sets, g, xps, yps, angular, step, region, s, scan, status)) return;
  } else {
    IO_WRITE("INFO: Starting to re-bin 2-D data to a 1-D profile, this can take some", status);
    IO_WRITE("      time for large arrays.", status);
    KZT_TILTRADIAL(sets, g, xps, yps, angular, step, region, {}, {}, scan, status);
  }
  if (status != kStatusGood) return;
  const Index num = scan.num;
  if (num < 1) {
    // A scan of zeros would read as data.
    IO_WRITE("WARNING: No unmasked pixel of the active data region falls within the scan:", status);
    IO_WRITE("         the memory is unchanged", status);
    return;
  }
  const bool variances = !scan.variances.empty();
  std::vector<float> axis(static_cast<std::size_t>(num));
  for (Index i = 1; i <= num; ++i)
    axis[static_cast<std::size_t>(i - 1)] =
        angular ? (static_cast<float>(i) - 0.5f) * scan.radial_step * kDegreesPerRadian
                : (static_cast<float>(i) - 0.5f) * scan.radial_step * 1000.0f;
  if (angular)
    KZT_LORENTZ(lorentz, variances, num, num, axis, scan.profile, scan.variances, status);
  if (status != kStatusGood) return;
  std::copy(axis.begin(), axis.end(), kzt_xline(a.mxaxis).begin());
  std::copy(scan.profile.begin(), scan.profile.end(), kzt_image(a.mdata).begin());
  if (variances)
    std::copy(scan.variances.begin(), scan.variances.end(), kzt_image(a.mvariances).begin());
  if (!kzt_yline(a.myaxis).empty()) kzt_yline(a.myaxis)[0] = 0.5f;
  define_scan_memory(sets, num, angular ? ": Angular Profile" : ": Radial Profile",
                     angular ? "Two-Theta Angle (degrees)" : "Radial distance (mm)");
  sets.mzlabel = "Intensity (normalised)";
  if (!angular) return;
  bool save = s.save_data;
  IO_INPL(false, false, false, true, "SAVE DATA IN \"POWDER DIFFRACTION STANDARD\" FORMAT",
          {"YES: to save the scan in a file for Rietveld refinement. The pixel",
           "counts per bin are lost if the file is not written now."},
          {"Enter YES or NO"}, save, status);
  if (status != kStatusGood) return;
  s.save_data = save;
  // The first point is the first bin's centre.
  if (save)
    FIO_OUT_PDS(1.0f, sets.title, scan.radial_step * 0.5f, scan.radial_step, num, num,
                scan.profile, scan.counts, status);
}

void KZT_RTHETA(KztDataSets& sets, PowderSettings& g, int& lorentz_geometry, RThetaSettings& s,
                Status& status) {
  constexpr const char* kName = "Subroutine KZT_RTHETA V0.1";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (const Status e = region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                                    a.yendelm, kBaseApp))
    return st_fail(status, e, kName);
  io_write_lines({" ", "WARNING : This option is still in a developmental stage ",
                  "          User input will change, check results carefully", " "},
                 status);
  write_geometry_lines(g, sets.x_pixel_size, sets.y_pixel_size, status);
  PowderSettings typed = g;
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  float& xps = pixels.x;
  float& yps = pixels.y;
  bool change = s.change_values;
  ask_geometry_change(change, typed, xps, yps, status);
  int lorentz = lorentz_geometry;
  KZT_INP_POLARISATION(typed.correct_polarisation, typed.polarisation, lorentz, status);
  if (status != kStatusGood) return;
  const Index width = a.xendelm - a.xstrelm + 1, height = a.yendelm - a.ystrelm + 1;
  const DiffractionGeometry geometry(xps, yps, typed.sample_distance, typed.wavelength,
                                     typed.x_beam_centre, typed.y_beam_centre,
                                     typed.tilt_rotation, typed.tilt_angle);
  RThetaSettings next = s;
  if (next.first) {
    next.num_azimuthal = 180;
    next.num_radial = std::max<Index>(
        1, std::llround(std::hypot(static_cast<double>(width) / 2.0, height / 2.0)));
    next.maximum_radius_pixels = static_cast<float>(next.num_radial);
    next.maximum_2theta_degrees = static_cast<float>(
        geometry.two_theta_of_radius(static_cast<double>(next.num_radial) * xps) *
        kDegreesPerRadian);
  }
  next.change_values = change;
  IO_INPL(false, false, false, true, "PRODUCE EQUAL ANGLE PIXEL SCAN", kEqualAngleHelp,
          {"Enter YES or NO"}, next.angular_scan, status);
  const int xmax = static_cast<int>(std::min<Index>(a.xmaxdat, 2147483647));
  const int ymax = static_cast<int>(std::min<Index>(a.ymaxdat, 2147483647));
  int num_azimuthal = static_cast<int>(std::clamp<Index>(next.num_azimuthal, 1, xmax));
  int num_radial = static_cast<int>(std::clamp<Index>(next.num_radial, 1, ymax));
  IO_INPI(true, 1, xmax, true, "NUMBER OF AZIMUTH BINS", {"Enter number of azimuthal bins"},
          {"Must be within given range"}, num_azimuthal, status);
  IO_INPI(true, 1, ymax, true,
          next.angular_scan ? "NUMBER OF 2-THETA ANGLE BINS" : "NUMBER OF RADIAL DISTANCE BINS",
          {"Enter number of radial bins"}, {"Must be within given range"}, num_radial, status);
  if (status != kStatusGood) return;
  if (next.angular_scan) {
    float degrees = offered(next.maximum_2theta_degrees, 0.001f, kLargestAngularStep);
    IO_INPR(true, 0.001f, kLargestAngularStep, true, "MAXIMUM 2-THETA LIMIT (DEGREES)",
            {"Enter 2-theta angle of the outer edge of the last bin"},
            {"Must be within given range"}, degrees, status);
    next.maximum_2theta_degrees = degrees;
  } else {
    const float largest = static_cast<float>(std::max(width, height));
    float pixels = offered(next.maximum_radius_pixels, 1.0f, largest);
    IO_INPR(true, 1.0f, largest, true, "MAXIMUM RADIAL LIMIT (X PIXELS)",
            {"Enter radius of the outer edge of the last bin in X pixels"},
            {"Must be within given range"}, pixels, status);
    next.maximum_radius_pixels = pixels;
  }
  IO_INPL(false, false, false, true, "CONSERVE INTEGRATED INTENSITY",
          {"YES: to conserve the integrated intensity, \"NO\" normalises each output",
           "pixel by the number of input pixels contributing to it"},
          {"Enter YES or NO"}, next.conserve_intensity, status);
  if (status != kStatusGood) return;
  next.first = false;
  next.num_azimuthal = num_azimuthal;
  next.num_radial = num_radial;
  s = next;
  g = typed;
  lorentz_geometry = lorentz;
  kzt_keep_pixel_sizes(pixels, sets.x_pixel_size, sets.y_pixel_size);

  // The engine's bins run radial first; the memory holds azimuth along X.
  const float outer =
      s.angular_scan ? g.sample_distance * std::tan(s.maximum_2theta_degrees * kRadiansPerDegree)
                     : s.maximum_radius_pixels * xps;
  const auto cells = static_cast<std::size_t>(s.num_radial * s.num_azimuthal);
  std::vector<float> cake(cells), weights(cells);
  float azimuth_step = 0.0f, radial_step = 0.0f, radial_start = 0.0f;
  KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), kzt_mask(), s.conserve_intensity,
                s.angular_scan ? kScanTwoTheta : kScanRadial, 20.0f, xps, yps, g.sample_distance,
                g.wavelength, g.x_beam_centre, g.y_beam_centre, 0.0f, 6.283185f, 0.0f, outer,
                g.tilt_rotation, g.tilt_angle, s.num_radial, s.num_azimuthal,
                g.correct_polarisation, g.polarisation, s.angular_scan ? lorentz : 0, s.num_radial,
                s.num_azimuthal, s.num_radial, s.num_azimuthal, azimuth_step, radial_step,
                radial_start, weights, cake, status);
  if (status != kStatusGood) return;
  const std::span<float> out = kzt_image(a.mdata);
  for (Index m = 1; m <= s.num_radial; ++m)
    for (Index k = 1; k <= s.num_azimuthal; ++k)
      out[static_cast<std::size_t>(element(k, m, a.xmaxdat))] =
          cake[static_cast<std::size_t>((m - 1) + (k - 1) * s.num_radial)];
  const std::span<float> xaxis = kzt_xline(a.mxaxis), yaxis = kzt_yline(a.myaxis);
  for (Index k = 1; k <= s.num_azimuthal; ++k)
    xaxis[static_cast<std::size_t>(k - 1)] =
        (static_cast<float>(k) - 0.5f) * 360.0f / static_cast<float>(s.num_azimuthal);
  for (Index m = 1; m <= s.num_radial; ++m)
    yaxis[static_cast<std::size_t>(m - 1)] =
        (static_cast<float>(m) - 0.5f) * radial_step *
        (s.angular_scan ? kDegreesPerRadian : 1000.0f);
  sets.mxnumdat = s.num_azimuthal;
  sets.mynumdat = s.num_radial;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = s.num_azimuthal;
  sets.myendelm = s.num_radial;
  sets.mtitle = sets.title + (s.angular_scan ? ": Azimuth/2-theta" : ": Azimuth/Radial Distance");
  if (sets.mtitle.size() > kKztTextLength) sets.mtitle.resize(kKztTextLength);
  sets.mxlabel = "Azimuth (Degrees)";
  sets.mylabel = s.angular_scan ? "2-Theta Angle (Degrees)" : "Radial Distance (mm)";
  sets.mzlabel = sets.zlabel;
  sets.memory_defined = true;
}

void KZT_RADIAL(KztDataSets& sets, Status& status) {
  constexpr const char* kName = "Subroutine KZT_RADIAL V0.1";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (const Status e = region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                                    a.yendelm, kBaseApp))
    return st_fail(status, e, kName);
  static float spacing = 1.0f;
  float width = spacing, xcentre = 0.0f, ycentre = 0.0f;
  // A spacing of 0 makes no bins: the smallest offered is far below any axis
  // step.
  constexpr float kFinestSpacing = 1.0e-20f;
  IO_INPR(true, kFinestSpacing, 1.7e38f, true, "RADIAL PIXEL SPACING",
          {"The world-coordinate spacing between pixel",
           "positions for the calculation of the radial profile",
           "(above 0): point i averages the radii from (i - 1)",
           "to i spacings and is placed at their middle,",
           "(i - 0.5) spacings"},
          {"Must be in set range"}, width, status);
  IO_INPR(false, 0.0f, 0.0f, false, "X-COORDINATE OF RADIAL SYMMETRY",
          {"X-centre for radial profile"}, {"Must be valid real"}, xcentre, status);
  IO_INPR(false, 0.0f, 0.0f, false, "Y-COORDINATE OF RADIAL SYMMETRY",
          {"Y-centre for radial profile"}, {"Must be valid real"}, ycentre, status);
  if (status != kStatusGood) return;
  spacing = width;
  // The profile is made aside and copied into the memory only when some
  // element reached it.
  const auto bins = static_cast<std::size_t>(a.xmaxdat);
  if (kzt_image(a.mdata).size() < bins || kzt_xline(a.mxaxis).size() < bins)
    return st_fail(status, kBaseApp + 1, kName);
  std::vector<float> weights(bins), radii(bins), profile(bins);
  const Status before = status;
  MA_RADIAL(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), kzt_mask(), false, xcentre,
            ycentre, width, 0, a.xmaxdat, radii, profile, {}, weights, status);
  if (status != before) return;
  Index num = 0;
  for (Index i = 1; i <= a.xmaxdat; ++i)
    if (weights[static_cast<std::size_t>(i - 1)] > 0.0f) num = i;
  if (num < 1) {
    IO_WRITE("WARNING: No data element lies within the profile", status);
    return;
  }
  std::copy_n(radii.begin(), num, kzt_xline(a.mxaxis).begin());
  std::copy_n(profile.begin(), num, kzt_image(a.mdata).begin());
  define_scan_memory(sets, num, "", sets.xlabel);
  sets.mtitle = "Radial Profile";
  sets.mzlabel = sets.zlabel;
  if (!kzt_yline(a.myaxis).empty()) kzt_yline(a.myaxis)[0] = 0.5f;
}

}  // namespace kesta
