#include "app/diffraction/cake_menu.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/cake.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/masks.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "graphics/device/input.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

constexpr float kTwoPi = 6.283185f;

const std::string kMenu[] = {"EXIT",          "?",           "HELP",         "BEAM CENTRE",
                             "INTEGRATE",     "END AZIMUTH", "EXCHANGE",     "FULL",
                             "INNER RADIUS",  "OUTER RADIUS", "START AZIMUTH", "UN-ZOOM",
                             "ZOOM IN",       "Z-SCALING",   "MASK",         "ASPECT RATIO"};
constexpr int kNumMenu = static_cast<int>(std::size(kMenu));

const std::string kMenuHelp[] = {
    "EXIT: Exit KESTA",
    "?: This help on the menu choices",
    "HELP: Help text on this graphical menu",
    "BEAM CENTRE: Change beam centre",
    "INTEGRATE: Calculate \"polar\" radial/2-theta, azimuth transform",
    "END AZIMUTH: Change end azimuth",
    "EXCHANGE: Swap current data with the \"memory\"",
    "FULL: View image of full data",
    "INNER RADIUS: Change inner radius/2-theta angle",
    "OUTER RADIUS: Change outer radial/2-theta angle",
    "START AZIMUTH: Change starting azimuthal angle",
    "UN-ZOOM: Zoom out to see more of the data",
    "ZOOM IN: Graphical region definition",
    "Z-SCALING: Automatic or user control of intensity display range",
    "MASK: Mask or Un-mask data (masked pixels are not re-binned)",
    "ASPECT RATIO: Control automatic correct aspect ratio (or not)"};

const std::string kHelp[] = {
    "Welcome to the KESTA \"Cake\" graphical menu. This menu",
    "lets you define a region of the image from a start azimuth",
    "to an end azimuth, between an inner and an outer radial",
    "limit about the beam centre. The region can be integrated",
    "to several kinds of 1-D and 2-D scans.",
    "",
    "The menu buttons:",
    "",
    "EXIT: leave the menu",
    "?: one line of help on each button",
    "HELP: this text",
    "BEAM CENTRE: change the beam centre",
    "INTEGRATE: re-bin the region into azimuth against radial",
    "   distance, 2-theta, Q or D-spacing; the result is",
    "   displayed and the original data go to the memory",
    "END AZIMUTH: click to change the end azimuth (click the",
    "   prompt box for the start azimuth plus 360 degrees)",
    "EXCHANGE: swap the current data with the memory",
    "FULL: view the full data",
    "INNER RADIUS: click to change the inner limit (click the",
    "   prompt box for the beam centre, i.e. from 0.0)",
    "OUTER RADIUS: click to change the outer limit",
    "START AZIMUTH: click to change the start azimuth (click",
    "   the prompt box for 0.0, the X-axis)",
    "UN-ZOOM: zoom out to see more of the data",
    "ZOOM IN: define a smaller displayed region",
    "Z-SCALING: automatic or user intensity display range",
    "MASK: mask or un-mask pixels (masked pixels are not",
    "   re-binned)",
    "ASPECT RATIO: keep square pixels on display or not",
    "",
    "Azimuths are measured anti-clockwise from the X-axis."};

const std::string kStartHelp[] = {"Click on the image to define the azimuth at which the",
                                  "region starts, or click on the (active, yellow) prompt",
                                  "box for azimuth 0.0 (the X-axis)."};
const std::string kEndHelp[] = {"Click on the image to define the azimuth at which the",
                                "region ends, or click on the (active, yellow) prompt",
                                "box for 360 degrees of data."};
const std::string kInnerHelp[] = {"Click on the image to define the inner radial limit,",
                                  "or click on the (active, yellow) prompt box for the",
                                  "beam centre (scans from 0.0)."};
const std::string kOuterHelp[] = {"Click on the image to define the outer radial limit."};

// The last outline drawn, erased by drawing it again.
struct DrawnCake {
  bool drawn = false;
  float xps = 0, yps = 0, xc = 0, yc = 0, start = 0, end = 0, inner = 0, outer = 0;
};
DrawnCake drawn_cake;

