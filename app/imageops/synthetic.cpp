#include "app/imageops/synthetic.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/raster.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/filters.hpp"
#include "numeric/profiles2d.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

struct GaussianAnswers {
  float maximum = 1000.0f;
  float angle = 0.0f;  // radians
  float width1 = 50.0f;
  float width2 = 25.0f;
};
struct SymfunAnswers {
  bool asked = false;  // until first answered the centre is the region's middle
  float xcentre = 0.0f;
  float ycentre = 0.0f;
};
struct LineariseAnswers {
  float unit_density = 128.0f;
  float granularity = 3.7f;
  float fog = 0.16f;
  float saturation = 254.0f;
  float exponent = 0.6f;
  float aperture = 2500.0f;
  float correction = 0.07f;
};
struct FujiAnswers {
  int sensitivity = 10000;
  float latitude = 5.0f;
  int bits = 16;
};
struct VariancesAnswers {
  float maximum = 254.0f;
  float fog = 80.0f;
};

// Degrees as the orientation prompt shows them.
constexpr float kDegreesPerRadian = 180.0f / 3.1415925f;

int prompt_limit(Index n) {
  return static_cast<int>(std::min<Index>(n, std::numeric_limits<int>::max()));
}

KztArrays& arrays() { return vosq_kzt_arrays; }

// The variance arrays' span when they exist, else the data's (for the checks).
std::size_t variance_size(bool variances_exist, std::span<const float> data,
                          std::span<const float> variances) {
  return variances_exist ? variances.size() : data.size();
}

}  // namespace

void KZT_CREATEDATA(bool variances_exist, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                    Index& ynumdat, Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
                    std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                    std::span<float> variances, std::string& title, std::string& xlabel,
                    std::string& ylabel, std::string& zlabel, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_CREATEDATA V0.1";
  if (st_bad(status, kPosition)) return;
  Status code = dimension_error(xmaxdat, ymaxdat, kBaseApp);
  if (code == 0 &&
      (!array_holds(data.size(), xmaxdat, ymaxdat) ||
       !array_holds(variance_size(variances_exist, data, variances), xmaxdat, ymaxdat) ||
       !array_holds(xaxis.size(), xmaxdat, 1) || !array_holds(yaxis.size(), ymaxdat, 1)))
    code = kBaseApp + 1;
  if (code != 0) return st_fail(status, code, kPosition);

  int nx = prompt_limit(xmaxdat);
  int ny = prompt_limit(ymaxdat);
  IO_INPI(true, 1, prompt_limit(xmaxdat), true, "X DATA SIZE",
          {"Enter number of elements for data region in X-dimension"},
          {"Must be within specified bounds"}, nx, status);
  IO_INPI(true, 1, prompt_limit(ymaxdat), true, "Y DATA SIZE",
          {"Enter number of elements for data region in Y-dimension"},
          {"Must be within specified bounds"}, ny, status);
  if (status != kStatusGood) return;

  xnumdat = nx;
  ynumdat = ny;
  xstrelm = 1;
  ystrelm = 1;
  xendelm = nx;
  yendelm = ny;
  MA_RVALUE(xmaxdat, ymaxdat, 1, 1, nx, ny, 0.0f, data, status);
  if (variances_exist) MA_RVALUE(xmaxdat, ymaxdat, 1, 1, nx, ny, 0.0f, variances, status);
  for (Index i = 0; i < nx; ++i) xaxis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) yaxis[static_cast<std::size_t>(j)] = static_cast<float>(j) + 0.5f;
  title = "Simulated Data";
  xlabel = "Columns";
  ylabel = "Rows";
  zlabel = "Intensity";
}

