#include "app/imageops/geometric_transforms.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "app/imageops/conventions.hpp"
#include "app/imageops/image_filters.hpp"
#include "app/main/data_store.hpp"
#include "app/main/kzt_common.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/rebin.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/rotate.hpp"
#include "numeric/transform2d.hpp"

namespace kesta {
namespace {

// Degrees per radian as the angle prompts convert them.
constexpr float kDegrees = 180.0f / 3.1415925f;

struct MoveAnswers {
  bool direct = true;
  float angle = 0.0f;  // radians
  float xcentre = 0.0f;
  float ycentre = 0.0f;
  float xshift = 0.0f;
  float yshift = 0.0f;
  float points[8] = {100.0f, 100.0f, 200.0f, 100.0f, 200.0f, 100.0f, 200.0f, 200.0f};
  int subpixels = 0;
};

struct RebinAnswers {
  float xfactor = 2.0f;
  float yfactor = 2.0f;
  float xreference = 0.0f;
  float yreference = 0.0f;
  int xstart = 1;
  int ystart = 1;
  int xlower = 1;
  int ylower = 1;
  int xupper = INT_MAX;
  int yupper = INT_MAX;
};

struct TransformAnswers {
  bool centre_set = false;  // the region's middle on first use
  float xcentre = 0.0f;
  float ycentre = 0.0f;
  float angle = 0.0f;  // degrees
  float xshift = 0.0f;
  float yshift = 0.0f;
};

struct ReflectAnswers {
  float points[4] = {0.0f, 0.0f, 1.0f, 1.0f};
};

struct FlipAnswers {
  bool left_right = true;
};

int prompt_limit(Index value) { return static_cast<int>(std::clamp<Index>(value, 1, INT_MAX)); }

// An integer question between LOWER and UPPER whose default is kept inside.
void ask_integer(std::string_view prompt, std::string_view help, std::string_view error, int lower,
                 int upper, int& value, Status& status) {
  value = std::clamp(value, lower, std::max(lower, upper));
  IO_INPI(true, lower, upper, true, prompt, {std::string(help)}, {std::string(error)}, value,
          status);
}

void ask_real(std::string_view prompt, std::string_view help, std::string_view error, float& value,
              Status& status) {
  IO_INPR(false, 0.0f, 0.0f, true, prompt, {std::string(help)}, {std::string(error)}, value,
          status);
}

// The output region questions of MOVE/ROTATE.
void ask_output_region(Index xmaxdat, Index ymaxdat, KztMemoryExtent& out, Status& status) {
  int xs = 1, ys = 1;
  int xe = prompt_limit(xmaxdat), ye = prompt_limit(ymaxdat);
  ask_integer("X-MINIMUM PIXEL", "Minimum X-pixel of output region",
              "Enter integer within given range", 1, prompt_limit(xmaxdat), xs, status);
  ask_integer("Y-MINIMUM PIXEL", "Minimum Y-pixel of output region",
              "Enter integer within given range", 1, prompt_limit(ymaxdat), ys, status);
  ask_integer("X-MAXIMUM PIXEL", "Maximum X-pixel of output region",
              "Enter integer within given range", xs, prompt_limit(xmaxdat), xe, status);
  ask_integer("Y-MAXIMUM PIXEL", "Maximum Y-pixel of output region",
              "Enter integer within given range", ys, prompt_limit(ymaxdat), ye, status);
  out.xstrelm = xs;
  out.ystrelm = ys;
  out.xendelm = xe;
  out.yendelm = ye;
}

// The two time lines of a transformation, from the times at its start.
void write_times(double elapsed0, double cpu0, Status& status) {
  double elapsed = 0.0, cpu = 0.0;
  IO_TIMES(elapsed, cpu, status);
  IO_WRITE("INFO: CPU time (seconds) for transformation = " + format_f(cpu - cpu0, 7, 2), status);
  IO_WRITE("      Elapse time (seconds) for transformation = " + format_f(elapsed - elapsed0, 7, 2),
           status);
}

// AXIS(1..N) = START + (I - 1) x STEP.
void fill_axis(std::span<float> axis, Index n, double start, double step) {
  for (Index i = 1; i <= n; ++i)
    axis[static_cast<std::size_t>(i - 1)] = static_cast<float>(start + (i - 1) * step);
}

// The axes of the current data and of the memory must hold the declared
// sizes: 110001 with POSITION recorded otherwise.
bool axes_refused(std::string_view position, Index xmaxdat, Index ymaxdat,
                  std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> mxaxis, std::span<const float> myaxis, Status& status) {
  const Status code = spans_error({{xmaxdat, 1, xaxis.size()},
                                   {ymaxdat, 1, yaxis.size()},
                                   {xmaxdat, 1, mxaxis.size()},
                                   {ymaxdat, 1, myaxis.size()}},
                                  kBaseApp);
  if (code != 0) st_fail(status, code, position);
  return code != 0;
}

// The entry check of a transform from the current data into the memory:
// region and spans of data and memory (and of their variances when they
// exist), then the four axes.
bool transform_refused(std::string_view position, Index xmaxdat, Index ymaxdat, Index xstrelm,
                       Index ystrelm, Index xendelm, Index yendelm, bool variances_exist,
                       std::initializer_list<std::size_t> data_spans,
                       std::initializer_list<std::size_t> variance_spans,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> mxaxis, std::span<const float> myaxis,
                       Status& status) {
  if (kzt_region_refused(position, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         data_spans))
    return true;
  if (variances_exist && kzt_region_refused(position, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                                            yendelm, status, variance_spans))
    return true;
  return axes_refused(position, xmaxdat, ymaxdat, xaxis, yaxis, mxaxis, myaxis, status);
}

}  // namespace

float kzt_axis_step(std::span<const float> axis, Index start, Index end) {
  float step = 1.0f;
  if (start<end&& static_cast<Index>(axis.size())> start)
    step = axis[static_cast<std::size_t>(start)] - axis[static_cast<std::size_t>(start - 1)];
  else if (start > 1 && static_cast<Index>(axis.size()) >= start)
    step = axis[static_cast<std::size_t>(start - 1)] - axis[static_cast<std::size_t>(start - 2)];
  return step == 0.0f || !std::isfinite(step) ? 1.0f : step;
}

float kzt_pixel_coordinate(std::span<const float> axis, Index num, float value) {
  num = std::min<Index>(num, static_cast<Index>(axis.size()));
  if (num < 1) return value;
  const float first = axis[0];
  const float last = axis[static_cast<std::size_t>(num - 1)];
  if (num >= 2 && first < last && value >= first && value <= last) {
    Status local = kStatusGood;
    float pixel = 0.0f;
    MA_DC2PIXC(num, num, axis, value, pixel, local);
    if (local == kStatusGood) return pixel;
  }
  if (num < 2 || std::abs(value - first) <= std::abs(value - last))
    return 0.5f + (value - first) / kzt_axis_step(axis, 1, num);
  return static_cast<float>(num) - 0.5f + (value - last) / kzt_axis_step(axis, num, num);
}

void KZT_MOVE(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
              std::span<const float> yaxis, std::span<const float> data,
              std::span<const float> variances, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, float x_pixel_size, float y_pixel_size,
              std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
              std::span<float> mvariances, KztMemoryExtent& memory, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_MOVE V0.5";
  if (transform_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                        variances_exist, {data.size(), mdata.size()},
                        {variances.size(), mvariances.size()}, xaxis, yaxis, mxaxis, myaxis,
                        status))
    return;