bool full_circle(float start, float end) { return std::abs(end - kTwoPi - start) <= 0.0001f; }

void draw_outline(const DrawnCake& c, Status& status) {
  // The outline stays on the image, off its title, axes and colour bar.
  gs_clip_to_graph(true, status);
  GS_LINESTYLE(1, 1.0f, kGsInverse, status);
  // The centre's mark as a cross of lines: markers cannot be drawn in the
  // inverse colour, and the outline must vanish when drawn again.
  GS_LINE(c.xc - 2.0f, c.yc, c.xc + 2.0f, c.yc, status);
  GS_LINE(c.xc, c.yc - 2.0f, c.xc, c.yc + 2.0f, status);
  auto radial = [&](float a) {
    GS_LINE(c.xc + c.inner / c.xps * std::cos(a), c.yc + c.inner / c.yps * std::sin(a),
            c.xc + c.outer / c.xps * std::cos(a), c.yc + c.outer / c.yps * std::sin(a), status);
  };
  radial(c.start);
  if (!full_circle(c.start, c.end)) radial(c.end);
  if (c.inner > 0.0f)
    GS_ARCELLIPSE(c.xc, c.yc, c.inner / c.xps, c.inner / c.yps, c.start, c.end, true, false, 100,
                  status);
  if (c.outer > 0.0f)
    GS_ARCELLIPSE(c.xc, c.yc, c.outer / c.xps, c.outer / c.yps, c.start, c.end, true, false, 100,
                  status);
  Status local = kStatusGood;
  gs_clip_to_graph(false, local);
  GS_UPDATE(status);
}

// One click for a limit: IN_BOX when the prompt box was clicked instead of
// the image; (PX, PY) the click in pixel coordinates. False after CANCEL
// (STATUS the user escape) or a failure.
bool limit_click(const GsDisplayedImage& im, std::string_view prompt,
                 std::span<const std::string> help, bool rubber, float xc, float yc, bool& in_box,
                 float& px, float& py, Status& status) {
  if (rubber) {
    float wx = 0.0f, wy = 0.0f;
    MA_PC2DC(im.xmaxdat, im.xendelm, im.xaxis, xc, wx, status);
    MA_PC2DC(im.ymaxdat, im.yendelm, im.yaxis, yc, wy, status);
    QG_SET_RUBBERBAND(1, 1, wx, wy, status);
  }
  std::array<float, 1> x{}, y{};
  int num = 0;
  GS_INPS_FCOORDINATES(false, im, prompt, static_cast<int>(help.size()), help, false, 1, num, x,
                       y, status);
  Status local = kStatusGood;
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
  if (status != kStatusGood) return false;
  in_box = num < 1;
  if (!in_box) {
    MA_DC2PIXC(im.xmaxdat, im.xendelm, im.xaxis, x[0], px, status);
    MA_DC2PIXC(im.ymaxdat, im.yendelm, im.yaxis, y[0], py, status);
  }
  return status == kStatusGood;
}

float click_radius(float px, float py, const PowderSettings& g, float xps, float yps) {
  return std::hypot((px - g.x_beam_centre) * xps, (py - g.y_beam_centre) * yps);
}