void KZT_GAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<float> data, Status& status) {
  if (kzt_region_refused("Subroutine KZT_GAUSSIAN V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  if (!array_holds(xaxis.size(), xmaxdat, 1) || !array_holds(yaxis.size(), ymaxdat, 1))
    return st_fail(status, kBaseApp + 1, "Subroutine KZT_GAUSSIAN V0.1");
  GaussianAnswers answers = remembered<GaussianAnswers>();
  const auto at = [](std::span<const float> axis, Index i) {
    return axis[static_cast<std::size_t>(i - 1)];
  };
  float xcentre = (at(xaxis, xstrelm) + at(xaxis, xendelm)) / 2.0f;
  float ycentre = (at(yaxis, ystrelm) + at(yaxis, yendelm)) / 2.0f;
  float degrees = answers.angle * kDegreesPerRadian;
  static const std::string error[] = {"Must be valid real number"};
  IO_INPR(false, 0.0f, 0.0f, true, "PEAK CENTRE X-COORDINATE ",
          {"Enter X-coordinate of centre of peak"}, error, xcentre, status);
  IO_INPR(false, 0.0f, 0.0f, true, "PEAK CENTRE Y-COORDINATE ",
          {"Enter Y-coordinate of centre of peak"}, error, ycentre, status);
  IO_INPR(false, 0.0f, 0.0f, true, "PEAK MAXIMUM INTENSITY", {"Enter maximum intensity of peak"},
          error, answers.maximum, status);
  IO_INPR(true, -360.0f, 360.0f, true, "ORIENTATION OF FIRST AXIS",
          {"Orientation in degrees, anti-clockwise from the X-axis"}, error, degrees, status);
  // A peak has a width above zero; the smallest offered is far below any
  // axis step.
  constexpr float kNarrowest = 1.0e-20f;
  IO_INPR(true, kNarrowest, kVeryLarge, true, "STANDARD DEVIATION WIDTH FOR FIRST AXIS",
          {"Peak width in first axis (standard deviation size, above 0)"}, error, answers.width1,
          status);
  IO_INPR(true, kNarrowest, kVeryLarge, true, "STANDARD DEVIATION WIDTH FOR SECOND AXIS",
          {"Peak width in second axis (standard deviation size, above 0)"}, error, answers.width2,
          status);
  if (status != kStatusGood) return;
  answers.angle = degrees / kDegreesPerRadian;
  remembered<GaussianAnswers>() = answers;
  MA_2DGAUSSIAN(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, answers.maximum,
                xcentre, ycentre, answers.width1, answers.width2, answers.angle, 5.0f, 1, data,
                status);
}

void KZT_SYMFUN(float mx_pixel_size, Index profile_max, Index profile_n,
                std::span<const float> profile, float xpixsize, float ypixsize, Index xmaxdat,
                Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                std::span<float> data, Status& status) {
  if (kzt_region_refused("Subroutine KZT_SYMFUN V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size()}))
    return;
  // Radii are counted in profile pixels: a size not above zero measures
  // nothing.
  if (!(mx_pixel_size > 0.0f) || !std::isfinite(mx_pixel_size)) {
    IO_WRITE(
        "WARNING: The pixel size of the memory (the profile) must be "
        "greater than zero",
        status);
    return;
  }
  SymfunAnswers answers = remembered<SymfunAnswers>();
  if (!answers.asked) {
    answers.xcentre = static_cast<float>(xstrelm - 1 + xendelm) / 2.0f;
    answers.ycentre = static_cast<float>(ystrelm - 1 + yendelm) / 2.0f;
  }
  IO_INPR(false, 0.0f, 0.0f, true, "X-COORDINATE OF CIRCULAR SYMMETRY",
          {"X-centre for radial profile"}, {"Must be valid real"}, answers.xcentre, status);
  IO_INPR(false, 0.0f, 0.0f, true, "Y-COORDINATE OF CIRCULAR SYMMETRY",
          {"Y-centre for radial profile"}, {"Must be valid real"}, answers.ycentre, status);
  if (status != kStatusGood) return;
  answers.asked = true;
  remembered<SymfunAnswers>() = answers;
  MA_SYMFUN(mx_pixel_size, profile_max, profile_n, profile, answers.xcentre, answers.ycentre, 1,
            xpixsize, ypixsize, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status);
}

void KZT_LINEARISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status) {
  if (kzt_region_refused("Subroutine KZT_LINEARISE V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status,
                         {data.size(), variance_size(variances_exist, data, variances)}))
    return;
  LineariseAnswers a = remembered<LineariseAnswers>();
  static const std::string error[] = {"Enter value within given range"};
  IO_INPR(true, 0.001f, 1.0e6f, true, "VALUE FOR UNIT OPTICAL DENSITY",
          {"Enter the data value which corresponds to an optical density of one",
           "(usually 128 for the laboratory scanner)"},
          error, a.unit_density, status);
  if (variances_exist) {
    IO_INPR(true, 0.1f, 10.0f, true, "SELWYN GRANULARITY",
            {"Enter the Selwyn granularity of the film in use:",
             "values quoted for scanned film by film data-processing programs",
             "are 3.7 for one film type, and 2.5 or 2.3 for another;",
             "published measurements give 3.2 and 2.7 for two other films",
             "(a higher value means noisier film)"},
            error, a.granularity, status);
    IO_INPR(true, 0.001f, 2.0f, true, "FILM FOG LEVEL (OD UNITS)",
            {"Enter fog level in optical density units of the film being used:",
             "typical values are 0.16, 0.30 and 0.20 for three common films"},
            error, a.fog, status);
    IO_INPR(true, 0.001f, 1.0e9f, true, "DATA SATURATION VALUE",
            {"Enter saturation value for data:",
             "e.g. highest reliable value, 254.0 for 0-255 microdensitometers"},
            error, a.saturation, status);
    IO_INPR(true, 0.001f, 2.0f, true, "GRANULARITY POWER EXPONENT",
            {"Enter exponent for power law of Selwyn granularity as a function",
             "of optical density:", "Theoretically it should be 0.5, but empirically 0.6 is found.",
             "(0.61 has been measured for one film type)"},
            error, a.exponent, status);
    IO_INPR(true, 1.0f, 1.0e6f, true, "APERATURE AREA",
            {"Enter area of digitilisation aperature in square microns",
             "e.g. enter 2500 for a 50*50 micron aperature"},
            error, a.aperture, status);
  }
  IO_INPR(true, 0.001f, 0.1f, true, "FILM CORRECTION CONSTANT",
          {"Enter the film non-linearity correction constant:",
           "typical values are 0.06, 0.055 and 0.07 for three common films"},
          error, a.correction, status);
  if (status != kStatusGood) return;
  remembered<LineariseAnswers>() = a;

  const double d1 = a.unit_density;
  const double c = a.correction;
  if (variances_exist) {
    const double fog = double{a.fog} * d1;
    const double c_prime = c / d1;
    const double scale = double{a.granularity} * a.granularity * d1 * d1 / (2.0 * a.aperture);
    const double power = 2.0 * a.exponent;
    const double saturation = a.saturation;
    for (Index y = ystrelm; y <= yendelm; ++y) {
      const float* d = data.data() + element(xstrelm, y, xmaxdat);
      float* v = variances.data() + element(xstrelm, y, xmaxdat);
      for (Index i = 0; i <= xendelm - xstrelm; ++i) {
        const double value = d[i];
        if (value < fog || value > saturation) {
          v[i] = 1.0e10f;
        } else {
          const double growth = 2.0 * c_prime * value + 1.0;
          v[i] = static_cast<float>(scale * std::pow(value / d1, power) * growth * growth);
        }
      }
    }
  }
  for (Index y = ystrelm; y <= yendelm; ++y) {
    float* d = data.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i <= xendelm - xstrelm; ++i) {
      const double od = d[i] / d1;
      d[i] = static_cast<float>((od + c * od * od) * d1);
    }
  }
}

void kzt_fuji_linearise(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        int sensitivity, float latitude, int bits, std::span<float> data) {
  const double levels = std::ldexp(1.0, bits);
  const double top = levels - 1.0;
  const double factor = 100.0 * (4000.0 / sensitivity);
  const double step = double{latitude} / levels;
  const auto response = [&](double level) {
    return static_cast<float>(factor * std::pow(10.0, latitude * (level / levels - 0.5)));
  };
  // Nearest level, halves away from zero, after clamping (NaN to 0).
  const auto level_of = [top](float value) {
    const double v = value > 0.0f ? std::min(double{value}, top) : 0.0;
    return std::floor(v + 0.5);
  };
  if (bits > 16) {
    for (Index y = ystrelm; y <= yendelm; ++y) {
      float* d = data.data() + element(xstrelm, y, xmaxdat);
      for (Index i = 0; i <= xendelm - xstrelm; ++i) d[i] = response(level_of(d[i]));
    }
    return;
  }
  // One table of every level: exact powers every 256 entries, a constant
  // ratio in between.
  std::vector<float> table(static_cast<std::size_t>(levels));
  const double ratio = std::pow(10.0, step);
  for (std::size_t i = 0; i < table.size(); i += 256) {
    double entry = factor * std::pow(10.0, latitude * (static_cast<double>(i) / levels - 0.5));
    for (std::size_t k = i; k < std::min(table.size(), i + 256); ++k, entry *= ratio)
      table[k] = static_cast<float>(entry);
  }
  const float ftop = static_cast<float>(top);
  for (Index y = ystrelm; y <= yendelm; ++y) {
    float* d = data.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i <= xendelm - xstrelm; ++i) {
      const float v = d[i] > 0.0f ? std::min(d[i], ftop) : 0.0f;
      d[i] = table[static_cast<std::size_t>(double{v} + 0.5)];
    }
  }
}

void KZT_FUJI(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool, std::span<float> data, std::span<float>, Status& status) {
  if (kzt_region_refused("Subroutine KZT_FUJI V0.3", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size()}))
    return;
  for (const char* line :
       {"", "WARNING: User input has changed", "",
        "The linearisation is performed according to the formula:", "",
        "OUT(x, y) = 100 * (4000 / S) * 10**L( IN(x, y) / 2**b - 0.5)", "",
        "where L is the latitude", "      S is the sensitivity", "      b number of bits", "",
        "These values are given in the .inf (or .INF) file."})
    IO_WRITE(line, status);
  FujiAnswers a = remembered<FujiAnswers>();
  IO_INPI(true, 1, 1000000, true, "SENSITIVITY", {"Enter sensitivity (S in linearisation formula)"},
          {"Enter integer value within given range"}, a.sensitivity, status);
  IO_INPR(true, 1.0f, 20.0f, true, "LATITUDE", {"Enter latitude (L in linearisation formula)"},
          {"Enter real value within given range"}, a.latitude, status);
  IO_INPI(true, 8, 32, true, "NUMBER OF BITS",
          {"Enter number of bits (b in linearisation formula)"},
          {"Enter integer value within given range"}, a.bits, status);
  if (status != kStatusGood) return;
  remembered<FujiAnswers>() = a;
  kzt_fuji_linearise(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, a.sensitivity, a.latitude, a.bits,
                     data);
}