  MoveAnswers answers = remembered<MoveAnswers>();
  IO_INPL(false, false, false, true, "DIRECT DEFINITION TRANSLATION/ROTATION",
          {"Enter \"YES\" to define the rotation and translation directly: the",
           "centre of rotation, the angle of rotation and the translation vector.",
           "Enter \"NO\" to define them through two input coordinates and the two",
           "output coordinates to which they are to be moved; the rotation and",
           "translation are then calculated automatically.",
           "The data is first rotated about the centre, then translated.",
           "If the distance between the two input coordinates differs from the",
           "distance between the two output coordinates the operation cannot be",
           "exact: the two lines are aligned with their mid-points equal."},
          {"Enter \"YES\" or \"NO\""}, answers.direct, status);
  if (status != kStatusGood) return;
  float length_mismatch = 0.0f;
  if (answers.direct) {
    IO_WRITE("INFO: First the data is rotated about a fixed coordinate, THEN a", status);
    IO_WRITE("INFO: translation is applied. (Output in the memory)", status);
    float degrees = answers.angle * kDegrees;
    IO_INPR(true, -360.0f, 360.0f, true, "ROTATION ANGLE (DEGREES)",
            {"Angle of rotation in degrees (positive angle is anti-clockwise rotation)"},
            {"Enter angle within given range"}, degrees, status);
    if (status != kStatusGood) return;
    answers.angle = degrees / kDegrees;
    if (answers.angle != 0.0f) {
      answers.xcentre = (xaxis[static_cast<std::size_t>(xstrelm - 1)] +
                         xaxis[static_cast<std::size_t>(xendelm - 1)]) /
                        2.0f;
      answers.ycentre = (yaxis[static_cast<std::size_t>(ystrelm - 1)] +
                         yaxis[static_cast<std::size_t>(yendelm - 1)]) /
                        2.0f;
      ask_real("X CENTRE ROTATION", "X-coordinate of centre of rotation", "Enter real number",
               answers.xcentre, status);
      ask_real("Y CENTRE ROTATION", "Y-coordinate of centre of rotation", "Enter real number",
               answers.ycentre, status);
    }
    ask_real("X TRANSLATION", "X-component of translation vector (data coordinates)",
             "Enter real number", answers.xshift, status);
    ask_real("Y TRANSLATION", "Y-component of translation vector (data coordinates)",
             "Enter real number", answers.yshift, status);
  } else {
    IO_WRITE("INFO: Enter two input coordinates followed by their corresponding", status);
    IO_WRITE("INFO: output coordinates from which a rotation and/or ", status);
    IO_WRITE("INFO: translation will be automatically calculated.", status);
    IO_WRITE("INFO: If the distances between the input and output coordinates", status);
    IO_WRITE("INFO: are different the operation cannot be exact,", status);
    IO_WRITE("INFO: but the vectors will be aligned with their mid-points equal.", status);
    static constexpr std::string_view kOrdinal[] = {"FIRST", "SECOND"};
    static constexpr std::string_view kHelpOrdinal[] = {"first", "second"};
    for (int i = 0; i < 8; ++i) {
      const std::string_view kind = i < 4 ? "INPUT" : "OUTPUT";
      const std::string_view help_kind = i < 4 ? "input" : "output";
      const std::string_view component = i % 2 == 0 ? "X" : "Y";
      const int which = (i / 2) % 2;
      ask_real(std::string(kOrdinal[which]) + " " + std::string(kind) + " " +
                   std::string(component) + "-COORDINATE",
               "Enter " + std::string(component) + "-component of " +
                   std::string(kHelpOrdinal[which]) + " " + std::string(help_kind) + " coordinate",
               "Enter real number", answers.points[i], status);
    }
    if (status != kStatusGood) return;
    const float* p = answers.points;
    MA_CAL_2DTRANSFORMATION(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], answers.xcentre,
                            answers.ycentre, answers.angle, answers.xshift, answers.yshift,
                            length_mismatch, status);
    if (status != kStatusGood) return;
    IO_WRITE("INFO: Estimated distance error at transformation coordinates = " +
                 format_f(length_mismatch, 8, 4),
             status);
  }
  if (status != kStatusGood) return;

  // The centre in pixel coordinates, the translation in pixels.
  const float xstep = kzt_axis_step(xaxis, xstrelm, xendelm);
  const float ystep = kzt_axis_step(yaxis, ystrelm, yendelm);
  const float xcentre = kzt_pixel_coordinate(xaxis, xendelm, answers.xcentre);
  const float ycentre = kzt_pixel_coordinate(yaxis, yendelm, answers.ycentre);
  const float xshift = answers.xshift / xstep;
  const float yshift = answers.yshift / ystep;

  IO_INPI(true, 0, 100, true, "SUB-PIXELS (0 = TRIANGLE RE-BINNING)",
          {"The fast method (\"centre mapping\") puts the whole content of each input",
           "pixel into the output pixel where the centre of the input pixel lands.",
           "For this option enter: 1.",
           "Otherwise the intensity of each input pixel is distributed over the",
           "output pixels in proportion to the area of each output pixel that the",
           "transformed input pixel covers (exact area re-binning).",
           "Division of the input pixels into sub-pixels has been replaced by the",
           "exact area calculation, so any other value gives exact area re-binning,",
           "which takes about the same time as 2 by 2 sub-pixels did.",
           "Enter 0 for the exact area (triangle) re-binning."},
          {"Enter integer within give range"}, answers.subpixels, status);
  KztMemoryExtent out;
  ask_output_region(xmaxdat, ymaxdat, out, status);
  if (status != kStatusGood) return;
  remembered<MoveAnswers>() = answers;

  double elapsed0 = 0.0, cpu0 = 0.0;
  IO_TIMES(elapsed0, cpu0, status);
  auto transform = [&](std::span<const float> in, std::span<float> output) {
    if (answers.subpixels == 1)
      MA_RROTATE(xmaxdat, ymaxdat, in, xstrelm, ystrelm, xendelm, yendelm, xcentre, ycentre,
                 answers.angle, xshift, yshift, 1, 1, xmaxdat, ymaxdat, out.xstrelm, out.ystrelm,
                 out.xendelm, out.yendelm, output, status);
    else
      // Data and variances take the same exact-area road, so that both land
      // on the same pixels whatever the pixels' shape.
      MA_2DTRANSFORM(xmaxdat, ymaxdat, in, xstrelm, ystrelm, xendelm, yendelm, xcentre, ycentre,
                     answers.angle, xshift, yshift, x_pixel_size, y_pixel_size, xmaxdat, ymaxdat,
                     out.xstrelm, out.ystrelm, out.xendelm, out.yendelm, output, status);
  };
  transform(data, mdata);
  if (variances_exist) transform(variances, mvariances);
  if (status != kStatusGood) return;

  fill_axis(mxaxis, out.xendelm,
            xaxis[static_cast<std::size_t>(xstrelm - 1)] - (xstrelm - 1) * double{xstep}, xstep);
  fill_axis(myaxis, out.yendelm,
            yaxis[static_cast<std::size_t>(ystrelm - 1)] - (ystrelm - 1) * double{ystep}, ystep);
  double elapsed = 0.0, cpu = 0.0;
  IO_TIMES(elapsed, cpu, status);
  IO_WRITE("INFO: Time for transformation = " + format_f(elapsed - elapsed0, 12, 2) + " seconds",
           status);
  out.xnumdat = out.xendelm;
  out.ynumdat = out.yendelm;
  memory = out;
}