// The azimuth limits by click: START (box: 0.0), then END (box: start +
// 360 degrees).
bool click_start(const GsDisplayedImage& im, const PowderSettings& g, float& start,
                 Status& status) {
  bool box = false;
  float px = 0.0f, py = 0.0f;
  if (!limit_click(im, "STARTING AZIMUTH (CLICK HERE FOR 0.0)", kStartHelp, true, g.x_beam_centre,
                   g.y_beam_centre, box, px, py, status))
    return false;
  start = box ? 0.0f : std::atan2(py - g.y_beam_centre, px - g.x_beam_centre);
  return true;
}
bool click_end(const GsDisplayedImage& im, const PowderSettings& g, float start, float& end,
               Status& status) {
  bool box = false;
  float px = 0.0f, py = 0.0f;
  if (!limit_click(im, "END AZIMUTH (CLICK HERE FOR START + 360.0)", kEndHelp, true,
                   g.x_beam_centre, g.y_beam_centre, box, px, py, status))
    return false;
  end = box ? start + kTwoPi : std::atan2(py - g.y_beam_centre, px - g.x_beam_centre);
  return true;
}
bool click_inner(const GsDisplayedImage& im, const PowderSettings& g, float xps, float yps,
                 float& inner, Status& status) {
  bool box = false;
  float px = 0.0f, py = 0.0f;
  if (!limit_click(im, "INNER LIMIT (CLICK HERE FOR BEAM CENTRE)", kInnerHelp, false, 0.0f, 0.0f,
                   box, px, py, status))
    return false;
  inner = box ? 0.0f : click_radius(px, py, g, xps, yps);
  return true;
}
bool click_outer(const GsDisplayedImage& im, const PowderSettings& g, float xps, float yps,
                 float& outer, Status& status) {
  for (;;) {
    bool box = false;
    float px = 0.0f, py = 0.0f;
    if (!limit_click(im, "CLICK TO DEFINE OUTER LIMIT", kOuterHelp, false, 0.0f, 0.0f, box, px, py,
                     status))
      return false;
    // The prompt box gives no outer limit: ask again.
    if (box) continue;
    outer = click_radius(px, py, g, xps, yps);
    return true;
  }
}