bool kzt_variance_gain(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> data, float maximum, float fog, double& gain) {
  // Each row's terms go into a line first (a loop without branches), then
  // into four double sums.
  std::vector<float> terms(static_cast<std::size_t>(std::max<Index>(xendelm - xstrelm - 1, 0)));
  double sums[4] = {0.0, 0.0, 0.0, 0.0};
  Index count = 0;
  // Above FOG and above zero is above the larger of the two (a NaN FOG
  // admits nothing, as before); two comparisons keep the loop in vector steps.
  const float lowest = fog > 0.0f || fog != fog ? fog : 0.0f;
  for (Index y = ystrelm + 1; y <= yendelm - 1; ++y) {
    const float* below = data.data() + element(xstrelm + 1, y - 1, xmaxdat);
    const float* row = data.data() + element(xstrelm + 1, y, xmaxdat);
    const float* above = data.data() + element(xstrelm + 1, y + 1, xmaxdat);
    const Index n = static_cast<Index>(terms.size());
    float* t = terms.data();
    int row_count = 0;
    for (Index x = 0; x < n; ++x) {
      const float v = row[x];
      // The gain divides by the value: values not above zero say nothing.
      const int used = (v > lowest) & (v < maximum);
      const float m = 0.125f * (below[x - 1] + below[x] + below[x + 1] + row[x - 1] + row[x + 1] +
                                above[x - 1] + above[x] + above[x + 1]);
      const float r = v - m;
      const float share = r * r / (used ? v : 1.0f);
      t[x] = used ? share : 0.0f;
      row_count += used;
    }
    count += row_count;
    Index x = 0;
    for (; x + 4 <= n; x += 4)
      for (int k = 0; k < 4; ++k) sums[k] += t[x + k];
    for (; x < n; ++x) sums[0] += t[x];
  }
  if (count == 0) return false;
  // 8/9 removes the noise that the neighbour mean adds.
  gain = 0.8888888 * (sums[0] + sums[1] + sums[2] + sums[3]) / static_cast<double>(count);
  return true;
}

