#pragma once
// Building the 2-D model by clicks on the displayed image: surface, peaks and
// a row-line, each drawn into a working residual image as soon as it is
// defined, then turned into the parameters, codes, names and scales.

#include <vector>

#include "app/fitting/model.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// A peak as the click menu keeps it (positions in axis units).
struct InputPeak {
  int kind = 1;  // 1 Gaussian, 3 polar Gaussian, 4 twin polar Gaussian
  float x = 0.0f, y = 0.0f;
  float x1 = 0.0f, y1 = 0.0f;  // first (radial) half-height position
  float x2 = 0.0f, y2 = 0.0f;  // second (angular) half-height position
  float height = 0.0f;
  float twin_height = 0.0f;
  // Above 0 for a Gaussian clicked on one row (or one column) drawn as a
  // graph, where the clicks' vertical is an intensity: the peak lies on the
  // line's centre with this width across it and no rotation, none of the
  // three refined.
  float row_width = 0.0f;
  bool on_column = false;  // the line is a column: across it is X
  // The axes' steps at the peak's centre (axis units a pixel; an uneven
  // axis, a d-spacing scale, has its own step at every pixel), which bound
  // its scale factors from below.
  float x_step = 1.0f, y_step = 1.0f;
};

// A row-line as typed (angles in radians, PPa and PSh as angles).
struct InputRowLine {
  int low = -10, high = 10;
  float x_centre = 0.0f, y_centre = 0.0f;
  float rotation = 0.0f, ppa = 0.0f, psh = 0.0f, ratio = 1.0f, sdr = 2.5f, sda = 0.0f;
  std::vector<float> intensities;
};

// What the click menu built.
struct InputFeatures {
  bool surface = false;
  int x_order = 0, y_order = 0;
  std::array<float, kSurfaceTable * kSurfaceTable> coeffs{};
  float x_min = 0.0f, y_min = 0.0f, x_max = 1.0f, y_max = 1.0f;
  bool centre_defined = false;
  float x_centre = 0.0f, y_centre = 0.0f;
  std::vector<InputPeak> peaks;
  bool rowline = false;
  InputRowLine row;
  // The unit of the data's values in which the scale factors of heights,
  // levels and intensities are set (kzt_intensity_unit).
  float intensity_unit = 1.0f;
};

// The unit for the scale factors of values of the data's intensity: their
// rule (a part of the square root of the value, at least a few) is one for
// counts, and data whose typical value (the median size of the finite
// values in the region, masked ones left out) lies below 1e-3 or above 1e6
// are taken in the unit that makes it 100, so that the scales follow the
// data as they scale: single precision resolves no step of the square root
// of 1e32 on 1e32, and a step of a few on 1e-30 is no step of the fit's
// size.
float kzt_intensity_unit(std::span<const float> data, std::span<const std::uint8_t> mask,
                         Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm);

// Turns the features into the fit state's arrays (a feature that does not
// fit in the parameter arrays is skipped with the "Parameter array full"
// warning). The scale factors of a peak's positions, widths and angles are a
// tenth of its own clicked size, a size below a pixel taken as one pixel:
// the fit's difference step is a fixed part of the scale, and a step wider
// than the feature stops the fit short of the least-squares minimum. Those
// of heights, levels and intensities are in the features' intensity unit.
void kzt_features_to_model(const InputFeatures& features, FitModel& model, Status& status);

// KZT_GUI_PARAMETERS: runs the click menu on the current data; MODEL is
// replaced only when the menu ends normally.
void KZT_GUI_PARAMETERS(bool keyboard_mode, KztDataSets& sets, FitModel& model, Status& status);

}  // namespace kesta
