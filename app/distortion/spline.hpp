#pragma once
// Spline distortion functions: two bicubic B-spline surfaces giving the X and
// the Y displacement (in pixels) at a position of the calibration image, with
// the region in which they are valid.

#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// Largest knot count in each direction that the calibration keeps.
inline constexpr Index kMaxSplineKnots = 200;

// One surface: NX knots in X (LAMBDA), NY in Y (MU), (NX - 4) x (NY - 4)
// coefficients with the Y index fastest.
struct SplineFunction {
  Index xnumknots = 0;
  Index ynumknots = 0;
  std::vector<float> lambda;
  std::vector<float> mu;
  std::vector<float> coeffs;
  Index num_coeffs() const { return (xnumknots - 4) * (ynumknots - 4); }
};

// The spline set of a distortion: valid region, grid spacing (microns), the
// corrected pixel sizes (metres), the direction of the mapping and the two
// functions.
struct SplineSet {
  float x_minimum = 0.0f;
  float y_minimum = 0.0f;
  float x_maximum = 0.0f;
  float y_maximum = 0.0f;
  float grid_spacing = 0.0f;
  float x_pixel_size = 1.0e-4f;
  float y_pixel_size = 1.0e-4f;
  bool distorted_space = true;
  SplineFunction x;
  SplineFunction y;
};

// Evaluates one surface on a grid of positions: VALUES(i, j) (NUM_X x NUM_Y,
// X fastest) at (X_POSITIONS(i), Y_POSITIONS(j)). The basis work is kept
// between calls, so a correction evaluates block after block without
// allocating.
class SplineGrid {
 public:
  void evaluate(const SplineFunction& function, std::span<const float> x_positions,
                std::span<const float> y_positions, std::span<float> values, Status& status);

 private:
  std::vector<float> x_basis_;
  std::vector<float> y_basis_;
  std::vector<int> x_interval_;
  std::vector<int> y_interval_;
};

// The displacements of both functions at the pixel edges of a block of rows,
// for the corrections and the look-up table: X edges at XAXIS(p) - HX for
// the pixels X_START..X_END and XAXIS(X_END) + HX last; a block starting at
// pixel row B has min(ROWS, Y_END - B + 2) edge rows, at YAXIS(B + k - 1) - HY
// and YAXIS of its last pixel row + HY, and the next block starts at
// B + ROWS - 1. DX(i, k) and DY(i, k) hold the displacements at edge i of
// edge row k (0-based, i fastest).
class SplineBlocks {
 public:
  // False (after setting STATUS 11002) when the work arrays cannot be had.
  bool prepare(std::span<const float> xaxis, std::span<const float> yaxis, float hx, float hy,
               Index x_start, Index x_end, Index y_end, Index rows, Status& status);
  // Evaluates the block of pixel row B; afterwards rows() edge rows are held.
  void evaluate(const SplineSet& set, Index b, Status& status);

  // The displacements at the lower (0) and upper (1) edges of pixel row R,
  // rows taken in order from the first row of the first block; a new block
  // is evaluated when R starts one (NEW_BLOCK then true). False after a
  // failed evaluation.
  struct EdgeRows {
    const float* dx0;
    const float* dx1;
    const float* dy0;
    const float* dy1;
  };
  bool row(const SplineSet& set, Index r, EdgeRows& edges, bool& new_block, Status& status);

  Index edges() const { return num_x_; }
  Index rows() const { return num_y_; }
  std::vector<float> x_edges;
  std::vector<float> y_edges;
  std::vector<float> dx;
  std::vector<float> dy;

 private:
  std::span<const float> yaxis_;
  float hy_ = 0.0f;
  Index num_x_ = 0, num_y_ = 0, rows_ = 0, y_end_ = 0, next_ = 0, start_ = 0;
  bool evaluated_ = false;
  SplineGrid grid_;
};

// The pixels of the active data region lying wholly inside the valid region
// (limits against the axes over 1..XENDELM and 1..YENDELM), with the warning
// when the region reaches outside it; X_LOW > X_HIGH (or Y) when none do.
void spline_pixel_limits(const SplineSet& set, std::span<const float> xaxis,
                         std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm, Index& x_low, Index& y_low, Index& x_high, Index& y_high,
                         Status& status);

// Fits both functions to the grid peaks (peak arrays XMAX_PEAKS x YMAX_PEAKS,
// a missing peak at -1.7e38) over the valid region of SET, with the required
// average discrepancy CLOSENESS (pixels). SPATIAL_EXIST is true only when both
// fits succeeded; the functions of SET are replaced only then.
void KZT_KESTAGRID(bool gui, Index xmax_peaks, Index ymax_peaks, Index xnum_peaks,
                   Index ynum_peaks, float closeness, Index xmaxknots, Index ymaxknots,
                   std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                   std::span<const float> x_2ddistortion, std::span<const float> y_2ddistortion,
                   bool& spatial_exist, SplineSet& set, Status& status);

// The present peaks as point lists with weights 1.0.
void KZT_KESTAGRID2(Index xmax_peaks, Index ymax_peaks, Index xnum_peaks, Index ynum_peaks,
                    std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                    std::span<const float> x_2ddistortion,
                    std::span<const float> y_2ddistortion, Index& num_points,
                    std::vector<float>& x, std::vector<float>& y,
                    std::vector<float>& x_distortion, std::vector<float>& y_distortion,
                    std::vector<float>& weights, Status& status);

// Reports the lowest and highest fit residual of each function.
void KZT_KESTATEST(Index xmax_peaks, Index ymax_peaks, Index xnum_peaks, Index ynum_peaks,
                   std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                   std::span<const float> x_2ddistortion,
                   std::span<const float> y_2ddistortion, const SplineFunction& x_function,
                   const SplineFunction& y_function, Status& status);

// CALCULATE FITTED DISTORTION: asks which function and evaluates it at the
// pixel centres of the active data region into the memory (MTITLE names it).
void KZT_CAL_DISTORTION(bool gui, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                        std::span<const float> xaxis, std::span<const float> yaxis,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
                        Index& mxstrelm, Index& mystrelm, Index& mxendelm, Index& myendelm,
                        std::string& mtitle, Status& status);

// One function at every pixel centre of MXSTRELM..MXENDELM by MYSTRELM..MYENDELM.
void KZT_CAL2_DISTORTION(bool gui, Index mxstrelm, Index mystrelm, Index mxendelm,
                         Index myendelm, const SplineFunction& function, Index xmaxdat,
                         Index ymaxdat, std::span<const float> xaxis,
                         std::span<const float> yaxis, std::span<float> mdata, Status& status);

}  // namespace kesta