void show_image(const KztDataSets& sets, bool mask_data, Status& status) {
  const GsDisplayedImage im = kzt_current_image(sets, mask_data);
  GS_MPLOT(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
           im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
}

void draw_limits(bool erase_old, const KztDataSets& sets, const PowderSettings& g,
                 const CakeLimits& l, Status& status) {
  KZT_DRAW_CAKE(erase_old, sets.x_pixel_size, sets.y_pixel_size, g.x_beam_centre,
                g.y_beam_centre, l.start_azimuth, l.end_azimuth, l.inner_limit, l.outer_limit,
                status);
}

// A bin count as a form's integer.
int bins(Index n) { return static_cast<int>(std::clamp<Index>(n, 1, 1 << 30)); }

const std::string kControlTitle[] = {"TYPE OF AZIMUTH/RADIAL OR", "2-THETA TRANSFORMATION"};
const std::string kControlInfo[] = {
    "This form allows you to control various options in the re-binning",
    "from the 2-D detector data to an azimuthal versus 2-theta or",
    "radial distance coordinate system.",
    "Further help will be added when this option is completed."};

// The control form on copies; false after CANCEL (STATUS the user escape).
bool control_form(Index xmaxdat, Index ymaxdat, float xps, CakeLimits& l, CakeControl& c,
                  PowderSettings& g, int& lorentz, Status& status) {
  if (lorentz != 0 && lorentz != 1)
    IO_WRITE("PANIC: The type of Lorentz/geometrical correction is unknown", status);
  for (;;) {
    std::vector<GsFormItem> items;
    items.push_back(kzt_form_real("START AZIMUTH", "STARTING AZIMUTH ANGLE (DEGREES)",
                              "Enter azimuth angle for start of region to be integrated (degrees)",
                              l.start_azimuth * kDegreesPerRadian, true, -360.0f, 360.0f));
    items.push_back(kzt_form_real("END AZIMUTH", "END AZIMUTH ANGLE (DEGREES)",
                              "Enter azimuth angle for end of region to be integrated (degrees)",
                              l.end_azimuth * kDegreesPerRadian, true, -360.0f, 360.0f));
    items.push_back(kzt_form_real(
        "INNER RADIUS", "INNER RADIAL LIMIT (PIXELS)",
        "Enter radius for inner radial limit of region to be integrated (pixels",
        l.inner_limit / xps, true, 0.0f, 10000.0f));
    items.push_back(kzt_form_real(
        "OUTER RADIUS", "OUTER RADIAL LIMIT (PIXELS)",
        "Enter radius for outer radial limit of region to be integrated (pixels",
        l.outer_limit / xps, true, 0.0f, 10000.0f));
    GsFormItem type = kzt_form_item(
        "SCAN TYPE", 9, "SCAN TYPE (RADIAL, 2-THETA, Q-SPACE)",
        "Select type of output 1-D scan: \"RADIAL\", \"2-THETA\", or \"Q-SPACE\"");
    type.int_value = c.scan_type;
    items.push_back(type);
    items.push_back(kzt_form_integer("AZIMUTH BINS", "NUMBER OF AZIMUTHAL BINS",
                                 "Number of bins in the azimuth", bins(c.num_azimuthal), 1,
                                     bins(ymaxdat)));
    items.push_back(kzt_form_integer("RADIAL BINS", "NUMBER OF RADIAL/2-THETA BINS",
                                 "Number of bins in the 2-theta/radial direction",
                                     bins(c.num_2theta), 1, bins(xmaxdat)));
    items.push_back(kzt_form_logical(
        "CONSERVE INT.", "INTENSITY CONSERVATION",
        "Enter \"YES\" to conserve total intensity, \"NO\" for \"2-theta scans\"(inte",
        c.conserve_intensity));
    items.push_back(kzt_form_logical("POLARISATION", "APPLY POLARISATION CORRECTION",
                                 "Enter \"YES\" to apply polarisation correction",
                                 g.correct_polarisation));
    items.push_back(kzt_form_real("FACTOR", "POLARISATION FACTOR",
                              "Enter ratio of horizontal to vertical polarisation",
                              g.polarisation, true, -1.0f, 1.0f));
    items.push_back(kzt_form_real(
        "MAX. D-SPACING", "MAXIMUM FOR D-SPACINGS SCANS (ANGSTROMS)",
        "Enter maximum value of range for calculation of D-spacing scans (Angst", c.maximum_d,
        true, 1.0f, 10000.0f));
    items.push_back(kzt_form_logical("GEOMETRY COR.", "GEOMETRICAL CORRECTION TO INTENSITIES",
                                 "Enter \"YES\" if scan intensities are corrected for geometry",
                                 lorentz == 1));
    kzt_form_clamp(items);
    int code = 0;
    GS_FORM(2, 2, kControlTitle, 4, 4, kControlInfo, static_cast<int>(items.size()) + 5, items,
            code, status);
    if (status == kStatusGood && code == -1) status = kStatusEscape;
    if (status != kStatusGood) return false;
    l.start_azimuth = items[0].real_value * kRadiansPerDegree;
    l.end_azimuth = items[1].real_value * kRadiansPerDegree;
    l.inner_limit = items[2].real_value * xps;
    l.outer_limit = items[3].real_value * xps;
    c.scan_type = std::clamp(items[4].int_value, 0, 3);
    c.num_azimuthal = items[5].int_value;
    c.num_2theta = items[6].int_value;
    c.conserve_intensity = items[7].logical_value;
    g.correct_polarisation = items[8].logical_value;
    g.polarisation = items[9].real_value;
    c.maximum_d = items[10].real_value;
    lorentz = items[11].logical_value ? 1 : 0;
    if (l.outer_limit > l.inner_limit) return true;
    gs_refusal({"!!! OUTER LIMIT MUST BE GREATER THAN INNER LIMIT  !!!"}, status);
    if (status != kStatusGood) return false;
  }
}

const char* const kCakeTitles[] = {": Azimuth/Radial Distance", ": Azimuth/2-theta",
                                   ": Q-Space Scan", ": D-Spacings Scan"};
const char* const kCakeLabels[] = {"Radial Distance (mm)", "2-Theta Angle (Degrees)",
                                   "Q (Inverse Nanometres)", "D-spacing (Angstroms)"};

// The current data and the memory swapped, and with them whether each is
// shown and re-binned with the mask: the mask belongs to the image, not to
// the cake made from it.
void exchange(KztDataSets& sets, bool& mask_data, bool& mask_memory, Status& status) {
  KZT_EXCHANGE(sets, status);
  if (status == kStatusGood) std::swap(mask_data, mask_memory);
}

void no_data_prompt(Status& status) {
  GS_FPROMPT(4, 4,
             {"THERE IS NO DATA", "IN THE MAIN PROGRAM", "ARRAY. (USE \"EXCHANGE\"",
              "OR \"EXIT\")"},
             status);
  GS_UPDATE(status);
}

}  // namespace