void kzt_transform_form(KztTransformForm& fields, Status& status) {
  if (st_bad(status, "Subroutine KZT_TRANSFORM V0.4")) return;
  constexpr float kMicrons = 1.0e6f;
  const auto real = [](std::string label, std::string description, std::string prompt,
                       float value, bool ranged, float lower, float upper) {
    GsFormItem item =
        kzt_form_item(std::move(label), 3, std::move(description), std::move(prompt));
    item.real_value = value;
    item.ranged = ranged;
    item.real_lower = lower;
    item.real_upper = upper;
    return item;
  };
  const auto pixel = [](std::string label, std::string description, std::string prompt,
                        Index value) {
    GsFormItem item =
        kzt_form_item(std::move(label), 1, std::move(description), std::move(prompt));
    item.int_value = static_cast<int>(std::clamp<Index>(value, INT_MIN, INT_MAX));
    return item;
  };
  std::vector<GsFormItem> items{
      real("X-PIXEL SIZE", "HORIZONTAL PIXEL SIZE (MICRONS)",
           "SIZE OF HORIZONTAL PIXELS (MICRONS)", fields.x_pixel_size * kMicrons, true, 0.001f,
           10000.0f),
      real("Y-PIXEL SIZE", "VERTICAL PIXEL SIZE (MICRONS)", "SIZE OF VERTICAL PIXELS (MICRONS)",
           fields.y_pixel_size * kMicrons, true, 0.001f, 10000.0f),
      real("X-CENTRE", "X-CENTRE OF ROTATION (PIXELS)", "X-PIXEL COORDINATE OF ROTATION CENTRE",
           fields.xcentre, false, 0.0f, 0.0f),
      real("Y-CENTRE", "Y-CENTRE OF ROTATION (PIXELS)", "Y-PIXEL COORDINATE OF ROTATION CENTRE",
           fields.ycentre, false, 0.0f, 0.0f),
      real("ANGLE", "ROTATION ANGLE (DEGREES ANTI-CLOCKWISE)",
           "ANGLE OF ROTATION (DEGREES ANTI-CLOCKWISE)", fields.angle, true, -360.0f, 360.0f),
      real("X-TRANSLATION", "X-TRANSLATION (PIXELS)", "TRANSLATION IN X-DIRECTION (PIXELS)",
           fields.xshift, false, 0.0f, 0.0f),
      real("Y-TRANSLATION", "Y-TRANSLATION (PIXELS)", "TRANSLATION IN Y-DIRECTION (PIXELS)",
           fields.yshift, false, 0.0f, 0.0f),
      pixel("X-START OUT", "FIRST X-PIXEL OF OUTPUT REGION",
            "STARTING PIXEL OF OUTPUT REGION (X)", fields.oxstrelm),
      pixel("Y-START OUT", "FIRST Y-PIXEL OF OUTPUT REGION",
            "STARTING PIXEL OF OUTPUT REGION (Y)", fields.oystrelm),
      pixel("X-END OUT", "LAST X-PIXEL OF OUTPUT REGION", "END PIXEL OF OUTPUT REGION (X)",
            fields.oxendelm),
      pixel("Y-END OUT", "LAST Y-PIXEL OF OUTPUT REGION", "END PIXEL OF OUTPUT REGION (Y)",
            fields.oyendelm)};
  int return_code = 0;
  GS_FORM(2, 2, {"ROTATION PARAMETER", "CONTROL FORM"}, 2, 2,
          {"Enter rotation centre, angle of rotation,", "and output region limits"}, 16, items,
          return_code, status);
  if (status != kStatusGood) return;
  if (return_code != 0) {
    status = kStatusEscape;
    return;
  }
  fields.x_pixel_size = items[0].real_value / kMicrons;
  fields.y_pixel_size = items[1].real_value / kMicrons;
  fields.xcentre = items[2].real_value;
  fields.ycentre = items[3].real_value;
  fields.angle = items[4].real_value;
  fields.xshift = items[5].real_value;
  fields.yshift = items[6].real_value;
  fields.oxstrelm = items[7].int_value;
  fields.oystrelm = items[8].int_value;
  fields.oxendelm = items[9].int_value;
  fields.oyendelm = items[10].int_value;
}

