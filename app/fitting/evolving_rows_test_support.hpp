#pragma once
// Rows of drifting, vanishing and jumping peaks for the multiple 1-D fit,
// the start model clicked on one of them, and the score of an evolving run
// against the truth: shared by its tests and its bench.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/olmi.hpp"
#include "core/status.hpp"

namespace kesta::testing {

// A peak of the rows: its type (kOneDGaussian, kOneDLorentzian, kOneDVoigt)
// and, by row, its position (channel coordinate), height, widths (SD and
// HWHM in channels, as the type has them) and whether it is there.
struct RowPeak {
  int type = kOneDGaussian;
  std::function<double(double)> pos, height;
  std::function<double(double)> sd = [](double) { return 0.0; };
  std::function<double(double)> hwhm = [](double) { return 0.0; };
  std::function<bool(double)> present = [](double) { return true; };

  double half_width(double y) const {
    if (type == kOneDGaussian) return 1.1774 * sd(y);
    if (type == kOneDLorentzian) return hwhm(y);
    // Half the width of the Voigt at half its maximum.
    const double fg = 2.354 * sd(y), fl = 2.0 * hwhm(y);
    return 0.5 *
           std::pow(std::pow(fg, 5) + 2.69269 * std::pow(fg, 4) * fl +
                        2.42843 * std::pow(fg, 3) * fl * fl + 4.47163 * fg * fg * std::pow(fl, 3) +
                        0.07842 * fg * std::pow(fl, 4) + std::pow(fl, 5),
                    0.2);
  }
  // The value at channel coordinate C of row Y (a Voigt as the sum of
  // Lorentzians over its Gaussian, scaled to its height).
  double value(double c, double y) const {
    if (!present(y)) return 0.0;
    const double d = c - pos(y);
    const auto bell = [](double t) { return std::exp(-0.5 * t * t); };
    if (type == kOneDGaussian) return height(y) * bell(d / sd(y));
    const double w = hwhm(y);
    if (type == kOneDLorentzian) return height(y) * w * w / (d * d + w * w);
    const double s = sd(y);
    double at = 0.0, top = 0.0;
    for (int k = -160; k <= 160; ++k) {
      const double t = k * s / 20.0, g = bell(t / s);
      at += g * w * w / ((d - t) * (d - t) + w * w);
      top += g * w * w / (t * t + w * w);
    }
    return height(y) * at / top;
  }
};

// NX channels by NY rows of the peaks on a sloped level, with Gaussian noise
// of SIGMA; rows for which NAN_ROW is true hold no numbers. A run fits the
// region X0..X1 (X1 0: NX) by Y0..Y1 (Y1 0: NY), channels for which MASKED
// is true left out.
struct EvolvingRows {
  Index nx = 200, ny = 150;
  Index x0 = 1, x1 = 0, y0 = 1, y1 = 0;
  std::function<bool(Index)> masked = [](Index) { return false; };
  std::vector<RowPeak> peaks;
  double level = 15.0, slope = 0.03, sigma = 2.0;
  std::function<bool(Index)> nan_row = [](Index) { return false; };
  unsigned long long seed = 1;
  // How far each peak's click lies off its true position (none: on it).
  std::vector<double> click_offsets;
  // The clicked heights and widths over the true ones.
  double click_height = 1.0, click_width = 1.0;

  std::vector<float> data() const {
    std::vector<float> rows(static_cast<std::size_t>(nx * ny));
    Noise noise(seed, sigma);
    for (Index y = 1; y <= ny; ++y)
      for (Index x = 1; x <= nx; ++x) {
        const double c = static_cast<double>(x) - 0.5;
        double v = level + slope * c;
        for (const RowPeak& p : peaks) v += p.value(c, static_cast<double>(y));
        rows[static_cast<std::size_t>((y - 1) * nx + x - 1)] =
            nan_row(y) ? std::nanf("") : static_cast<float>(v) + noise.next();
      }
    return rows;
  }

