#pragma once
// The forms INTEGRATE shows in the window: the experiment geometry and the
// control of the 1-D scan. The program puts them into kzt_integrate_forms()
// at start-up.

#include <string>

#include "app/diffraction/integrate.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// The geometry form: every value in and out in stored units (metres,
// radians, pixels). On O.K. the eight values are also stored as geometry
// keys; on CANCEL nothing changes and STATUS is the user escape.
void KZT_GUI_GEOMETRY(float& x_pixel_size, float& y_pixel_size, float& sample_distance,
                      float& wavelength, float& x_beam_centre, float& y_beam_centre,
                      float& tilt_rotation, float& tilt_angle, Status& status);

// The control form of a 1-D scan (the maximum angle in radians, at most
// XMAXDAT bins). CANCEL leaves CONTROL as it was and gives the user escape.
void kzt_integrate_control_form(Index xmaxdat, IntegrateControl& control, Status& status);

// A form item of TYPE with its label, description and prompt.
GsFormItem kzt_form_item(std::string label, int type, std::string description,
                         std::string prompt);

}  // namespace kesta