void KZT_TRANSFORM(KztTransformFormRoutine form, Index xmaxdat, Index ymaxdat,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float& x_pixel_size, float& y_pixel_size, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, KztMemoryExtent& memory,
                   Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_TRANSFORM V0.4";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  if (axes_refused(kPosition, xmaxdat, ymaxdat, xaxis, yaxis, mxaxis, myaxis, status)) return;
  TransformAnswers answers = remembered<TransformAnswers>();
  if (!answers.centre_set) {
    answers.xcentre = 0.5f * static_cast<float>(xstrelm + xendelm - 1);
    answers.ycentre = 0.5f * static_cast<float>(ystrelm + yendelm - 1);
  }
  KztTransformForm fields{x_pixel_size,
                          y_pixel_size,
                          answers.xcentre,
                          answers.ycentre,
                          answers.angle,
                          answers.xshift,
                          answers.yshift,
                          1,
                          1,
                          xmaxdat,
                          ymaxdat};
  if (form == nullptr) {
    kzt_not_available("KZT_TRANSFORM", status);
    return;
  }
  form(fields, status);
  if (status != kStatusGood) return;
  // The form keeps its own ranges; what comes back is checked all the same.
  if (!(fields.x_pixel_size > 0.0f && fields.y_pixel_size > 0.0f) ||
      region_error(xmaxdat, ymaxdat, fields.oxstrelm, fields.oystrelm, fields.oxendelm,
                   fields.oyendelm, kBaseApp) != 0) {
    IO_WRITE("WARNING: The pixel sizes or the output region are not possible", status);
    return;
  }
  answers = {true, fields.xcentre, fields.ycentre, fields.angle, fields.xshift, fields.yshift};
  remembered<TransformAnswers>() = answers;

  IO_WRITE("TRANSFORMING: Please wait", status);
  double elapsed0 = 0.0, cpu0 = 0.0;
  IO_TIMES(elapsed0, cpu0, status);
  MA_2DTRANSFORM(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, fields.xcentre,
                 fields.ycentre, fields.angle / kDegrees, fields.xshift, fields.yshift,
                 fields.x_pixel_size, fields.y_pixel_size, xmaxdat, ymaxdat, fields.oxstrelm,
                 fields.oystrelm, fields.oxendelm, fields.oyendelm, mdata, status);
  if (status != kStatusGood) return;
  write_times(elapsed0, cpu0, status);
  fill_axis(mxaxis, fields.oxendelm, xaxis[0], kzt_axis_step(xaxis, 1, xendelm));
  fill_axis(myaxis, fields.oyendelm, yaxis[0], kzt_axis_step(yaxis, 1, yendelm));
  x_pixel_size = fields.x_pixel_size;
  y_pixel_size = fields.y_pixel_size;
  memory = {fields.oxendelm, fields.oyendelm, fields.oxstrelm,
            fields.oystrelm, fields.oxendelm, fields.oyendelm};
}