  // The model INITIALISE gives from clicks on the true top and half height of
  // each peak of ROW (whether it is there or not) and an order-1 polynomial
  // fitted to the level.
  FitModel start_model(Index row) const {
    FitModel m;
    const auto add = [&m](float value, int code, float scale) {
      const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
      m.params[i] = value;
      m.codes[i] = code;
      m.scales[i] = scale;
      m.names[i] = "P" + std::to_string(i + 1);
      m.names[i].resize(10, ' ');
    };
    const double y = static_cast<double>(row);
    for (const RowPeak& p : peaks) {
      const int f = ++m.num_features;
      const float d = static_cast<float>(click_width * p.half_width(y));
      const float h = static_cast<float>(click_height * p.height(y));
      const std::size_t i = static_cast<std::size_t>(f - 1);
      const double off = i < click_offsets.size() ? click_offsets[i] : 0.0;
      add(static_cast<float>(p.pos(y) + off), f + 20010000 + 100 * p.type, 1.0f);
      add(h, f + 20000 + 100 * p.type, h == 0.0f ? 1.0f : std::sqrt(std::fabs(h)));
      if (p.type == kOneDGaussian) add(2.0f * d / 2.35482f, f + 10030200, 0.5f);
      if (p.type == kOneDLorentzian) add(d, f + 10030300, 0.5f);
      if (p.type == kOneDVoigt) {
        add(d / 2.35482f, f + 10030400, 0.5f);
        add(0.5f * d, f + 10040400, 0.5f);
      }
    }
    const int f = ++m.num_features;
    const float mid = static_cast<float>(level + slope * static_cast<double>(nx) / 2.0);
    const float tilt = static_cast<float>(slope * static_cast<double>(nx) / 2.0);
    add(2.0f * mid, f + 60010500, std::max(2.0f * mid / 50.0f, 0.1f));
    add(tilt, f + 500 + 20000, std::max(std::fabs(tilt) / 50.0f, 0.1f));
    m.x_order = 1;
    m.x_min_poly = 0.0f;
    m.x_max_poly = static_cast<float>(nx);
    return m;
  }
};

// 320 channels by 240 rows fitted over channels 21-300 and rows 11-235, six
// channels masked, noise SIGMA: a narrow Gaussian drifting, a Lorentzian
// away on rows 100-130 while it drifts 12 channels on, a Voigt jumping 3
// channels at row 160.
inline EvolvingRows away_while_drifting(double sigma) {
  EvolvingRows r;
  r.nx = 320;
  r.ny = 240;
  r.x0 = 21;
  r.x1 = 300;
  r.y0 = 11;
  r.y1 = 235;
  r.level = 40.0;
  r.slope = -0.05;
  r.sigma = sigma;
  r.masked = [](Index x) { return x >= 215 && x <= 220; };
  RowPeak g{kOneDGaussian, [](double y) { return 60.0 + 0.2 * y; },
            [](double y) { return 70.0 - 0.1 * y; }};
  g.sd = [](double) { return 1.2; };
  RowPeak l{kOneDLorentzian, [](double y) { return 170.0 + 0.4 * (y - 100); },
            [](double) { return 50.0; }};
  l.hwhm = [](double) { return 3.0; };
  l.present = [](double y) { return y < 100 || y > 130; };
  RowPeak v{kOneDVoigt, [](double y) { return 260.0 + (y >= 160 ? 3.0 : 0.0) - 0.02 * y; },
            [](double) { return 45.0; }};
  v.sd = [](double) { return 1.8; };
  v.hwhm = [](double) { return 1.2; };
  r.peaks = {g, l, v};
  return r;
}

// An evolving run over every row scored against the truth. A row counts when
// every peak is there, clear (height above 5 SIGMA) and apart from the others
// (further than the sum of their half widths at half maximum); it is right
// when it ended valid with each peak within 1 channel. Each peak is judged by
// its own feature (the model's feature of its number, as clicked): two
// features of one kind that changed places as they crossed hold each
// other's peaks, and both are off. FAR counts the valid rows with a clear
// peak more than 3 channels off, SILENT those of them the run did not name
// as doubtful; SWAPPED the valid rows where a clear peak's own feature is
// more than 3 channels off while another feature of its kind lies within a
// channel of it, SILENT_SWAPPED those of them not named; NAMED_RIGHT the
// right rows it named as doubtful; UNNAMED the rows missing a peak that it
// named nowhere (neither failed, nor of no valid model, nor doubtful).
struct EvolutionScore {
  int counted = 0, right = 0, far = 0, silent = 0, swapped = 0, silent_swapped = 0, failed = 0,
      invalid = 0, doubtful = 0, named_right = 0, unnamed = 0;
  std::vector<Index> wrong, far_rows, silent_rows, unnamed_rows;
};

inline EvolutionScore evolve_and_score(const EvolvingRows& rows, const std::vector<float>& data,
                                       Index start_row, OlmiControls controls, Status& status) {
  EvolutionScore score;
  const std::vector<float> axis = centre_axis(rows.nx);
  std::vector<float> store(static_cast<std::size_t>(kMaxVecValues * kMaxVectors), 0.0f);
  KztVectors vectors;
  vectors.vectors = store.data();
  controls.evolve = true;
  OlmiOutput output;
  const Index x1 = rows.x1 > 0 ? rows.x1 : rows.nx, y1 = rows.y1 > 0 ? rows.y1 : rows.ny;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(rows.nx * rows.ny), 0);
  for (Index y = 0; y < rows.ny; ++y)
    for (Index x = 1; x <= rows.nx; ++x)
      mask[static_cast<std::size_t>(y * rows.nx + x - 1)] = rows.masked(x) ? 1 : 0;
  KZT_OLMIOPTIMISE(rows.nx, rows.ny, data, {}, mask, axis, rows.x0, rows.y0, x1, y1, start_row, "",
                   controls, rows.start_model(start_row), vectors, nullptr, &output, status);
  if (status != kStatusGood) return score;
  score.failed = static_cast<int>(output.failed_rows.size());
  score.invalid = static_cast<int>(output.invalid_rows.size());
  score.doubtful = static_cast<int>(output.doubtful_rows.size());
  // The vector of each peak's position.
  std::vector<int> at;
  for (int v = 0; const RowPeak& p : rows.peaks) {
    at.push_back(v);
    v += p.type == kOneDVoigt ? 4 : 3;
  }
  const auto named = [](const std::vector<Index>& list, Index y) {
    return std::find(list.begin(), list.end(), y) != list.end();
  };
  const auto position = [&](std::size_t peak, Index y) {
    return static_cast<double>(store[static_cast<std::size_t>(at[peak]) * kMaxVecValues +
                                     static_cast<std::size_t>(y - 1)]);
  };
  for (Index y = rows.y0; y <= y1; ++y) {
    if (rows.nan_row(y)) continue;
    const double yy = static_cast<double>(y);
    const bool valid = !named(output.failed_rows, y) && !named(output.invalid_rows, y);
    bool counts = true, within = true, far = false, swapped = false;
    for (std::size_t i = 0; i < rows.peaks.size(); ++i) {
      const RowPeak& p = rows.peaks[i];
      if (!p.present(yy)) {
        counts = false;
        continue;
      }
      const bool clear = p.height(yy) > 5.0 * rows.sigma;
      counts = counts && clear;
      for (std::size_t j = i + 1; j < rows.peaks.size(); ++j) {
        const RowPeak& q = rows.peaks[j];
        if (q.present(yy) &&
            std::fabs(p.pos(yy) - q.pos(yy)) <= p.half_width(yy) + q.half_width(yy))
          counts = false;
      }
      const double off = std::fabs(position(i, y) - p.pos(yy));
      within = within && off <= 1.0;
      far = far || (clear && off > 3.0);
      for (std::size_t j = 0; j < rows.peaks.size(); ++j)
        if (j != i && rows.peaks[j].type == p.type && clear && off > 3.0 &&
            std::fabs(position(j, y) - p.pos(yy)) <= 1.0)
          swapped = true;
    }
    if (counts) {
      ++score.counted;
      if (valid && within) {
        ++score.right;
        if (named(output.doubtful_rows, y)) ++score.named_right;
      } else {
        score.wrong.push_back(y);
      }
    }
    const bool any_absent = std::any_of(rows.peaks.begin(), rows.peaks.end(),
                                        [yy](const RowPeak& p) { return !p.present(yy); });
    if (any_absent && valid && !named(output.doubtful_rows, y)) {
      ++score.unnamed;
      score.unnamed_rows.push_back(y);
    }
    if (valid && far) {
      ++score.far;
      score.far_rows.push_back(y);
      if (!named(output.doubtful_rows, y)) {
        ++score.silent;
        score.silent_rows.push_back(y);
      }
    }
    if (valid && swapped) {
      ++score.swapped;
      if (!named(output.doubtful_rows, y)) ++score.silent_swapped;
    }
  }
  return score;
}

}  // namespace kesta::testing