CakeState& kzt_cake_state() {
  static CakeState state;
  return state;
}

void KZT_CAKEHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_CAKEHELP V0.1")) return;
  const int n = static_cast<int>(std::size(kHelp));
  if (gui)
    GS_MESSAGE(n, n, kHelp, status);
  else
    IO_TEXT(n, kHelp, status);
}

void KZT_DRAW_CAKE(bool erase_old, float xps, float yps, float xc, float yc, float start,
                   float end, float inner, float outer, Status& status) {
  constexpr const char* kName = "Subroutine KZT_DRAW_CAKE V0.2";
  if (st_bad(status, kName)) return;
  if (!(xps > 0.0f) || !(yps > 0.0f)) return st_fail(status, kBaseApp + 3, kName);
  if (erase_old && drawn_cake.drawn) draw_outline(drawn_cake, status);
  drawn_cake = DrawnCake{true, xps, yps, xc, yc, start, end, inner, outer};
  draw_outline(drawn_cake, status);
}

void kzt_cake_bins(const CakeLimits& l, float xps, float yps, Index xmaxdat, Index ymaxdat,
                   Index& num_2theta, Index& num_azimuthal) {
  float range = l.end_azimuth - l.start_azimuth;
  if (l.end_azimuth <= l.start_azimuth) range += kTwoPi;
  const double degrees = std::round(range * kDegreesPerRadian);
  num_azimuthal = std::clamp<Index>(
      std::isfinite(degrees) ? static_cast<Index>(std::min(degrees, 1.0e9)) : 1, 1,
      std::max<Index>(ymaxdat, 1));
  const double pixels =
      std::round((l.outer_limit - l.inner_limit) / std::min(xps, yps));
  num_2theta = std::clamp<Index>(
      std::isfinite(pixels) ? static_cast<Index>(std::clamp(pixels, 1.0, 1.0e9)) : 1, 1,
      std::max<Index>(xmaxdat, 1));
}

void kzt_cake_transform(KztDataSets& sets, bool mask_data, const PowderSettings& g,
                        const CakeLimits& l, const CakeControl& c, int lorentz_geometry,
                        Status& status) {
  constexpr const char* kName = "Subroutine KZT_CAL_CAKE V0.5";
  KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  if (a.data == nullptr || a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    IO_WRITE("WARNING: There are no memory arrays (use \"DIMENSIONS\")", status);
    return;
  }
  if (c.num_2theta < 1 || c.num_2theta > a.xmaxdat || c.num_azimuthal < 1 ||
      c.num_azimuthal > a.ymaxdat)
    return st_fail(status, kBaseApp + 5, kName);
  Index cells = 0;
  if (!checked_product(c.num_2theta, c.num_azimuthal, cells)) return st_fail(status, kBaseApp + 3, kName);
  std::vector<float> weights(static_cast<std::size_t>(cells));
  float end = l.end_azimuth;
  if (end <= l.start_azimuth) end += kTwoPi;
  float azimuth_step = 0.0f, radial_step = 0.0f, radial_start = 0.0f;
  const std::span<const std::uint8_t> mask = kzt_current_image(sets, mask_data).mask;
  KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), mask, c.conserve_intensity, c.scan_type, c.maximum_d,
                sets.x_pixel_size, sets.y_pixel_size, g.sample_distance, g.wavelength,
                g.x_beam_centre, g.y_beam_centre, l.start_azimuth, end, l.inner_limit,
                l.outer_limit, g.tilt_rotation, g.tilt_angle, c.num_2theta, c.num_azimuthal,
                g.correct_polarisation, g.polarisation, lorentz_geometry, a.xmaxdat, a.ymaxdat,
                c.num_2theta, c.num_azimuthal, azimuth_step, radial_step, radial_start, weights,
                kzt_image(a.mdata), status);
  if (status != kStatusGood) return;
  const std::span<float> mx = kzt_xline(a.mxaxis), my = kzt_yline(a.myaxis);
  for (Index k = 1; k <= c.num_azimuthal; ++k)
    my[static_cast<std::size_t>(k - 1)] =
        ((static_cast<float>(k) - 0.5f) * azimuth_step + l.start_azimuth) * kDegreesPerRadian;
  for (Index i = 1; i <= c.num_2theta; ++i) {
    const float centre = (static_cast<float>(i) - 0.5f) * radial_step;
    float& x = mx[static_cast<std::size_t>(i - 1)];
    if (c.scan_type == kScanTwoTheta)
      x = (centre + radial_start) * kDegreesPerRadian;
    else if (c.scan_type == kScanRadial)
      x = (centre + l.inner_limit) * 1000.0f;
    else
      x = centre + radial_start;
  }
  std::string title = sets.title;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  sets.mtitle = (title + kCakeTitles[c.scan_type]).substr(0, kKztTextLength);
  sets.mxlabel = kCakeLabels[c.scan_type];
  sets.mylabel = "Azimuth (Degrees)";
  sets.mzlabel = sets.zlabel;
  sets.mxnumdat = c.num_2theta;
  sets.mynumdat = c.num_azimuthal;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = c.num_2theta;
  sets.myendelm = c.num_azimuthal;
  sets.mx_pixel_size = sets.x_pixel_size;
  sets.my_pixel_size = sets.y_pixel_size;
  sets.memory_defined = true;
}