void KZT_REBIN([[maybe_unused]] bool gui, float x_pixel_size, float y_pixel_size, Index xmaxdat,
               Index ymaxdat, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const float> variances, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, bool variances_exist, bool& memory_flag,
               std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
               std::span<float> mvariances, KztMemoryExtent& memory, float& mx_pixel_size,
               float& my_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_REBIN V0.3";
  if (transform_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                        variances_exist, {data.size(), mdata.size()},
                        {variances.size(), mvariances.size()}, xaxis, yaxis, mxaxis, myaxis,
                        status))
    return;

  RebinAnswers answers = remembered<RebinAnswers>();
  const float xwidth = static_cast<float>(xendelm - xstrelm + 1);
  const float ywidth = static_cast<float>(yendelm - ystrelm + 1);
  const auto factor_help = [](std::string_view axis) -> std::vector<std::string> {
    return {
        "Enter number of input pixels (in the " + std::string(axis) + "-direction) to be rebinned",
        "(scaled) into 1 output pixel. (If whole numbers are specified for both",
        "the X and the Y-directions the operation will be much faster.",
        "Values smaller than one make one input pixel expand to cover more than",
        "one output pixel."};
  };
  answers.xfactor = std::clamp(answers.xfactor, 0.1f, std::max(0.1f, xwidth));
  answers.yfactor = std::clamp(answers.yfactor, 0.1f, std::max(0.1f, ywidth));
  IO_INPR(true, 0.1f, xwidth, true, "X REBIN NUMBER (NUMBER INPUT TO 1 OUTPUT)", factor_help("X"),
          {"Enter value within given range"}, answers.xfactor, status);
  IO_INPR(true, 0.1f, ywidth, true, "Y REBIN NUMBER (NUMBER INPUT TO 1 OUTPUT)", factor_help("Y"),
          {"Enter value within given range"}, answers.yfactor, status);
  const float xwhole = std::round(answers.xfactor);
  const float ywhole = std::round(answers.yfactor);
  const bool whole = std::abs(answers.xfactor - xwhole) <= 1.0e-5f &&
                     std::abs(answers.yfactor - ywhole) <= 1.0e-5f && xwhole >= 1.0f &&
                     ywhole >= 1.0f;
  const int xlimit = prompt_limit(xmaxdat), ylimit = prompt_limit(ymaxdat);
  if (status == kStatusGood && whole) {
    ask_integer("X START OUTPUT", "X Starting pixel for output", "Must be postive", 1, xlimit,
                answers.xstart, status);
    ask_integer("Y START OUTPUT", "Y Starting pixel for output", "Must be postive", 1, ylimit,
                answers.ystart, status);
  } else if (status == kStatusGood) {
    ask_real("X-REFERENCE POSITION FOR SCALING",
             "Enter X-data coordinate for reference origin of scaling", "Enter real number",
             answers.xreference, status);
    ask_real("Y-REFERENCE POSITION FOR SCALING",
             "Enter Y-data coordinate for reference origin of scaling", "Enter real number",
             answers.yreference, status);
    ask_integer("LOWER X-LIMIT FOR OUTPUT", "X lower pixel limit for output",
                "Enter integer within given range", 1, xlimit, answers.xlower, status);
    ask_integer("LOWER Y-LIMIT FOR OUTPUT", "Y lower pixel limit for output",
                "Enter integer within given range", 1, ylimit, answers.ylower, status);
    ask_integer("UPPER X-LIMIT FOR OUTPUT", "X upper pixel limit for output",
                "Enter integer within given range", answers.xlower, xlimit, answers.xupper, status);
    ask_integer("UPPER Y-LIMIT FOR OUTPUT", "Y upper pixel limit for output",
                "Enter integer within given range", answers.ylower, ylimit, answers.yupper, status);
  }
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  remembered<RebinAnswers>() = answers;

  KztMemoryExtent out;
  if (whole) {
    const Index xbin = static_cast<Index>(xwhole), ybin = static_cast<Index>(ywhole);
    out.xstrelm = answers.xstart;
    out.ystrelm = answers.ystart;
    // Leftover pixels of a last partial block are not re-binned.
    if (out.xstrelm + (xendelm - xstrelm + 1) / xbin - 1 > xmaxdat ||
        out.ystrelm + (yendelm - ystrelm + 1) / ybin - 1 > ymaxdat) {
      IO_WRITE("WARNING: The re-binned region does not fit into the arrays from this", status);
      IO_WRITE("         starting pixel: nothing has been changed", status);
      return;
    }
    MA_RREBIN(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xbin, ybin, false,
              out.xstrelm, out.ystrelm, xmaxdat, ymaxdat, mdata, out.xendelm, out.yendelm, status);
    if (variances_exist)
      MA_RREBIN(xmaxdat, ymaxdat, variances, xstrelm, ystrelm, xendelm, yendelm, xbin, ybin, false,
                out.xstrelm, out.ystrelm, xmaxdat, ymaxdat, mvariances, out.xendelm, out.yendelm,
                status);
    if (status != kStatusGood) return;
    // Each output axis value is the mean of its block's axis values.
    const auto block_means = [](std::span<const float> axis, Index start, Index bin,
                                std::span<float> maxis, Index ostart, Index oend) {
      for (Index o = ostart; o <= oend; ++o) {
        double sum = 0.0;
        const Index first = start + (o - ostart) * bin;
        for (Index i = first; i < first + bin; ++i) sum += axis[static_cast<std::size_t>(i - 1)];
        maxis[static_cast<std::size_t>(o - 1)] = static_cast<float>(sum / static_cast<double>(bin));
      }
    };
    block_means(xaxis, xstrelm, xbin, mxaxis, out.xstrelm, out.xendelm);
    block_means(yaxis, ystrelm, ybin, myaxis, out.ystrelm, out.yendelm);
  } else {
    out = {0, 0, answers.xlower, answers.ylower, answers.xupper, answers.yupper};
    const float xcentre = kzt_pixel_coordinate(xaxis, xendelm, answers.xreference);
    const float ycentre = kzt_pixel_coordinate(yaxis, yendelm, answers.yreference);
    const float xscale = 1.0f / answers.xfactor, yscale = 1.0f / answers.yfactor;
    MA_RSCALE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xscale, yscale, xcentre,
              ycentre, out.xstrelm, out.ystrelm, out.xendelm, out.yendelm, xmaxdat, ymaxdat, mdata,
              status);
    if (variances_exist)
      MA_RSCALE(xmaxdat, ymaxdat, variances, xstrelm, ystrelm, xendelm, yendelm, xscale, yscale,
                xcentre, ycentre, out.xstrelm, out.ystrelm, out.xendelm, out.yendelm, xmaxdat,
                ymaxdat, mvariances, status);
    if (status != kStatusGood) return;
    fill_axis(mxaxis, out.xendelm, 0.5, 1.0);
    fill_axis(myaxis, out.yendelm, 0.5, 1.0);
  }
  out.xnumdat = out.xendelm;
  out.ynumdat = out.yendelm;
  memory = out;
  memory_flag = true;
  mx_pixel_size = x_pixel_size * answers.xfactor;
  my_pixel_size = y_pixel_size * answers.yfactor;
}

