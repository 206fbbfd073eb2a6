#pragma once
// Weighted least-squares polynomial fitting in Chebyshev-series form, in one
// variable and for a surface over data lying on lines of constant Y, and the
// matching evaluators. A series of order n has n + 1 coefficients over the
// normalised variable t = ((x - X_MIN) - (X_MAX - x)) / (X_MAX - X_MIN):
// value = c(1) / 2 + sum over j = 1..n of c(j + 1) T_j(t).

#include <span>

#include "core/types.hpp"

namespace kesta {

// Fits all degrees 0..MAX_DEGREE at once (Forsythe's orthogonal polynomials
// held in Chebyshev form). Row d + 1 of TABLE (declared TABLE_ROWS x
// TABLE_COLUMNS, column-major) receives the coefficients of the degree-d fit,
// RESIDUALS(d + 1) its weighted residual sqrt(sum (w r)^2 / (M - d - 1)), or 0
// when d + 1 >= M. Work arrays: three of NUM_DATA values (DATA_WORK_LENGTH)
// and two of MAX_DEGREE + 1 (COEFF_WORK_LENGTH). RETSTAT is set to 0.
// Checks in order: 20001 MAX_DATA <= 0; 20002 TABLE_COLUMNS <= 0; 20005
// MAX_DEGREE < 0 or not below either table dimension; 20017 NUM_DATA < 2,
// above MAX_DATA or OPTION true; 20037 a work array too short; 20021 a
// negative weight or a decreasing X; 21014 fewer distinct X values (among the
// points of non-zero weight) than MAX_DEGREE + 1; 20013 X_MIN >= X_MAX
// (without AUTO_RANGE, which takes them from the first and last X).
void MA_POLYNOMIAL(bool weighted, bool auto_range, bool option, Index max_data, Index num_data,
                   std::span<const float> x, std::span<const float> y,
                   std::span<const float> weights, Index table_rows, Index table_columns,
                   int max_degree, Index data_work_length, Index coeff_work_length, float& x_min,
                   float& x_max, int& retstat, std::span<float> table, std::span<float> residuals,
                   std::span<float> data_work1, std::span<float> data_work2,
                   std::span<float> data_work3, std::span<float> coeff_work1,
                   std::span<float> coeff_work2, Status& status);

// Fits one degree: COEFFS receives ORDER + 1 values, RESIDUAL that degree's
// residual. Checks: 20001 MAX_DATA < 1; 20005 ORDER < 0 or >= MAX_COEFFS;
// 20017 NUM_DATA < 2, above MAX_DATA or OPTION true; then MA_POLYNOMIAL's.
void MA_1DCHEBYSHEV(bool weighted, bool auto_range, bool option, Index max_data, Index num_data,
                    std::span<const float> x, std::span<const float> y,
                    std::span<const float> weights, Index max_coeffs, int order, float& x_min,
                    float& x_max, int& retstat, std::span<float> coeffs, float& residual,
                    Status& status);

// Evaluates the series at the NUM_COORDINATES positions X (positions outside
// X_MIN..X_MAX take the end value); ADD adds to Y, else replaces. Checks:
// 20001 MAX_COORDINATES or MAX_COEFFS <= 0; 20005 NUM_COORDINATES outside
// 1..MAX_COORDINATES (also written to the terminal); 20021 X_MIN >= X_MAX;
// 20017 ORDER < 0 or beyond the coefficients.
void MA_CAL_POLYNOMIAL(bool add, float x_min, float x_max, Index max_coeffs, int order,
                       std::span<const float> coeffs, Index max_coordinates,
                       Index num_coordinates, std::span<const float> x, std::span<float> y,
                       Status& status);

// Fits a surface of orders X_ORDER, Y_ORDER to points on NUM_LINES lines of
// constant Y (LINE_Y non-decreasing, POINTS_PER_LINE points each, the points
// line by line in X, Z, W). COEFFS is MAX_XCOEFF x MAX_YCOEFF, column-major.
// RETSTAT 2 when a fit across the lines failed (STATUS stays good).
// Checks: 20001 MAX_LINES, MAX_POINTS or MAX_XCOEFF < 1; 20002 MAX_YCOEFF < 1;
// 20017 X_ORDER outside 0..MAX_XCOEFF - 1; 20018 Y_ORDER outside
// 0..MAX_YCOEFF - 1; 20005 NUM_LINES outside 1..MAX_LINES or a total number
// of points outside 1..MAX_POINTS.
void MA_2DCHEBYSHEV(bool weighted, bool option, Index max_lines, Index num_lines,
                    std::span<const Index> points_per_line, std::span<const float> line_y,
                    Index max_points, std::span<const float> x, std::span<const float> z,
                    std::span<const float> w, Index max_xcoeff, Index max_ycoeff, int x_order,
                    int y_order, int& retstat, float& x_min, float& y_min, float& x_max,
                    float& y_max, std::span<float> coeffs, Status& status);

// Evaluates the surface at the pixel centres (X_COORDS per column, Y_COORDS
// per row) of the region of ARRAY, adding with ADD, else replacing. Work:
// ROW_VALUES of ROW_WORK_LENGTH values and ROW_COEFFS of XCOEFF_WORK_LENGTH x
// ROW_WORK_LENGTH values. Checks: 20001 XMAXDAT, MAX_XCOEFF or
// XCOEFF_WORK_LENGTH < 1; 20002 YMAXDAT or MAX_YCOEFF < 1; 20005 X_ORDER
// outside 0..min(MAX_XCOEFF, XCOEFF_WORK_LENGTH) - 1 or a bad X region;
// 20006 Y_ORDER outside 0..MAX_YCOEFF - 1, more region rows than
// ROW_WORK_LENGTH or a bad Y region; 20013 X_MIN >= X_MAX; 20014
// Y_MIN >= Y_MAX.
void MA_CAL_2DCHEBYSHEV(bool add, float x_min, float y_min, float x_max, float y_max,
                        Index max_xcoeff, Index max_ycoeff, std::span<const float> coeffs,
                        int x_order, int y_order, Index xmaxdat, Index ymaxdat, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Index xcoeff_work_length,
                        Index row_work_length, std::span<const float> x_coords,
                        std::span<const float> y_coords, std::span<float> row_values,
                        std::span<float> row_coeffs, std::span<float> array, Status& status);

}  // namespace kesta
