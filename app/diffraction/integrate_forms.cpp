#include "app/diffraction/integrate_forms.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// One form (room for its items and the five control buttons); false after
// CANCEL (STATUS the user escape) or a failure.
bool ask_form(const std::vector<std::string>& title, const std::vector<std::string>& help,
              std::vector<GsFormItem>& items, Status& status) {
  int code = 0;
  const int lines = static_cast<int>(help.size());
  GS_FORM(2, 2, title, lines, lines, help, static_cast<int>(items.size()) + 5, items, code,
          status);
  if (status == kStatusGood && code == -1) status = kStatusEscape;
  return status == kStatusGood;
}

const std::vector<std::string> kGeometryHelp = {
    "Welcome to the KESTA experimental geometry",
    "graphical menu.",
    "",
    "The experiment is taken to be a flat 2-D",
    "detector roughly orthogonal to a beam",
    "(X-rays, electrons, neutrons) that passes",
    "through a sample. A detector that is not",
    "flat or is spatially distorted must first",
    "be corrected to a regular flat grid.",
    "",
    "Not every value is needed in every",
    "context; the TILT command deduces",
    "\"TILT ROTATION\" and \"ANGLE OF TILT\".",
    "",
    "X-PIXEL SIZE: size of the horizontal",
    "pixels as displayed (microns).",
    "Y-PIXEL SIZE: size of the vertical pixels",
    "as displayed (microns).",
    "DISTANCE: sample to detector distance",
    "(millimetres).",
    "WAVELENGTH: wavelength of the radiation",
    "(Angstroms).",
    "X-BEAM CENTRE, Y-BEAM CENTRE: pixel",
    "coordinates of the centre of the direct",
    "beam on the detector.",
    "TILT ROTATION: rotation angle of the",
    "plane in which the tilt occurs (degrees).",
    "ANGLE OF TILT: angle of the detector tilt",
    "within the tilt plane (degrees).",
};

const std::vector<std::string> kControlHelp = {
    "This command integrates 2-D data around the",
    "azimuth to 1-D equal-angle, equal-radial-",
    "distance or equal-Q scans. Detector non-",
    "orthogonality and polarisation are accounted",
    "for. The beam centre and tilt normally come",
    "from the TILT command.",
    "",
    "CONSERVE INT.: \"NO\" normalises each bin by the",
    "contributing pixels (the 2-theta or Q scan",
    "equivalent); \"YES\" conserves the integrated",
    "intensity.",
    "",
    "FACTOR: the polarisation (I_h - I_v) / (I_h +",
    "I_v), horizontal being the image X-direction.",
    "",
    "GEOMETRY COR.: turns a flat-detector scan into",
    "the equivalent of a 2-theta arm scan",
    "(conservation should then be \"NO\").",
    "",
    "SCAN BINS: more bins than pixels over-sample.",
};

const std::vector<std::string> kPolarisationHelp = {
    "Applies the polarisation effect to the",
    "intensities of the active data region: each",
    "pixel is multiplied by the polarisation",
    "factor of its scattering direction.",
    "",
    "The effect applies to Bragg scattered",
    "intensity, not to fluorescence, and does",
    "not depend on the wavelength.",
    "",
    "POLARISATION: (I_h - I_v) / (I_h + I_v),",
    "horizontal being the image X-direction.",
};

GsFormItem beam_centre_item(const char* axis, float value) {
  const std::string a(axis);
  return kzt_form_real(a + "-BEAM CENTRE", a + "-PIXEL COORDINATE OF DIRECT BEAM",
                   "Enter " + a + "-pixel coordinate of centre of the direct beam", value, false,
                   0.0f, 0.0f);
}

GsFormItem distance_item(float metres) {
  return kzt_form_real("DISTANCE", "SAMPLE TO DETECTOR DISTANCE (MM)",
                   "Enter sample to detector distance (mm)", metres * 1000.0f, true, 0.1f,
                   10000.0f);
}

GsFormItem factor_item(std::string label, float value) {
  return kzt_form_real(std::move(label), "POLARISATION FACTOR",
                   "Enter ratio of horizontal to vertical polarisation", value, true, -1.0f, 1.0f);
}

}  // namespace

GsFormItem kzt_form_real(std::string label, std::string description, std::string prompt,
                         float value, bool ranged, float lower, float upper) {
  GsFormItem i = kzt_form_item(std::move(label), 3, std::move(description), std::move(prompt));
  i.ranged = ranged;
  i.real_lower = lower;
  i.real_upper = upper;
  i.real_value = value;
  return i;
}

