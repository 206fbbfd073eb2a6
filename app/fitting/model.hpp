#pragma once
// The 2-D feature model: Gaussians, polar and twin polar Gaussians, one
// Chebyshev background surface and one row-line of fibre peaks, each a run of
// entries of the fit parameter arrays tagged by a parameter code. One routine
// (kzt_model_image) turns the parameter vector into an image over a region;
// the fit, the click input, MODEL and the parameter file all use it.
//
// Parameter code, decimal digits from the right: 1-2 feature number, 3-4
// feature type, 5-6 parameter number (1 = first), 7 constrained, 8 the unit
// class used when fitted values are reported.
//
// Positions and widths of peaks are in axis units (the data's X and Y axis
// values); angles in radians.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kMaxFitParameters = 200;
inline constexpr int kMaxFitResults = 100;
// Chebyshev surface orders 0..39 (a 40 x 40 coefficient table).
inline constexpr int kMaxSurfaceOrder = 39;
inline constexpr int kSurfaceTable = kMaxSurfaceOrder + 1;
// A feature holds at most 99 parameters (two-digit parameter number).
inline constexpr int kMaxFeatureParameters = 99;
// Row-line orders: 12 fixed parameters plus one intensity per order.
inline constexpr int kRowLineFixed = 12;
inline constexpr int kMaxRowLineOrders = kMaxFeatureParameters - kRowLineFixed;
// Peaks are drawn with table sampling and a cut-off of 5 widths.
inline constexpr float kPeakCutoff = 5.0f;
inline constexpr int kPeakMode = 1;

enum FeatureType : int {
  kGaussian = 6,
  kPolarCentre = 7,
  kPolar = 8,
  kTwinCentre = 10,
  kTwin = 11,
  kSurface = 20,
  kRowLine = 50,
};

// Digit N (1 = units) of |CODE|.
int code_digit(int code, int n);
inline int code_feature(int code) { return code_digit(code, 1) + 10 * code_digit(code, 2); }
inline int code_type(int code) { return code_digit(code, 3) + 10 * code_digit(code, 4); }
inline int code_parameter(int code) { return code_digit(code, 5) + 10 * code_digit(code, 6); }
// The code of parameter P (1-based) of feature F of type T.
inline int make_code(int feature, int type, int parameter) {
  return feature + 100 * type + 10000 * parameter;
}

// The fit state: model, names, scales, constraints, results. A value type:
// a parameter file is read into a fresh one and swapped in on success.
struct FitModel {
  int num_parameters = 0;
  int num_features = 0;
  int num_results = 0;
  int x_order = 0;
  int y_order = 0;
  float x_min_poly = 0.0f;
  float y_min_poly = 0.0f;
  float x_max_poly = 1.0f;
  float y_max_poly = 1.0f;
  std::array<float, kMaxFitParameters> params{};
  std::array<int, kMaxFitParameters> codes{};
  std::array<bool, kMaxFitParameters> constraints{};
  std::array<float, kMaxFitParameters> scales{};
  std::array<std::string, kMaxFitParameters> names{};
  std::array<float, kMaxFitResults> results{};
  std::array<float, kMaxFitResults> result_errors{};
  std::array<std::string, kMaxFitResults> result_names{};
};

// What the model needs besides the parameters (the VOSQ_KZT_LSQINC words and
// the geometry of the row-line). XNUMDAT x YNUMDAT is the defined extent:
// axis values beyond it are no coordinates of the data, whatever the arrays
// hold there, so every conversion between axis units and pixels takes it.
struct ModelFrame {
  Index xmaxdat = 0;
  Index ymaxdat = 0;
  Index xnumdat = 0;
  Index ynumdat = 0;
  std::span<const float> x_axis;
  std::span<const float> y_axis;
  float x_pixel_size = 1.0e-4f;
  float y_pixel_size = 1.0e-4f;
  bool geometry_known = false;
  float sample_distance = 0.0f;
};

