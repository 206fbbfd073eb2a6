#include "app/imageops/upcalls.hpp"

#include <limits>

namespace kesta {

std::vector<std::string_view> imageops_upcalls_missing(const ImageopsUpcalls& table) {
  std::vector<std::string_view> missing;
  if (table.inq_geometry == nullptr) missing.push_back("KZT_INQ_GEOMETRY");
  if (table.draw_peaks == nullptr) missing.push_back("KZT_DRAW_PEAKS");
  if (table.def_fs == nullptr) missing.push_back("KZT_DEF_FS");
  if (table.gui_roi == nullptr) missing.push_back("KZT_GUI_ROI");
  if (table.inp_projection == nullptr) missing.push_back("KZT_INP_PROJECTION");
  if (table.inp_sampledistance == nullptr) missing.push_back("KZT_INP_SAMPLEDISTANCE");
  if (table.inp_beamcentre == nullptr) missing.push_back("KZT_INP_BEAMCENTRE");
  if (table.keyboard == nullptr) missing.push_back("KZT_KEYBOARD");
  return missing;
}

void kzt_inq_geometry(bool& known, float& x_beam_centre, float& y_beam_centre,
                      float& sample_distance, float& wavelength, Status& status) {
  known = false;
  if (status != kStatusGood || imageops_upcalls.inq_geometry == nullptr) return;
  float tilt_rotation = 0.0f;
  float tilt_angle = 0.0f;
  float detector_rotation = 0.0f;
  // The inquiry keeps an argument whose key is absent: starting from 0, an
  // absent distance or wavelength reads as not given.
  float distance = 0.0f;
  float lambda = 0.0f;
  imageops_upcalls.inq_geometry(known, x_beam_centre, y_beam_centre, distance, lambda,
                                tilt_rotation, tilt_angle, detector_rotation, status);
  const float largest = std::numeric_limits<float>::max();
  known = known && distance > 0.0f && distance <= largest && lambda > 0.0f && lambda <= largest;
  if (!known) return;
  sample_distance = distance;
  wavelength = lambda;
}

}  // namespace kesta