GsFormItem kzt_form_logical(std::string label, std::string description, std::string prompt,
                            bool value) {
  GsFormItem i = kzt_form_item(std::move(label), 2, std::move(description), std::move(prompt));
  i.logical_value = value;
  return i;
}

GsFormItem kzt_form_integer(std::string label, std::string description, std::string prompt,
                            int value, int lower, int upper) {
  GsFormItem i = kzt_form_item(std::move(label), 1, std::move(description), std::move(prompt));
  i.ranged = true;
  i.int_lower = lower;
  i.int_upper = upper;
  i.int_value = std::clamp(value, lower, upper);
  return i;
}

void kzt_form_clamp(std::vector<GsFormItem>& items) {
  for (GsFormItem& i : items)
    if (i.ranged && i.type == 3)
      i.real_value = std::isfinite(i.real_value)
                         ? std::clamp(i.real_value, i.real_lower, i.real_upper)
                         : i.real_lower;
}

void KZT_GUI_GEOMETRY(float& x_pixel_size, float& y_pixel_size, float& sample_distance,
                      float& wavelength, float& x_beam_centre, float& y_beam_centre,
                      float& tilt_rotation, float& tilt_angle, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_GEOMETRY V0.1")) return;
  std::vector<GsFormItem> items = {
      kzt_form_real("X-PIXEL SIZE", "SIZE OF HORIZONTAL PIXELS (MICRONS)",
                "Enter dimension of pixels horizontally, as displayed (micron",
                x_pixel_size * 1.0e6f, true, 0.001f, 10000.0f),
      kzt_form_real("Y-PIXEL SIZE", "SIZE OF VERTICAL PIXELS (MICRONS)",
                "Enter dimension of pixels vertically, as displayed (microns)",
                y_pixel_size * 1.0e6f, true, 0.001f, 10000.0f),
      kzt_form_real("DISTANCE", "SAMPLE TO DETECTOR DISTANCE (MM)",
                "Enter sample to detector distance (mm)", sample_distance * 1000.0f, true, 0.01f,
                10000.0f),
      kzt_form_real("WAVELENGTH", "WAVELENGTH (ANGSTROMS)",
                "Enter the wavelength of the radiation  in Angstrom units", wavelength * 1.0e10f,
                true, 0.01f, 10000.0f),
      beam_centre_item("X", x_beam_centre),
      beam_centre_item("Y", y_beam_centre),
      kzt_form_real("TILT ROTATION", "ROTATION ANGLE OF TILTING PLANE (DEGREES)",
                "Enter rotation angle of the plane in which the tilt occurs",
                tilt_rotation * kDegreesPerRadian, true, -180.0f, 180.0f),
      kzt_form_real("ANGLE OF TILT", "ANGLE OF DETECTOR TILT IN PLANE (DEGREES)",
                "Enter angle of detector tilt within the tilt plane",
                tilt_angle * kDegreesPerRadian, true, -90.0f, 90.0f),
  };
  kzt_form_clamp(items);
  if (!ask_form({"EXPERIMENTAL GEOMETRY", "CONTROL FORM"}, kGeometryHelp, items, status)) return;

  x_pixel_size = items[0].real_value / 1.0e6f;
  y_pixel_size = items[1].real_value / 1.0e6f;
  sample_distance = items[2].real_value / 1000.0f;
  wavelength = items[3].real_value / 1.0e10f;
  x_beam_centre = items[4].real_value;
  y_beam_centre = items[5].real_value;
  tilt_rotation = items[6].real_value * kRadiansPerDegree;
  tilt_angle = items[7].real_value * kRadiansPerDegree;
  int retstat = 0;
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", x_pixel_size, retstat, status);
  IO_SET_RKEYVALUE("Y_PIXEL_SIZE", y_pixel_size, retstat, status);
  IO_SET_RKEYVALUE("WAVELENGTH", wavelength, retstat, status);
  IO_SET_RKEYVALUE("SAMPLE_DISTANCE", sample_distance, retstat, status);
  IO_SET_RKEYVALUE("X_BEAM_CENTRE", x_beam_centre, retstat, status);
  IO_SET_RKEYVALUE("Y_BEAM_CENTRE", y_beam_centre, retstat, status);
  IO_SET_RKEYVALUE("TILT_ROTATION", tilt_rotation, retstat, status);
  IO_SET_RKEYVALUE("TILT_ANGLE", tilt_angle, retstat, status);
}

