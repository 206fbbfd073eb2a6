#pragma once
// Cubics through two points with given end gradients, and evaluation of
// bicubic B-spline surfaces. A surface has NUM_XKNOTS x NUM_YKNOTS knots (each
// at least 8), its interior domain runs from knot 4 to knot n - 3 in each
// direction, and coefficient (i, j) (1-based) sits at position
// (i - 1) x (NUM_YKNOTS - 4) + j, the Y index fastest.

#include <span>

#include "core/types.hpp"

namespace kesta {

// c x + d, plus b x^2 when b is not 0, plus a x^3 when a is not 0.
float MA_CUBIC(float a, float b, float c, float d, float x);

// The cubic a x^3 + b x^2 + c x + d through (X1, Y1) and (X2, Y2) with
// gradients G1 and G2. |X1 - X2| < 1e-30 gives 20013. OK is false (and the
// coefficients not all set) when an intermediate divisor is below 1e-30.
void MA_CUBSPLINE(float x1, float y1, float g1, float x2, float y2, float g2, bool& ok, float& a,
                  float& b, float& c, float& d, Status& status);

// The surface value at (X, Y), each coordinate clamped into the interior
// domain. Checks: 20001 MAX_XKNOTS or MAX_COEFFICIENTS < 1; 20002
// MAX_YKNOTS < 1; 20005 a knot count below 8 or above its maximum, or too few
// coefficients.
void MA_CAL_NBCUBSPLINE(Index max_xknots, Index num_xknots, std::span<const float> x_knots,
                        Index max_yknots, Index num_yknots, std::span<const float> y_knots,
                        Index max_coefficients, std::span<const float> coefficients, float x,
                        float y, float& value, Status& status);

// The surface at every element (x, y) of the region of ARRAY (XMAXDAT x
// YMAXDAT), at X_COORDS(x) and Y_COORDS(y). The basis work lists hold 4 values
// per column (row) and the interval lists one per column (row), indexed by
// absolute column (row). MODE 0 requires non-decreasing coordinates over the
// region (else 21012); MODE 1 trusts them. Checks, some with a line straight
// to the terminal: 20017 MODE; 20001 MAX_XKNOTS, XMAXDAT or MAX_COEFFICIENTS
// < 1; 20002 MAX_YKNOTS or YMAXDAT < 1; 20005 X knots ("xnum_knots wrong"),
// coefficients ("max_coefficients too small"), Y knots, the X region
// ("xstrelm, xendelm problem"); 20006 the Y region; 20005 XMAX_WORK below
// 4 x XENDELM ("xmax_work too small"); 20006 YMAX_WORK below 4 x YENDELM.
void MA_CAL_2DNCUBSPLINE(int mode, Index max_xknots, Index num_xknots,
                         std::span<const float> x_knots, Index max_yknots, Index num_yknots,
                         std::span<const float> y_knots, Index max_coefficients,
                         std::span<const float> coefficients, Index xmaxdat,
                         std::span<const float> x_coords, Index ymaxdat,
                         std::span<const float> y_coords, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, Index xmax_work, Index ymax_work,
                         std::span<float> array, std::span<float> x_basis,
                         std::span<float> y_basis, std::span<int> x_interval,
                         std::span<int> y_interval, Status& status);

// Smoothing bicubic spline surface fit to scattered points (x, y, z) with
// weights W over xb..xe by yb..ye, degrees KX, KY (1..5), smoothing factor S:
// the surface with the fewest knots (added where the residuals are largest)
// and, once the knots suffice, the smoothing parameter that makes the
// weighted sum of squared residuals FP equal S. IOPT 0 starts afresh, 1
// continues from the knots of a previous call (WRK1 kept), -1 fits the least-
// squares spline on the given knots. IER: 0 and negative a surface was found
// (-1 interpolating, -2 the least-squares polynomial, below -2 rank deficient);
// 1 to 5 not, or only approximately; 10 a refused argument (with its line on
// the terminal); above 10 LWRK2 is too small (IER is the length needed).
void SURFIT(int iopt, Index m, std::span<const float> x, std::span<const float> y,
            std::span<const float> z, std::span<const float> w, float xb, float xe, float yb,
            float ye, int kx, int ky, float s, Index nxest, Index nyest, Index nmax, float eps,
            Index& nx, std::span<float> tx, Index& ny, std::span<float> ty, std::span<float> c,
            float& fp, std::span<float> wrk1, Index lwrk1, std::span<float> wrk2, Index lwrk2,
            std::span<int> iwrk, Index kwrk, int& ier);

// Fits a smoothing surface (s = NUM_POINTS x SIGMA^2) to the scattered points
// and writes its values over the region of ARRAY at X_COORDS (per column) and
// Y_COORDS (per row). Without WEIGHTED every weight is set to 1.0 (WEIGHTS is
// then written). FAILED 0 when the surface was evaluated, 1 when not (ARRAY
// unchanged, with a warning). Checks: 20001 MAX_POINTS or XMAXDAT < 1, 20002
// YMAXDAT < 1, 20005 and 20006 the region, 20017 OPTION not 0, 20005
// NUM_POINTS outside 1..MAX_POINTS.
void MA_SINTERPOLATE(int option, bool weighted, float sigma, Index max_points, Index num_points,
                     std::span<const float> x, std::span<const float> y,
                     std::span<const float> z, Index xmaxdat, Index ymaxdat, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> x_coords, std::span<const float> y_coords,
                     std::span<float> weights, int& failed, float& fp, std::span<float> array,
                     Status& status);

}  // namespace kesta