void KZT_REFLECT(bool gui, Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::span<const float> data,
                 std::span<const float> variances, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, bool variances_exist, std::span<float> mxaxis,
                 std::span<float> myaxis, std::span<float> mdata, std::span<float> mvariances,
                 KztMemoryExtent& memory, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_REFLECT V0.5";
  if (transform_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                        variances_exist, {data.size(), mdata.size()},
                        {variances.size(), mvariances.size()}, xaxis, yaxis, mxaxis, myaxis,
                        status))
    return;

  ReflectAnswers answers = remembered<ReflectAnswers>();
  int subpixels = 2;
  KztMemoryExtent out{xendelm, yendelm, xstrelm, ystrelm, xendelm, yendelm};
  if (gui) {
    // Two points clicked on the displayed region, then the output region.
    std::array<float, 2> x{}, y{};
    int num = 2;
    GS_INPS_FCOORDINATES(false,
                         kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                                             yendelm, data, {}, xaxis, yaxis, "", "", "", ""),
                         "REFLECTION LINE", 1, {"Click on two points of line of reflection"},
                         false, 2, num, x, y, status);
    if (status != kStatusGood || num < 2) return;
    answers.points[0] = x[0];
    answers.points[1] = y[0];
    answers.points[2] = x[1];
    answers.points[3] = y[1];
    const auto limit = [](std::string label, std::string prompt, std::string help, Index value,
                          Index upper) {
      GsFormItem item = kzt_form_item(std::move(label), 1, std::move(help), std::move(prompt));
      item.ranged = true;
      item.int_lower = 1;
      item.int_upper = static_cast<int>(std::min<Index>(upper, INT_MAX));
      item.int_value = static_cast<int>(std::min<Index>(value, INT_MAX));
      return item;
    };
    std::vector<GsFormItem> items{
        limit("X-START OUT", "STARTING PIXEL OF OUTPUT REGION (X)",
              "Minimum pixel of output region (horizontally)", 1, xmaxdat),
        limit("Y-START OUT", "STARTING PIXEL OF OUTPUT REGION (Y)",
              "Minimum pixel of output region (vertically)", 1, ymaxdat),
        limit("X-END OUT", "END PIXEL OF OUTPUT REGION (X)",
              "Maximum pixel of output region (horizontally)", xmaxdat, xmaxdat),
        limit("Y-END OUT", "END PIXEL OF OUTPUT REGION (Y)",
              "Maximum pixel of output region (vertically)", ymaxdat, ymaxdat)};
    int return_code = 0;
    GS_FORM(2, 2, {"OUTPUT REGION", "CONTROL FORM"}, 2, 2,
            {"Enter pixel limits of the", "output region"}, 9, items, return_code, status);
    if (status != kStatusGood) return;
    if (return_code != 0) {
      status = kStatusEscape;
      return;
    }
    out.xstrelm = items[0].int_value;
    out.ystrelm = items[1].int_value;
    out.xendelm = items[2].int_value;
    out.yendelm = items[3].int_value;
    if (region_error(xmaxdat, ymaxdat, out.xstrelm, out.ystrelm, out.xendelm, out.yendelm,
                     kBaseApp) != 0) {
      kzt_warning(true, {"The output region is not possible"}, status);
      return;
    }
    out.xnumdat = out.xendelm;
    out.ynumdat = out.yendelm;
    subpixels = 0;
    GS_FPROMPT(1, 1, {"REFLECTING: Please wait"}, status);
    GS_UPDATE(status);
  } else {
    static constexpr std::string_view kPrompts[] = {"X COMPONENT POINT 1", "Y COMPONENT POINT 1",
                                                    "X COMPONENT POINT 2", "Y COMPONENT POINT 2"};
    static constexpr std::string_view kHelp[] = {
        "X-component of first coordinate on line of reflection",
        "Y-component of first coordinate on line of reflection",
        "X-component of second coordinate on line of reflection",
        "Y-component of second coordinate on line of reflection"};
    for (int i = 0; i < 4; ++i)
      ask_real(kPrompts[i], kHelp[i], "Enter real number", answers.points[i], status);
    ask_integer("SUB-PIXELS", "Number of sub-pixels in each direction (0 = area re-binning)",
                "Enter number in range", 0, 100, subpixels, status);
    if (status != kStatusGood) return;
    if (subpixels > 4) subpixels = 0;
  }
  remembered<ReflectAnswers>() = answers;

  const float x1 = kzt_pixel_coordinate(xaxis, xendelm, answers.points[0]);
  const float y1 = kzt_pixel_coordinate(yaxis, yendelm, answers.points[1]);
  const float x2 = kzt_pixel_coordinate(xaxis, xendelm, answers.points[2]);
  const float y2 = kzt_pixel_coordinate(yaxis, yendelm, answers.points[3]);
  if (x1 == x2 && y1 == y2) {
    if (gui)
      kzt_warning(true, {"The two points are the same: they do not define a line"}, status);
    else
      IO_WRITE("WARNING: The two points are the same: they do not define a line", status);
    return;
  }
  double elapsed0 = 0.0, cpu0 = 0.0;
  IO_TIMES(elapsed0, cpu0, status);
  MA_RREFLECT(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, x1, y1, x2, y2, subpixels,
              subpixels, xmaxdat, ymaxdat, out.xstrelm, out.ystrelm, out.xendelm, out.yendelm,
              mdata, status);
  if (variances_exist)
    MA_RREFLECT(xmaxdat, ymaxdat, variances, xstrelm, ystrelm, xendelm, yendelm, x1, y1, x2, y2,
                subpixels, subpixels, xmaxdat, ymaxdat, out.xstrelm, out.ystrelm, out.xendelm,
                out.yendelm, mvariances, status);
  if (status != kStatusGood) return;
  write_times(elapsed0, cpu0, status);
  // The memory axes cover the whole memory extent.
  std::copy_n(xaxis.begin(), std::max(xendelm, out.xendelm), mxaxis.begin());
  std::copy_n(yaxis.begin(), std::max(yendelm, out.yendelm), myaxis.begin());
  memory = out;
}