// Saved between features of one evaluation: the symmetry centre of the last
// type 7, 10 or 50 feature (0, 0 before any).
struct SymmetryCentre {
  float x = 0.0f;
  float y = 0.0f;
};

// The parameters of one feature by parameter number - 1 (gathered from the
// codes), where each sits in the model's arrays (-1: none), the feature's
// type (of its first parameter) and the highest parameter number found.
struct FeatureParameters {
  int type = 0;
  int count = 0;
  std::array<float, kMaxFeatureParameters> p{};
  std::array<int, kMaxFeatureParameters> index = [] {
    std::array<int, kMaxFeatureParameters> none{};
    none.fill(-1);
    return none;
  }();
};
FeatureParameters kzt_feature_parameters(const FitModel& model, int feature);

// What a fitted feature of one type must hold to be a possible peak, by
// parameter number (1 = first): its centre (0: none in that direction), the
// parameters that must be above 0, whether its results must be above 0
// (else only finite numbers), and the first of the parameters from there on
// that must not be below 0 (0: none).
struct FeatureNeeds {
  int x = 0;
  int y = 0;
  std::vector<int> positive;
  bool positive_results = false;
  int not_negative_from = 0;
};

// What a fit gives besides the parameters of the model: the value shown for
// each parameter (the model's own when empty), and its results with the
// feature each belongs to.
struct FittedValues {
  std::span<const float> shown;
  std::span<const float> results;
  std::span<const std::string> result_names;
  std::span<const int> owners;
};

// The check of a fitted model, whatever the fit: feature by feature, with the
// parameters read by their codes, a parameter or result that is not a finite
// number, a centre for which INSIDE (centre X, centre Y or 0.0) is false, a
// parameter NEEDS asks to be above 0 that is not, a result not above 0 where
// asked. One line "WARNING: Feature n is not valid: ..." per feature found
// wanting, naming what and its value; none when the model is valid.
std::vector<std::string> kzt_fit_faults(const FitModel& model, FeatureNeeds (*needs)(int type),
                                        const std::function<bool(float, float)>& inside,
                                        const FittedValues& values);

// The line that follows the faults of a fit that keeps its values.
inline constexpr const char* kNotValidModel =
    "WARNING: The fit has not found a valid model (the fitted values are kept to be looked at)";

// What the model would refuse, or could not evaluate, in MODEL's values: a
// parameter or scale that is not a finite number, a free parameter of scale
// 0, a code the model would not read (negative or of more than eight digits,
// a constraint digit other than 0 or 1, a unit class on a feature other than
// a row-line or one no report knows, a feature number beyond the features,
// a type it does not know or other than its feature's, a parameter number
// the type does not have or given twice), a feature without all of its
// parameters (a surface's coefficient count follows its orders), a second
// Chebyshev surface, one of orders beyond the table or over an empty
// normalisation range, a row-line whose orders are reversed, too many or
// without their intensities, and result names other than those its features
// give (kzt_result_names; a model saved before its first fit may lack the
// row-line's). Empty when there is nothing; else a text that follows "holds"
// in a message.
std::string kzt_model_fault(const FitModel& model);

// The names of the results a fit of MODEL gives, in the order it gives them
// (feature by feature; at most kMaxFitResults): "GAU nn INT" for a 2-D
// Gaussian, "PGa nn INT" for a polar Gaussian, "TPG nn In1" and "In2" for a
// twin, "ROW" and the row-line's count, "I" and the order for each order of
// a row-line (left out when WITH_ROWLINE is false). Features without all of
// their parameters give none.
std::vector<std::string> kzt_result_names(const FitModel& model, bool with_rowline = true);

// The noise of MISFITS (data minus model, element by element along a line):
// the standard deviation of Gaussian noise, 1.4826 times the median of the
// absolute differences of neighbouring misfits over the square root of 2.
// One outlying element lifts two differences, which the median passes over;
// a shift or tilt the fit gives way to (an outlier pulls a least-squares
// background towards it) is the same in neighbouring elements and drops out
// of their difference. 0 for fewer than two.
float kzt_misfit_noise(std::span<const double> misfits);

