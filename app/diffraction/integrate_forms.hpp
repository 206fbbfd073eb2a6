#pragma once
// The forms the diffraction commands show in the window: INTEGRATE's
// experiment geometry and scan control (the program puts them into
// kzt_integrate_forms() at start-up), and the control forms of POLARISATION
// EFFECT and 2-THETA TO RINGS.

#include <array>

#include <string>
#include <vector>

#include "app/diffraction/integrate.hpp"
#include "app/diffraction/simulation.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// Form items of the diffraction forms: a real (ranged or not), a YES/NO
// and an integer item offering VALUE clamped into LOWER..UPPER; and offered
// reals that their boxes would refuse, brought into their ranges.
GsFormItem kzt_form_real(std::string label, std::string description, std::string prompt,
                         float value, bool ranged, float lower, float upper);
GsFormItem kzt_form_logical(std::string label, std::string description, std::string prompt,
                            bool value);
GsFormItem kzt_form_integer(std::string label, std::string description, std::string prompt,
                            int value, int lower, int upper);
void kzt_form_clamp(std::vector<GsFormItem>& items);

// The geometry form: every value in and out in stored units (metres,
// radians, pixels). On O.K. the eight values are also stored as geometry
// keys; on CANCEL nothing changes and STATUS is the user escape.
void KZT_GUI_GEOMETRY(float& x_pixel_size, float& y_pixel_size, float& sample_distance,
                      float& wavelength, float& x_beam_centre, float& y_beam_centre,
                      float& tilt_rotation, float& tilt_angle, Status& status);

// The control form of a 1-D scan (the maximum angle in radians, at most
// XMAXDAT bins). CANCEL leaves CONTROL as it was and gives the user escape.
void kzt_integrate_control_form(Index xmaxdat, IntegrateControl& control, Status& status);

// The control form of POLARISATION EFFECT: the factor, the pixel sizes and
// distance in metres, the beam centre in pixels. Values outside the boxes'
// ranges are offered clamped into them. On CANCEL nothing changes and STATUS
// is the user escape.
void kzt_polarisation_form(float& polarisation, float& x_pixel_size, float& y_pixel_size,
                           float& sample_distance, float& x_beam_centre, float& y_beam_centre,
                           Status& status);

// The control form of 2-THETA TO RINGS: the output REGION (X start, Y start,
// X end, Y end, within 1..XMAXDAT and 1..YMAXDAT), the pixel sizes in metres
// and SETTINGS' polarisation switch and factor, distance, beam centre and
// tilt. On CANCEL nothing changes and STATUS is the user escape.
void kzt_rings_form(Index xmaxdat, Index ymaxdat, std::array<int, 4>& region,
                    float& x_pixel_size, float& y_pixel_size, PowderSettings& settings,
                    Status& status);

}  // namespace kesta