void KZT_TRANSPOSE(bool gui, Index xmaxdat, Index ymaxdat,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, std::span<const float> variances, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, bool variances_exist, bool& refused,
                   std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
                   std::span<float> mvariances, KztMemoryExtent& memory, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_TRANSPOSE V0.5";
  if (transform_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                        variances_exist, {data.size(), mdata.size()},
                        {variances.size(), mvariances.size()}, xaxis, yaxis, mxaxis, myaxis,
                        status))
    return;
  if (yendelm > xmaxdat || xendelm > ymaxdat) {
    const bool second = yendelm > xmaxdat;
    if (gui) {
      kzt_warning(true,
                  {"The operation is not possible because the",
                   second ? "second dimension of the work arrays is not"
                          : "first dimension of the work arrays is not",
                   "large enough to contain the transposed data"},
                  status);
    } else {
      IO_WRITE(second ? "WARNING: The operation is not possible because the second dimension of"
                      : "WARNING: The operation is not possible because the first dimension of",
               status);
      IO_WRITE("         the work arrays is not large enough to contain the transposed", status);
      IO_WRITE(second ? "         X-limit of the ADR" : "         Y-limit of the ADR", status);
    }
    refused = true;
    return;
  }
  KztMemoryExtent out;
  MA_RTRANSPOSE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxdat, ymaxdat, mdata,
                out.xstrelm, out.ystrelm, out.xendelm, out.yendelm, status);
  if (variances_exist)
    MA_RTRANSPOSE(xmaxdat, ymaxdat, variances, xstrelm, ystrelm, xendelm, yendelm, xmaxdat, ymaxdat,
                  mvariances, out.xstrelm, out.ystrelm, out.xendelm, out.yendelm, status);
  if (status != kStatusGood) return;
  std::copy_n(yaxis.begin(), yendelm, mxaxis.begin());
  std::copy_n(xaxis.begin(), xendelm, myaxis.begin());
  out.xnumdat = out.xendelm;
  out.ynumdat = out.yendelm;
  memory = out;
  refused = false;
}

void KZT_FLIP(bool variances_exist, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<float> data, std::span<float> variances,
              Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_FLIP V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (variances_exist && kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                                            yendelm, status, {variances.size()}))
    return;
  FlipAnswers answers = remembered<FlipAnswers>();
  IO_INPL(false, false, false, true, "FLIP LEFT TO RIGHT (\"NO\" = TOP/BOTTOM)",
          {"\"YES\" for reflection in vertical plane, \"NO\" for reflection in horizontal "},
          {"Enter real number"}, answers.left_right, status);
  if (status != kStatusGood) return;
  remembered<FlipAnswers>() = answers;
  MA_RFLIP(answers.left_right, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status);
  if (variances_exist)
    MA_RFLIP(answers.left_right, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, variances,
             status);
}

void KZT_EXTEND([[maybe_unused]] bool gui, Index xmaxdat, Index ymaxdat, bool variances_exist,
                Index& xnumdat, Index& ynumdat, Index xstrelm, Index ystrelm, Index& xendelm,
                Index& yendelm, std::span<float> xaxis, std::span<float> yaxis,
                std::span<float> data, std::span<float> variances, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_EXTEND V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, 1, 1, xnumdat, ynumdat, status,
                         {data.size()}))
    return;
  if (variances_exist && kzt_region_refused(kPosition, xmaxdat, ymaxdat, 1, 1, xnumdat, ynumdat,
                                            status, {variances.size()}))
    return;
  if (axes_refused(kPosition, xmaxdat, ymaxdat, xaxis, yaxis, xaxis, yaxis, status)) return;
  int nx = prompt_limit(xmaxdat), ny = prompt_limit(ymaxdat);
  ask_integer("X-NUMBER OF PIXELS", "Enter size of extended data region horizontally",
              "Enter a valid integer within given range", prompt_limit(xnumdat),
              prompt_limit(xmaxdat), nx, status);
  ask_integer("Y-NUMBER OF PIXELS", "Enter size of extended data region vertically",
              "Enter a valid integer within given range", prompt_limit(ynumdat),
              prompt_limit(ymaxdat), ny, status);
  if (status != kStatusGood) return;

  const auto clear_new = [&](std::span<float> array) {
    if (nx > xnumdat) MA_RVALUE(xmaxdat, ymaxdat, xnumdat + 1, 1, nx, ynumdat, 0.0f, array, status);
    if (ny > ynumdat) MA_RVALUE(xmaxdat, ymaxdat, 1, ynumdat + 1, nx, ny, 0.0f, array, status);
  };
  clear_new(data);
  if (variances_exist) clear_new(variances);
  if (status != kStatusGood) return;
  const auto extend_axis = [](std::span<float> axis, Index num, Index n) {
    const float last = axis[static_cast<std::size_t>(num - 1)];
    const double step = kzt_axis_step(axis, num, num);
    for (Index i = num + 1; i <= n; ++i)
      axis[static_cast<std::size_t>(i - 1)] = static_cast<float>(last + (i - num) * step);
  };
  extend_axis(xaxis, xnumdat, nx);
  extend_axis(yaxis, ynumdat, ny);
  xnumdat = xendelm = nx;
  ynumdat = yendelm = ny;
  (void)xstrelm;
  (void)ystrelm;
}