void kzt_define_variances(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          std::span<const float> data, float maximum, float fog, float gain,
                          std::span<float> variances) {
  const float low = fog * gain;
  const auto border = [&](float v) { return v < fog ? low : v <= maximum ? gain * v : 1.0e20f; };
  const float ninth = gain / 9.0f;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = data.data() + element(1, y, xmaxdat);
    float* out = variances.data() + element(1, y, xmaxdat);
    if (y == ystrelm || y == yendelm) {
      for (Index x = xstrelm - 1; x <= xendelm - 1; ++x) out[x] = border(row[x]);
      continue;
    }
    const float* below = row - xmaxdat;
    const float* above = row + xmaxdat;
    out[xstrelm - 1] = border(row[xstrelm - 1]);
    out[xendelm - 1] = border(row[xendelm - 1]);
    for (Index x = xstrelm; x <= xendelm - 2; ++x) {
      const float v = row[x];
      const float block = below[x - 1] + below[x] + below[x + 1] + row[x - 1] + v + row[x + 1] +
                          above[x - 1] + above[x] + above[x + 1];
      // Every product is formed before the choice, so the choice is a select.
      const float mean = block * ninth;
      const float scaled = v <= maximum ? mean : 1.0e20f;
      out[x] = v < fog ? low : scaled;
    }
  }
}