void kzt_integrate_control_form(Index xmaxdat, IntegrateControl& control, Status& status) {
  if (st_bad(status, "Subroutine KZT_INQ_INTEGRATE V0.1")) return;
  GsFormItem scan = kzt_form_item(
      "SCAN TYPE", 9, "SCAN TYPE (D, RADIAL, 2-THETA, Q-SPACE)",
      "Select type of output 1-D scan: \"RADIAL\", \"2-THETA\", or \"Q-SPACE\"");
  scan.int_value = control.scan_type;
  GsFormItem bins = kzt_form_item("SCAN BINS", 1, "NUMBER OF BINS IN OUTPUT SCAN",
                              "Enter number of 2-theta or radial bins in output scan");
  bins.ranged = true;
  bins.int_lower = 2;
  bins.int_upper = static_cast<int>(
      std::clamp<Index>(xmaxdat, 2, std::numeric_limits<int>::max()));
  bins.int_value = static_cast<int>(std::clamp<Index>(control.num_bins, 2, bins.int_upper));
  std::vector<GsFormItem> items = {
      scan,
      kzt_form_logical("CONSERVE INT.", "INTENSITY CONSERVATION",
                   "Enter \"YES\" to conserve total intensity, \"NO\" for \"2-theta scans\"(inte",
                   control.conserve_intensity),
      kzt_form_logical("POLARISATION", "APPLY POLARISATION CORRECTION",
                   "Enter \"YES\" to apply polarisation correction", control.correct_polarisation),
      kzt_form_real("FACTOR", "POLARISATION FACTOR",
                "Enter ratio of horizontal to vertical polarisation",
                std::clamp(control.polarisation, -1.0f, 1.0f), true, -1.0f, 1.0f),
      kzt_form_logical("GEOMETRY COR.", "GEOMETRICAL CORRECTION TO INTENSITIES",
                   "Enter \"YES\" if scan intensities are corrected for geometry",
                   control.geometry),
      kzt_form_real("MAX. ANGLE", "MAXIMUM 2-THETA ANGLE OF SCAN (DEGREES)",
                "Enter maximum 2-theta angle of scan (degrees)",
                std::clamp(control.max_2theta * kDegreesPerRadian, 0.001f, 90.0f), true, 0.001f,
                90.0f),
      bins,
      kzt_form_real("MAX. D-SPACING", "MAXIMUM FOR D-SPACINGS SCANS (ANGSTROMS)",
                "Enter maximum of range for calculation of D-spacing scans (Angstroms)",
                std::clamp(control.maximum_d, 1.0f, 10000.0f), true, 1.0f, 10000.0f),
  };
  if (!ask_form({"CONTROL OF RADIAL, 2-THETA, OR Q", "SCAN RE-BINNING PARAMETERS"}, kControlHelp,
                items, status))
    return;
  control.scan_type = items[0].int_value;
  control.conserve_intensity = items[1].logical_value;
  control.correct_polarisation = items[2].logical_value;
  control.polarisation = items[3].real_value;
  control.geometry = items[4].logical_value;
  control.max_2theta = items[5].real_value * kRadiansPerDegree;
  control.num_bins = items[6].int_value;
  control.maximum_d = items[7].real_value;
}

void kzt_polarisation_form(float& polarisation, float& x_pixel_size, float& y_pixel_size,
                           float& sample_distance, float& x_beam_centre, float& y_beam_centre,
                           Status& status) {
  if (st_bad(status, "Subroutine KZT_POLARISATION V0.1")) return;
  std::vector<GsFormItem> items = {
      factor_item("POLARISATION", polarisation),
      kzt_form_real("X PIXEL SIZE", "SIZE OF PIXEL IN X-DIRECTION (MICRONS)",
                "Enter size of one pixel in the X-direction in microns", x_pixel_size * 1.0e6f,
                true, 1.0e-4f, 1.0e6f),
      kzt_form_real("Y PIXEL SIZE", "SIZE OF PIXEL IN Y-DIRECTION (MICRONS)",
                "Enter size of one pixel in the Y-direction in microns", y_pixel_size * 1.0e6f,
                true, 1.0e-4f, 1.0e6f),
      distance_item(sample_distance),
      beam_centre_item("X", x_beam_centre),
      beam_centre_item("Y", y_beam_centre),
  };
  kzt_form_clamp(items);
  if (!ask_form({"CONTROL OF POLARISATION EFFECT", "PARAMETERS"}, kPolarisationHelp, items,
                status))
    return;
  polarisation = items[0].real_value;
  x_pixel_size = items[1].real_value / 1.0e6f;
  y_pixel_size = items[2].real_value / 1.0e6f;
  sample_distance = items[3].real_value / 1000.0f;
  x_beam_centre = items[4].real_value;
  y_beam_centre = items[5].real_value;
}