namespace {

KztArrays& arrays() { return vosq_kzt_arrays; }

// The memory's description after a writer filled it: the extent and region,
// texts from the current data, defined.
void describe_memory(KztDataSets& sets, const KztMemoryExtent& m) {
  sets.mxnumdat = m.xnumdat;
  sets.mynumdat = m.ynumdat;
  sets.mxstrelm = m.xstrelm;
  sets.mystrelm = m.ystrelm;
  sets.mxendelm = m.xendelm;
  sets.myendelm = m.yendelm;
  sets.mtitle = sets.title;
  sets.mxlabel = sets.xlabel;
  sets.mylabel = sets.ylabel;
  sets.mzlabel = sets.zlabel;
  sets.memory_defined = true;
}

}  // namespace

void kzt_describe_memory(KztDataSets& sets, const KztMemoryExtent& memory) {
  describe_memory(sets, memory);
}

void kzt_move_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = arrays();
  KztMemoryExtent m;
  KZT_MOVE(a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data),
           kzt_image(a.variances), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.variances_exist,
           sets.x_pixel_size, sets.y_pixel_size, kzt_xline(a.mxaxis), kzt_yline(a.myaxis),
           kzt_image(a.mdata), kzt_image(a.mvariances), m, status);
  if (status != kStatusGood || !m.written()) return;
  // An earlier memory result may reach further than this one.
  if (sets.memory_defined) {
    m.xnumdat = std::max(m.xnumdat, sets.mxnumdat);
    m.ynumdat = std::max(m.ynumdat, sets.mynumdat);
  }
  describe_memory(sets, m);
  sets.mx_pixel_size = sets.x_pixel_size;
  sets.my_pixel_size = sets.y_pixel_size;
  next = "EXCHANGE";
}

void kzt_rebin_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = arrays();
  KztMemoryExtent m;
  bool written = false;
  float mx_pixel_size = sets.mx_pixel_size, my_pixel_size = sets.my_pixel_size;
  KZT_REBIN(false, sets.x_pixel_size, sets.y_pixel_size, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
            kzt_yline(a.yaxis), kzt_image(a.data), kzt_image(a.variances), a.xstrelm, a.ystrelm,
            a.xendelm, a.yendelm, sets.variances_exist, written, kzt_xline(a.mxaxis),
            kzt_yline(a.myaxis), kzt_image(a.mdata), kzt_image(a.mvariances), m, mx_pixel_size,
            my_pixel_size, status);
  next = "EXCHANGE";
  if (status != kStatusGood || !written) return;
  describe_memory(sets, m);
  sets.mx_pixel_size = mx_pixel_size;
  sets.my_pixel_size = my_pixel_size;
}

void kzt_reflect_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = arrays();
  KztMemoryExtent m;
  KZT_REFLECT(false, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
              kzt_image(a.data), kzt_image(a.variances), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
              sets.variances_exist, kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata),
              kzt_image(a.mvariances), m, status);
  next = "EXCHANGE";
  if (status != kStatusGood || !m.written()) return;
  describe_memory(sets, m);
}

bool kzt_transpose_to_memory(bool gui, KztDataSets& sets, Status& status) {
  if (status != kStatusGood) return false;
  if (!sets.data_defined) {
    // The arrays' unwritten contents would become the current data.
    if (gui)
      kzt_warning(true, {"The operation is not possible because", "there is no data to transpose"},
                  status);
    else
      IO_WRITE("WARNING: The operation is not possible because there is no data to transpose",
               status);
    return false;
  }
  const KztArrays& a = arrays();
  KztMemoryExtent m;
  bool refused = false;
  KZT_TRANSPOSE(gui, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                kzt_image(a.data), kzt_image(a.variances), a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, sets.variances_exist, refused, kzt_xline(a.mxaxis), kzt_yline(a.myaxis),
                kzt_image(a.mdata), kzt_image(a.mvariances), m, status);
  if (status != kStatusGood || refused) return false;
  describe_memory(sets, m);
  // X and Y change places: labels and pixel sizes with the axes.
  std::swap(sets.mxlabel, sets.mylabel);
  sets.mx_pixel_size = sets.y_pixel_size;
  sets.my_pixel_size = sets.x_pixel_size;
  return true;
}

void kzt_transpose_command(KztDataSets& sets, std::string& next, Status& status) {
  const bool done = kzt_transpose_to_memory(false, sets, status);
  if (status != kStatusGood) return;
  next = done ? "EXCHANGE" : "ROI";
}

void kzt_flip_command(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_FLIP(sets.variances_exist, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
           kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_extend_command(KztDataSets& sets, std::string&, Status& status) {
  // Without data only the proposed command changes.
  if (!sets.data_defined) return;
  KztArrays& a = arrays();
  KZT_EXTEND(false, a.xmaxdat, a.ymaxdat, sets.variances_exist, a.xnumdat, a.ynumdat, a.xstrelm,
             a.ystrelm, a.xendelm, a.yendelm, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), kzt_image(a.variances), status);
}

}  // namespace kesta