void KZT_VARIANCES(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<float> variances,
                   Status& status) {
  if (kzt_region_refused("Subroutine KZT_VARIANCES V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size(), variances.size()}))
    return;
  VariancesAnswers a = remembered<VariancesAnswers>();
  IO_INPR(false, 0.0f, 0.0f, true, "MAXIMUM NON-SATURATED VALUE",
          {"Enter maximum value of reliable range"}, {"Enter real number"}, a.maximum, status);
  IO_INPR(false, 0.0f, 0.0f, true, "LOWER \"POISSON\" LIMIT (FOG)",
          {"Enter lower limit of reliable \"Poisson\" range"}, {"Enter real number"}, a.fog,
          status);
  if (status != kStatusGood) return;
  remembered<VariancesAnswers>() = a;
  double gain = 0.0;
  if (!kzt_variance_gain(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, a.maximum, a.fog,
                         gain)) {
    IO_WRITE_FILE(kStreamTerminal, "Scaling constant can not be calculated ", status);
    return;
  }
  IO_WRITE_FILE(kStreamTerminal, "Scaling constant = " + format_g(gain, 12, 5), status);
  kzt_define_variances(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, a.maximum, a.fog,
                       static_cast<float>(gain), variances);
}

// Keyboard branches: the program arrays and the active data region.

void kzt_command_createdata(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_CREATEDATA(sets.variances_exist, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm,
                 a.ystrelm, a.xendelm, a.yendelm, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                 kzt_image(a.data), kzt_image(a.variances), sets.title, sets.xlabel, sets.ylabel,
                 sets.zlabel, status);
  if (status == kStatusGood) sets.data_defined = true;
}

void kzt_command_gaussian(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_GAUSSIAN(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_xline(a.xaxis),
               kzt_yline(a.yaxis), kzt_image(a.data), status);
}

void KZT_TRIANGLE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_TRIANGLE V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  constexpr Index kMaxRows = 4096;
  // Vertex prompts work in int; a region beyond that cannot be drawn anyway.
  if (xendelm > std::numeric_limits<int>::max() || yendelm > std::numeric_limits<int>::max())
    return st_fail(status, kBaseApp + 5, kPosition);
  const int xs = static_cast<int>(xstrelm), xe = static_cast<int>(xendelm);
  const int ys = static_cast<int>(ystrelm), ye = static_cast<int>(yendelm);
  static const std::string error[] = {"Enter integer number in range"};
  int vx[3] = {xs, xe, xs}, vy[3] = {ys, ys, ye};
  static const char* const kOrdinal[3] = {"1ST", "2ND", "3RD"};
  static const char* const kWord[3] = {"first", "second", "third"};
  for (int v = 0; v < 3; ++v) {
    const std::string x_help[] = {std::string("Enter X-pixel number of ") + kWord[v] +
                                  " triangle vertex"};
    const std::string y_help[] = {std::string("Enter Y-pixel number of ") + kWord[v] +
                                  " triangle vertex"};
    GS_INPI(true, xs, xe, true, std::string("X-PIXEL FOR ") + kOrdinal[v] + " VERTEX", x_help,
            error, vx[v], status);
    GS_INPI(true, ys, ye, true, std::string("Y-PIXEL FOR ") + kOrdinal[v] + " VERTEX", y_help,
            error, vy[v], status);
  }
  float constant = 1.0f;
  static const std::string real_error[] = {"Enter real number"};
  GS_INPR(false, 0.0f, 0.0f, true, "ADDITION CONSTANT",
          {"Enter real value to add to active data region"}, real_error, constant, status);
  if (status != kStatusGood) return;

  for (int v = 0; v < 3; ++v) data[element(vx[v], vy[v], xmaxdat)] += constant;
  if (constant == 0.0f) return;

  int xa = 0, ya = 0, xb = 0, yb = 0, xc = 0, yc = 0;
  QG_RAS_ORDERY(vx[0], vy[0], vx[1], vy[1], vx[2], vy[2], xa, ya, xb, yb, xc, yc);
  std::vector<int> xmin(kMaxRows), xmax(kMaxRows);
  QG_RAS_TRIXLIMITS(xa, ya, xb, yb, xc, yc, static_cast<int>(kMaxRows), xmin, xmax, status);
  if (status != kStatusGood) return;
  IO_WRITE("y_min, y_max = " + format_i(ya, 6) + format_i(yc, 6), status);
  for (int y = ya; y <= yc; ++y) {
    const auto k = static_cast<std::size_t>(y - ya);
    IO_WRITE(format_i(y - ya, 6) + format_i(xmin[k], 6) + format_i(xmax[k], 6), status);
  }
  for (int y = std::max(ya, ys); y <= std::min(yc, ye); ++y) {
    const auto k = static_cast<std::size_t>(y - ya);
    for (int x = std::max(xs, xmin[k]); x <= std::min(xe, xmax[k]); ++x)
      data[element(x, y, xmaxdat)] += constant;
  }
}

void kzt_command_symfun(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  // The profile is the memory's first row, as far as it is defined.
  const Index defined = std::clamp<Index>(sets.mxnumdat, 1, a.xmaxdat);
  KZT_SYMFUN(sets.mx_pixel_size, a.xmaxdat, defined, kzt_xline(a.mdata), sets.x_pixel_size,
             sets.y_pixel_size, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             kzt_image(a.data), status);
}

void kzt_command_linearise(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_LINEARISE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_fuji(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_FUJI(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.variances_exist,
           kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_variances(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_VARIANCES(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.data),
                kzt_image(a.variances), status);
}

}  // namespace kesta