void kzt_rings_form(Index xmaxdat, Index ymaxdat, std::array<int, 4>& region,
                    float& x_pixel_size, float& y_pixel_size, PowderSettings& settings,
                    Status& status) {
  if (st_bad(status, "Subroutine KZT_2THETATORINGS V0.1")) return;
  const int xmax = static_cast<int>(std::clamp<Index>(xmaxdat, 1, std::numeric_limits<int>::max()));
  const int ymax = static_cast<int>(std::clamp<Index>(ymaxdat, 1, std::numeric_limits<int>::max()));
  std::vector<GsFormItem> items = {
      kzt_form_integer("X-START PIXEL", "X-PIXEL FOR START OF OUTPUT REGION",
                   "Enter first X-pixel of the output region", region[0], 1, xmax),
      kzt_form_integer("Y-START PIXEL", "Y-PIXEL FOR START OF OUTPUT REGION",
                   "Enter first Y-pixel of the output region", region[1], 1, ymax),
      kzt_form_integer("X-END PIXEL", "X-PIXEL FOR END OF OUTPUT REGION",
                   "Enter last X-pixel of the output region", region[2], 1, xmax),
      kzt_form_integer("Y-END PIXEL", "Y-PIXEL FOR END OF OUTPUT REGION",
                   "Enter last Y-pixel of the output region", region[3], 1, ymax),
      kzt_form_real("X-PIXEL SIZE", "X-PIXEL SIZE (HORIZONTAL) IN MICRONS",
                "Enter size of one pixel in the X-direction in microns", x_pixel_size * 1.0e6f,
                true, 0.001f, 1.0e6f),
      kzt_form_real("Y-PIXEL SIZE", "Y-PIXEL SIZE (VERTICAL) IN MICRONS",
                "Enter size of one pixel in the Y-direction in microns", y_pixel_size * 1.0e6f,
                true, 0.001f, 1.0e6f),
      kzt_form_logical("POLARISATION", "APPLY POLARISATION EFFECT",
                   "Enter \"YES\" to multiply the pattern by the polarisation factor",
                   settings.correct_polarisation),
      factor_item("FACTOR", settings.polarisation),
      distance_item(settings.sample_distance),
      beam_centre_item("X", settings.x_beam_centre),
      beam_centre_item("Y", settings.y_beam_centre),
      kzt_form_real("TILT PLANE", "ROTATION ANGLE OF PLANE OF TILT (DEGREES)",
                "Enter rotation angle of the tilt plane, anti-clockwise from the X-axis",
                settings.tilt_rotation * kDegreesPerRadian, true, -360.0f, 360.0f),
      kzt_form_real("TILT", "TILT ANGLE OF DETECTOR (DEGREES)",
                "Enter tilt angle of the detector within the tilt plane",
                settings.tilt_angle * kDegreesPerRadian, true, -90.0f, 90.0f),
  };
  kzt_form_clamp(items);
  if (!ask_form({"CONTROL OF POWDER PATTERN", "SIMULATION FROM A 2-THETA SCAN"},
                {"HELP TEXT; NOT YET AVAILABLE"}, items, status))
    return;
  for (std::size_t k = 0; k < 4; ++k) region[k] = items[k].int_value;
  x_pixel_size = items[4].real_value / 1.0e6f;
  y_pixel_size = items[5].real_value / 1.0e6f;
  settings.correct_polarisation = items[6].logical_value;
  settings.polarisation = items[7].real_value;
  settings.sample_distance = items[8].real_value / 1000.0f;
  settings.x_beam_centre = items[9].real_value;
  settings.y_beam_centre = items[10].real_value;
  settings.tilt_rotation = items[11].real_value * kRadiansPerDegree;
  settings.tilt_angle = items[12].real_value * kRadiansPerDegree;
}

}  // namespace kesta
