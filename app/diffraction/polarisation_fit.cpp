#include "app/diffraction/polarisation_fit.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "numeric/modelfit.hpp"

namespace kesta {

namespace {

constexpr double kDegreesPerRadianFine = 180.0 / 3.1415925;

Index column(const PolarisationRings& rings, int ring) {
  return static_cast<Index>(ring) * rings.max_coordinates;
}

}  // namespace

void KZT_FUNPOLARISATION(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                         Index, Index, Index, Index, void* pass_1, void* pass_2, void*, void*, int,
                         std::span<const float> params, Index, Index, bool, int& terminate,
                         std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNPOLARISATION V0.1")) return;
  const auto& rings = *static_cast<const PolarisationRings*>(pass_1);
  const int num_rings = *static_cast<const int*>(pass_2);
  const double p = params[0];
  const double d2 = static_cast<double>(params[1]) * params[1];
  std::size_t out = 0;
  for (int k = 0; k < num_rings; ++k) {
    const double r = rings.radii[static_cast<std::size_t>(k)];
    const double c = d2 / (r * r + d2);
    const int n = rings.num_coordinates[static_cast<std::size_t>(k)];
    const std::size_t first = out;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      const auto e = static_cast<std::size_t>(column(rings, k) + i);
      const double divisor = 0.5 * ((1.0 + c) - (1.0 - c) * std::cos(2.0 * rings.azimuths[e]) * p);
      const double value = rings.intensities[e] / divisor;
      sum += value;
      model[out++] = static_cast<float>(value);
    }
    if (n > 0) {
      const double mean = sum / n;
      for (std::size_t e = first; e < out; ++e)
        model[e] = static_cast<float>(static_cast<double>(model[e]) - mean);
    }
  }
  terminate = 0;
}

void KZT_LSQPOLARISATION(float sample_distance, int max_rings, int num_rings,
                         const PolarisationRings& rings, float& polarisation, Status& status) {
  constexpr const char* kName = "Subroutine KZT_LSQPOLARISATION V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  if (num_rings < 0 || num_rings > max_rings || rings.max_coordinates < 1)
    return st_fail(status, kBaseApp + 5, kName);
  const auto columns = static_cast<std::size_t>(column(rings, num_rings));
  if (rings.num_coordinates.size() < static_cast<std::size_t>(num_rings) ||
      rings.radii.size() < static_cast<std::size_t>(num_rings) ||
      rings.intensities.size() < columns || rings.azimuths.size() < columns)
    return st_fail(status, kBaseApp + 1, kName);
  Index num_points = 0;
  for (int k = 0; k < num_rings; ++k) {
    const int n = rings.num_coordinates[static_cast<std::size_t>(k)];
    if (n < 0 || n > rings.max_coordinates) return st_fail(status, kBaseApp + 5, kName);
    num_points += n;
  }
  if (num_points == 0) {
    IO_WRITE("ERROR: There are no coordinates to fit !", status);
    return st_fail(status, kBaseApp + 9999, kName);
  }
  for (int k = 0; k < num_rings; ++k) {
    for (int i = 0; i < rings.num_coordinates[static_cast<std::size_t>(k)]; ++i) {
      const auto e = static_cast<std::size_t>(column(rings, k) + i);
      IO_WRITE("ring, azimuth, intensity = " + format_i(k + 1, 3) +
                   format_g(rings.azimuths[e] * kDegreesPerRadianFine, 14, 5) +
                   format_g(rings.intensities[e], 14, 5),
               status);
    }
  }
  // The fit runs on the intensities divided by a power of two near the
  // largest: the factor is a ratio of intensities, no digit changes, and
  // corrected intensities of values near 3e38 stay inside single precision.
  float largest = 0.0f;
  for (int k = 0; k < num_rings; ++k)
    for (int i = 0; i < rings.num_coordinates[static_cast<std::size_t>(k)]; ++i) {
      const float v = std::fabs(rings.intensities[static_cast<std::size_t>(column(rings, k) + i)]);
      if (std::isfinite(v)) largest = std::max(largest, v);
    }
  const float unit = largest > 0.0f ? std::ldexp(1.0f, std::ilogb(largest)) : 1.0f;
  const std::span<const float> used = rings.intensities.first(columns);
  std::vector<float> intensities(used.begin(), used.end());
  for (float& v : intensities) v /= unit;
  PolarisationRings in_unit{rings.max_coordinates, rings.num_coordinates, intensities,
                            rings.azimuths, rings.radii};
  float params[2] = {polarisation, sample_distance};
  const bool fixed[2] = {false, true};
  const float scales[2] = {0.05f, 1.0f};
  const std::vector<float> data(static_cast<std::size_t>(num_points), 0.0f);
  std::vector<float> model(static_cast<std::size_t>(num_points), 0.0f);
  int end_code = 0, calls = 0;
  double sum_squares = 0.0;
  int rings_in_fit = num_rings;
  MA_MODELFIT(2, KZT_FUNPOLARISATION, false, false, false, num_points, 1, data, {}, {}, 1, 1,
              num_points, 1, 1, 300, 1.0e-5f, 100.0f, 5.0e-7f,
              &in_unit, &rings_in_fit, nullptr, nullptr, 2, fixed,
              scales, num_points, 1, false, params, model, end_code, calls, sum_squares, status);
  if (status != kStatusGood) return;
  if (end_code < 1) {
    polarisation = params[0];
  } else {
    IO_WRITE("WARNING: Problem fitting the polarisation factor", status);
  }
}

}  // namespace kesta