// The note of a fit that leaves out COUNT values (UNITS: "elements" of an
// image, "channels" of a row) that are not finite numbers; nothing for 0.
void kzt_non_finite_note(Index count, std::string_view units, Status& status);

// KZT_FUNTYPE: type and 1-based index of the first parameter of FEATURE
// (0, 0 when it has none). MAX_PARAMETERS < 1 gives 1; NUM_PARAMETERS outside
// 1..MAX_PARAMETERS gives 5 (status codes of the application base).
void KZT_FUNTYPE(int max_parameters, std::span<const int> codes, int num_parameters, int feature,
                 int& type, int& index, Status& status);

// KZT_CAL_PROJECTION: pixel position of the direction (ANGLE_1, ANGLE_2) in a
// frame turned so that (C, S) is its radial unit vector. A distance or pixel
// size that is not positive gives 110021, an angle outside (-pi/2, pi/2)
// 110022; nothing is written then.
void KZT_CAL_PROJECTION(float distance, float x_pixel_size, float y_pixel_size, float x_centre,
                        float y_centre, float c, float s, float angle_1, float angle_2, float& x,
                        float& y, Status& status);

// Axis value <-> continuous pixel coordinate (pixel i covers i - 1 .. i).
// An axis whose NUM defined values run strictly up or down (a d-spacing
// scale runs down, unevenly) is followed value by value and extrapolated
// with its end steps; any other is taken as the line through its first and
// last values. NUM is the defined count, never the array size.
float axis_to_pixel(std::span<const float> axis, Index num, float value);
float pixel_to_axis(std::span<const float> axis, Index num, float pixel);
// The extent in axis units of the pixel at axis value VALUE (a d-spacing
// axis's pixels differ along it; 1 where the axis gives none).
float axis_step_at(std::span<const float> axis, Index num, float value);

// The peak positions (axis units) of one row-line pass, orders LOW..HIG, from
// the row-line parameters (P points at LOW): the primary line, or the
// REFLECTED one, each on its side of the radius as the axes run, whichever
// way the pixels do. False when the geometry is not
// known; an order whose direction leaves the detector plane gets a NaN
// position.
struct RowLinePeak {
  float x = 0.0f;
  float y = 0.0f;
};
bool kzt_rowline_positions(const ModelFrame& frame, std::span<const float> p, int low, int high,
                           bool reflected, std::vector<RowLinePeak>& peaks);

// KZT_ROWLINE: adds both passes of a row-line (parameters P in the feature's
// order) to ARRAY over the region. Orders beyond kMaxRowLineOrders or
// LOW > HIG give 110013; no geometry gives 111007.
void KZT_ROWLINE(const ModelFrame& frame, std::span<const float> p, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<float> array, Status& status);

// KZT_FEATURE: adds feature FEATURE of MODEL to ARRAY over the region.
void KZT_FEATURE(const ModelFrame& frame, const FitModel& model, int feature, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, SymmetryCentre& centre,
                 std::span<float> array, Status& status);

// The model image: the region of ARRAY set to 0.0, then every feature added
// in order (KZT_FUNKESTA's work).
void kzt_model_image(const ModelFrame& frame, const FitModel& model, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, std::span<float> array, Status& status);

// KZT_PGAUINT: integrated intensity (data units x pixels) of one polar
// Gaussian, summed over its reach inside the region only. SCRATCH is a work
// array of XMAXDAT x YMAXDAT values, made at the first call and written over
// the peak's reach only.
float KZT_PGAUINT(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float height, float x_peak, float y_peak, float x_polar,
                  float y_polar, float radial_width, float angular_width,
                  std::unique_ptr<float[]>& scratch, Status& status);

// Ten-character names.
std::string feature_name(const char* prefix, int number, const char* tag);

}  // namespace kesta