void KZT_CAL_CAKE(KztDataSets& sets, bool mask_data, PowderSettings& geometry,
                  CakeLimits& limits, int& lorentz_geometry, int& return_code, Status& status) {
  constexpr const char* kName = "Subroutine KZT_CAL_CAKE V0.5";
  return_code = -1;
  const KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  CakeControl control = kzt_cake_state().control;
  int retstat = 0;
  IO_INQ_IKEYVALUE("SCAN_TYPE", control.scan_type, retstat, status);
  IO_INQ_RKEYVALUE("MAXIMUM_D", control.maximum_d, retstat, status);
  control.scan_type = std::clamp(control.scan_type, 0, 3);
  if (control.first) {
    kzt_cake_bins(limits, sets.x_pixel_size, sets.y_pixel_size, a.xmaxdat, a.ymaxdat,
                  control.num_2theta, control.num_azimuthal);
    control.first = false;
  }
  // Copies changed by the forms, kept only after O.K.
  PowderSettings g = geometry;
  CakeLimits l = limits;
  int lorentz = lorentz_geometry;
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  float& xps = pixels.x;
  float& yps = pixels.y;
  KZT_GUI_GEOMETRY(xps, yps, g.sample_distance, g.wavelength, g.x_beam_centre, g.y_beam_centre,
                   g.tilt_rotation, g.tilt_angle, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  if (!control_form(a.xmaxdat, a.ymaxdat, xps, l, control, g, lorentz, status)) {
    if (status == kStatusEscape) st_reset(status);
    return;
  }
  IO_SET_IKEYVALUE("SCAN_TYPE", control.scan_type, retstat, status);
  IO_SET_RKEYVALUE("MAXIMUM_D", control.maximum_d, retstat, status);
  geometry = g;
  limits = l;
  lorentz_geometry = lorentz;
  kzt_keep_pixel_sizes(pixels, sets.x_pixel_size, sets.y_pixel_size);
  kzt_cake_state().control = control;

  GS_FPROMPT(2, 2, {"WORKING: CALCULATING TRANSFORM", "NOTE: ORIGINAL DATA STORED IN THE MEMORY"},
             status);
  GS_UPDATE(status);
  kzt_cake_transform(sets, mask_data, geometry, limits, control, lorentz_geometry, status);
  if (status == kStatusGood && sets.memory_defined) return_code = 0;
}

void KZT_INP_CAKE(KztDataSets& sets, bool mask_data, PowderSettings& g, CakeLimits& limits,
                  Status& status) {
  constexpr const char* kName = "Subroutine KZT_INP_CAKE V0.3";
  const KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  const float xps = sets.x_pixel_size, yps = sets.y_pixel_size;
  const GsDisplayedImage im = kzt_current_image(sets, mask_data);
  // The beam-centre menu works in metres.
  float xb = g.x_beam_centre * xps, yb = g.y_beam_centre * yps;
  float r1 = 0.0f, r2 = 0.0f, angle = 0.0f, error = 0.0f;
  int method = 0;
  KZT_BEAMCENTRE(true, im, xps, yps, false, method, xb, yb, r1, r2, angle, error, status);
  if (status != kStatusGood) return;
  g.x_beam_centre = xb / xps;
  g.y_beam_centre = yb / yps;
  show_image(sets, mask_data, status);
  GS_LINESTYLE(1, 1.0f, kGsInverse, status);
  GS_MARK(g.x_beam_centre, g.y_beam_centre, 4.0f, status);

  CakeLimits l = limits;
  if (!click_start(im, g, l.start_azimuth, status)) return;
  if (!click_end(im, g, l.start_azimuth, l.end_azimuth, status)) return;
  for (;;) {
    if (!click_inner(im, g, xps, yps, l.inner_limit, status)) return;
    if (!click_outer(im, g, xps, yps, l.outer_limit, status)) return;
    if (l.outer_limit > l.inner_limit) break;
    gs_refusal({"THE OUTER LIMIT MUST BE GREATER THAN THE INNER LIMIT"}, status);
    if (status != kStatusGood) return;
  }
  l.first = false;
  limits = l;
  KZT_DRAW_CAKE(false, xps, yps, g.x_beam_centre, g.y_beam_centre, l.start_azimuth,
                l.end_azimuth, l.inner_limit, l.outer_limit, status);
}

void KZT_CAKE(bool gui, KztDataSets& sets, PowderSettings& g, int& lorentz_geometry,
              bool& mask_data, bool& mask_memory, Status& status) {
  constexpr const char* kName = "Subroutine KZT_CAKE V0.6";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  CakeLimits& l = kzt_cake_state().limits;
  show_image(sets, mask_data, status);
  bool shown = false;
  if (l.first) {
    KZT_INP_CAKE(sets, mask_data, g, l, status);
    if (status == kStatusEscape) {
      st_reset(status);
      return;
    }
    shown = status == kStatusGood;
  } else if (a.xendelm > a.xstrelm && a.yendelm > a.ystrelm) {
    draw_limits(false, sets, g, l, status);
    shown = true;
  }
  bool redraw = false;
  while (status == kStatusGood) {
    if (redraw) {
      if (!sets.data_defined) {
        no_data_prompt(status);
      } else {
        show_image(sets, mask_data, status);
        if (shown) draw_limits(false, sets, g, l, status);
      }
    }
    GS_SET_MENULAYOUT(1, 4, 12, 12, status);
    GS_FMENU(1, 1, {"! CAKE MENU !"}, kNumMenu, kNumMenu, kMenu, status);
    redraw = true;
    int type = kGsChoiceNone;
    std::string choice;
    float cx = 0.0f, cy = 0.0f;
    GS_INP_MENUCHOICE(kNumMenu, kNumMenu, kMenu, 2, type, choice, cx, cy, status);
    if (status != kStatusGood) break;  // the input has ended: leave the menu
    const GsDisplayedImage im = kzt_current_image(sets, mask_data);
    const float xps = sets.x_pixel_size, yps = sets.y_pixel_size;
    if (type == kGsChoicePoint) {
      bool update_image = false, update_menu = false;
      KZT_CLICK(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.xaxis,
                im.yaxis, im.data, im.title, im.xlabel, im.ylabel, im.zlabel, cx, cy, xps, yps,
                update_image, update_menu, status);
      redraw = update_image;
    } else if (type == kGsChoiceRedraw) {
      // redrawn above
    } else if (type != kGsChoiceButton) {
      redraw = false;
    } else if (choice == "EXIT") {
      break;
    } else if (choice == "?") {
      GS_MESSAGE(kNumMenu, kNumMenu, kMenuHelp, status);
    } else if (choice == "HELP") {
      KZT_CAKEHELP(true, status);
    } else if (choice == "BEAM CENTRE") {
      float xb = g.x_beam_centre * xps, yb = g.y_beam_centre * yps;
      float r1 = 0.0f, r2 = 0.0f, angle = 0.0f, error = 0.0f;
      int method = 0;
      KZT_BEAMCENTRE(true, im, xps, yps, false, method, xb, yb, r1, r2, angle, error, status);
      if (status == kStatusGood) {
        g.x_beam_centre = xb / xps;
        g.y_beam_centre = yb / yps;
      }
    } else if (choice == "INTEGRATE") {
      int code = -1;
      KZT_CAL_CAKE(sets, mask_data, g, l, lorentz_geometry, code, status);
      if (status == kStatusGood && code == 0) {
        // The cake replaced what the memory held: it has no mask of its own.
        mask_memory = false;
        exchange(sets, mask_data, mask_memory, status);
        shown = false;
      }
    } else if (choice == "EXCHANGE") {
      exchange(sets, mask_data, mask_memory, status);
      shown = !shown;
    } else if (choice == "FULL") {
      a.xstrelm = 1;
      a.ystrelm = 1;
      a.xendelm = std::max<Index>(a.xnumdat, 1);
      a.yendelm = std::max<Index>(a.ynumdat, 1);
    } else if (choice == "START AZIMUTH") {
      float start = l.start_azimuth;
      if (click_start(im, g, start, status)) {
        l.start_azimuth = start;
        draw_limits(true, sets, g, l, status);
      }
    } else if (choice == "END AZIMUTH") {
      float end = l.end_azimuth;
      if (click_end(im, g, l.start_azimuth, end, status)) {
        l.end_azimuth = end;
        draw_limits(true, sets, g, l, status);
      }
    } else if (choice == "INNER RADIUS") {
      float inner = l.inner_limit;
      if (click_inner(im, g, xps, yps, inner, status)) {
        l.inner_limit = inner;
        draw_limits(true, sets, g, l, status);
      }
    } else if (choice == "OUTER RADIUS") {
      float outer = l.outer_limit;
      if (click_outer(im, g, xps, yps, outer, status)) {
        l.outer_limit = outer;
        draw_limits(true, sets, g, l, status);
      }
    } else if (choice == "UN-ZOOM") {
      GS_INP_UNZOOM(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                    a.yendelm, status);
    } else if (choice == "ZOOM IN") {
      KZT_ZOOMIN(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, im.xaxis, im.yaxis, im.data, im.title,
                 im.xlabel, im.ylabel, im.zlabel, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 status);
    } else if (choice == "Z-SCALING") {
      KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
                     im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel,
                     im.zlabel, false, 0.0f, 0.0f, status);
    } else if (choice == "MASK") {
      kzt_create_mask(sets.mask_exist, status);
      if (status == kStatusGood && sets.mask_exist) {
        KZT_MASK(true, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, im.data, im.xaxis, im.yaxis,
                 im.title, im.xlabel, im.ylabel, im.zlabel, xps, yps, a.xstrelm, a.ystrelm,
                 a.xendelm, a.yendelm, kzt_mask(), status);
        mask_data = true;
      }
    } else if (choice == "ASPECT RATIO") {
      bool keep = true;
      GS_INQ_IASPECT(keep, status);
      bool answer = keep;
      GS_INPL(true, false, true, true, "AUTOMATIC CORRECT ASPECT RATIO IMAGE DISPLAY",
              {"\"YES\": the image is displayed with square pixels;",
               "\"NO\": the image uses all of the display region,",
               "whatever the shape of the pixels. The choice holds",
               "for every later image display."},
              {"Enter \"YES\" or \"NO\""}, answer, status);
      if (status == kStatusGood && answer != keep) GS_SET_IASPECT(answer, status);
      else redraw = false;
    } else {
      redraw = false;
    }
    // An escape inside an action leaves the limits as they were.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  }
  if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  if (!gui) {
    Status local = kStatusGood;
    GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, local);
    GS_UPDATE(local);
  }
}

}  // namespace kesta
