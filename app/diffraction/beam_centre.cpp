#include "app/diffraction/beam_centre.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/circle_fits.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/symmetry_centre.hpp"
#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/main/kzt_common.hpp"
#include "core/ask_again.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "numeric/modelfit.hpp"
#include "numeric/profiles1d.hpp"

namespace kesta {

namespace {

constexpr int kMaxClicks = 100;

const std::string kChoices[] = {"?",
                                "HELP",
                                "2-D GAUSSIAN FIT",
                                "AVERAGED GRAPHICAL",
                                "CIRCLE COORDINATES",
                                "ELLIPSE COORDINATES",
                                "GRAPHICAL COORDINATE",
                                "FIT 1-D PROJECTION",
                                "KEYBOARD",
                                "NO CHANGE"};
const std::string kChoiceHelp[] = {"?: This discription list of commands",
                                   "HELP: On defining the beam centre",
                                   "2-D GAUSSIAN FIT: Fit direct beam mark with 2-D Gaussian",
                                   "AVERAGED GRAPHICAL: Average of average symmetry centres",
                                   "CIRCLE COORDINATES: Least squares fit on >=3 coordinates",
                                   "ELLIPSE COORDINATES: Least squares fit on >=5 coordinates",
                                   "GRAPHICAL COORDINATE: Single graphical input coordinate",
                                   "FIT 1-D PROJECTION: Fit symmetry of projected region",
                                   "KEYBOARD: Single keyboard entered X/Y coordinate",
                                   "NO CHANGE: Use existing beam centre"};
constexpr int kNumChoices = 10;

const std::string kHelp[] = {"      WELCOME TO THE BEAM CENTRE",
                             "          GRAPHICAL MENU",
                             "",
                             "Several ways of defining the beam",
                             "centre are offered. Which is best",
                             "depends on the beam line and on the",
                             "data. When the direct beam is imaged",
                             "through a semi-transparent beam-stop,",
                             "\"2-D GAUSSIAN FIT\" is the best.",
                             "",
                             "2-D GAUSSIAN FIT: Click on or near",
                             "the direct beam mark; a 2-D Gaussian",
                             "with a constant background is fitted",
                             "and its centre is the beam centre.",
                             "",
                             "AVERAGED GRAPHICAL: Click on pairs of",
                             "points which are symmetric about the",
                             "beam centre, e.g. the centres of",
                             "peaks. The average of the points is",
                             "the beam centre; an odd last point",
                             "is ignored.",
                             "",
                             "CIRCLE COORDINATES: Click on three",
                             "or more points on a powder ring",
                             "centred on the beam. The least",
                             "squares circle through them gives",
                             "the centre, with an error estimate",
                             "from four points on.",
                             "",
                             "ELLIPSE COORDINATES: Click on five",
                             "or more points on a powder ring; a",
                             "least squares ellipse is fitted.",
                             "Use this with a tilted detector.",
                             "",
                             "GRAPHICAL COORDINATE: Click directly",
                             "on the estimated beam centre.",
                             "",
                             "FIT 1-D PROJECTION: A specialised",
                             "method for grazing-incidence SAXS",
                             "data: a projection line and region",
                             "are defined, the projection is",
                             "fitted with a function symmetric",
                             "about the centre, which defines one",
                             "coordinate; the other may be given.",
                             "",
                             "KEYBOARD: Type the X and Y pixel",
                             "coordinates of the beam centre.",
                             "",
                             "NO CHANGE: Keep the present centre."};

bool window_exists() { return qg_x11_driver() != nullptr; }

constexpr std::string_view kNeedsWindow =
    "WARNING: This method needs the graphics window: choose \"KEYBOARD\" or \"NO CHANGE\"";

void show_image(const GsDisplayedImage& im, Status& status) {
  GS_MPLOT(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
           im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
}

void draw_menu(Status& status) {
  GS_SET_MENULAYOUT(0, 2, 18, 12, status);
  GS_FMENU(1, 1, {"BEAM CENTRE MENU"}, kNumChoices, kNumChoices, kChoices, status);
}

// Clicks on the displayed image (typed answers while a macro replays). False
// after CANCEL or the end of the input: the caller then keeps the centre.
bool clicks(const GsDisplayedImage& im, std::string_view prompt, std::span<const std::string> help,
            int wanted, int& num, std::array<float, kMaxClicks>& x,
            std::array<float, kMaxClicks>& y, Status& status) {
  num = wanted;
  GS_INPS_FCOORDINATES(false, im, prompt, static_cast<int>(help.size()), help, false, kMaxClicks,
                       num, x, y, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  return status == kStatusGood;
}

void warn(std::string_view text, Status& status) { gs_refusal({std::string(text)}, status); }

}  // namespace

void kzt_radial_error_lines(Index num_points, Index undetermined_below, float error,
                            float x_pixel_size, Status& status) {
  if (num_points < undetermined_below) {
    IO_WRITE("INFO: The coordinate radial position error is totally undetermined", status);
    return;
  }
  // A fit that ran away (a sum of squares below what its parameters
  // explain, or infinite) leaves no estimate: said so, not printed as a
  // number no error can be.
  if (!std::isfinite(error) || error < 0.0f) {
    IO_WRITE("INFO: The coordinate radial position error could not be estimated: the fit gives "
             "no finite error",
             status);
    return;
  }
  IO_WRITE(
      "INFO: Estimated coordinate radial position error (mm) = " + format_g(error * 1000.0, 14, 7),
      status);
  IO_WRITE("INFO: Estimated coordinate radial position error (X pixels) = " +
               format_g(error / x_pixel_size, 14, 7),
           status);
}

namespace {

// The clicked points (pixel coordinates) in metres.
void to_metres(int num, std::array<float, kMaxClicks>& x, std::array<float, kMaxClicks>& y,
               float xps, float yps) {
  for (int k = 0; k < num; ++k) {
    x[static_cast<std::size_t>(k)] *= xps;
    y[static_cast<std::size_t>(k)] *= yps;
  }
}

const std::string kGaussianInfo[] = {
    "Click on or near to direct beam mark.", "So long as you are not too far from the",
    "edge of the mark the algorithm should be", "able to find the centre."};
const std::string kAveragedInfo[] = {"Click on pairs of point which are symmetric about a",
                                     "centre of symmetry e.g. centres of peaks. Make sure",
                                     "that the number of coordinates entered is even. The",
                                     "average of the input points will be used for the",
                                     "beam centre."};
const std::string kEllipseInfo[] = {"Click on five or more coordinates on an ellipse, or",
                                    "circle, which is centred about the beam centre. If",
                                    "more than five coordinates are entered, the least",
                                    "squares positional error solution will be used, and",
                                    "an error estimate will be output."};
const std::string kCircleInfo[] = {"Click on three or more coordinates on an ellipse, or",
                                   "circle, which is centred about the beam centre. If",
                                   "more than three coordinates are entered, the least",
                                   "squares positional error solution will be used, and",
                                   "an error estimate will be output."};
const std::string kSingleInfo[] = {"Click directly on the estimated position of the",
                                   "beam centre."};

enum class Outcome { kDone, kAgain, kEscaped };

// One graphical method. The centre changes only when the method gives one.
Outcome graphical_method(const std::string& choice, const GsDisplayedImage& im, float xps,
                         float yps, bool info, int& method, float& x_beam, float& y_beam,
                         float& radius_1, float& radius_2, float& angle, float& error,
                         Status& status) {
  std::array<float, kMaxClicks> x{}, y{};
  int num = 0;
  if (choice == "2-D GAUSSIAN FIT") {
    if (!clicks(im, "CLICK ON DIRECT BEAM MARK", kGaussianInfo, 1, num, x, y, status))
      return Outcome::kEscaped;
    if (num < 1) return Outcome::kEscaped;
    GS_FPROMPT(1, 1, {"REFINING BEAM CENTRE: PLEASE WAIT"}, status);
    GS_UPDATE(status);
    Index px = 1, py = 1;
    GS_CAL_WCTOPIX(im.xmaxdat, im.xendelm, im.xaxis, x[0], px, status);
    GS_CAL_WCTOPIX(im.ymaxdat, im.yendelm, im.yaxis, y[0], py, status);
    int retstat = 0;
    float xc = 0.0f, yc = 0.0f;
    KZT_BEAMGAUSSIAN(im.xmaxdat, im.ymaxdat, im.data, im.xstrelm, im.ystrelm, im.xendelm,
                     im.yendelm, px, py, retstat, xc, yc, status);
    if (status != kStatusGood) return Outcome::kDone;
    if (retstat != 0) {
      method = kBeamGaussianFailed;
      return Outcome::kDone;
    }
    x_beam = xc * xps;
    y_beam = yc * yps;
    method = kBeamGaussian;
  } else if (choice == "AVERAGED GRAPHICAL") {
    if (!clicks(im, "DEFINE PAIRS OF SYMMETRIC COORDINATES", kAveragedInfo, 0, num, x, y, status))
      return Outcome::kEscaped;
    const int used = 2 * (num / 2);
    // Fewer than two points hold no pair: the centre stays and the menu is
    // offered again.
    if (used < 2) {
      warn("WARNING: Less than two coordinates input", status);
      return Outcome::kAgain;
    }
    double sx = 0.0, sy = 0.0;
    for (int k = 0; k < used; ++k) {
      sx += x[static_cast<std::size_t>(k)];
      sy += y[static_cast<std::size_t>(k)];
    }
    x_beam = static_cast<float>(sx / used) * xps;
    y_beam = static_cast<float>(sy / used) * yps;
    method = kBeamAveraged;
  } else if (choice == "ELLIPSE COORDINATES") {
    if (!clicks(im, "INPUT COORDINATES ON ELLIPSE (>=5)", kEllipseInfo, 0, num, x, y, status))
      return Outcome::kEscaped;
    if (num < 5) {
      warn("WARNING: Less than five coordinates input", status);
      return Outcome::kAgain;
    }
    to_metres(num, x, y, xps, yps);
    float xc = 0.0f, yc = 0.0f, r1 = 0.0f, r2 = 0.0f, a = 0.0f, e = 0.0f;
    KZT_LSQELLIPSE(kMaxClicks, num, x, y, xc, yc, r1, r2, a, e, status);
    if (status != kStatusGood) return Outcome::kDone;
    x_beam = xc;
    y_beam = yc;
    radius_1 = r1;
    radius_2 = r2;
    angle = a;
    error = e;
    if (info) {
      IO_WRITE("INFO: Best fit radius 1, radius 2 (mm) = " + format_g(r1 * 1000.0, 14, 7) +
                   format_g(r2 * 1000.0, 14, 7),
               status);
      IO_WRITE("INFO: Best fit radius 1, radius 2 (X-pixels) = " + format_g(r1 / xps, 14, 7) +
                   format_g(r2 / xps, 14, 7),
               status);
      IO_WRITE(
          "INFO: Best fit angle of axis 1 (degrees) = " + format_g(a * kDegreesPerRadian, 14, 7),
          status);
      kzt_radial_error_lines(num, 6, e, xps, status);
    }
    method = kBeamEllipse;
  } else if (choice == "CIRCLE COORDINATES") {
    if (!clicks(im, "INPUT CONCENTRIC COORDINATES (>=3)", kCircleInfo, 0, num, x, y, status))
      return Outcome::kEscaped;
    method = kBeamCircle;
    if (num < 3) {
      warn("WARNING: Less than three coordinates input", status);
    } else {
      to_metres(num, x, y, xps, yps);
      float xc = 0.0f, yc = 0.0f, r = 0.0f, e = 0.0f;
      KZT_LSQCIRCLE(kMaxClicks, num, x, y, xc, yc, r, e, status);
      if (status != kStatusGood) return Outcome::kDone;
      x_beam = xc;
      y_beam = yc;
      radius_1 = r;
      radius_2 = r;
      angle = 0.0f;
      error = e;
      if (info) {
        IO_WRITE("INFO: Best fit radius (mm) = " + format_g(r * 1000.0, 14, 7), status);
        IO_WRITE("INFO: Best fit radius (X-pixels) = " + format_g(r / xps, 14, 7), status);
        kzt_radial_error_lines(num, 4, e, xps, status);
      }
    }
  } else if (choice == "FIT 1-D PROJECTION") {
    if (!KZT_PROJECTFIT(im, xps, yps, x_beam, y_beam, status)) return Outcome::kEscaped;
    method = kBeamProjection;
  } else if (choice == "GRAPHICAL COORDINATE") {
    if (!clicks(im, "DEFINE BEAM/SYMMETRY CENTRE", kSingleInfo, 1, num, x, y, status))
      return Outcome::kEscaped;
    if (num < 1) return Outcome::kEscaped;
    x_beam = x[0] * xps;
    y_beam = y[0] * yps;
    method = kBeamGraphical;
  }
  if (status != kStatusGood) return Outcome::kDone;
  IO_WRITE("INFO: Beam/symmetry centre (mm) = (" + format_g(x_beam * 1000.0, 14, 7) + "," +
               format_g(y_beam * 1000.0, 14, 7) + ")",
           status);
  IO_WRITE("INFO: Beam/symmetry centre (pixels) = (" + format_g(x_beam / xps, 14, 7) + "," +
               format_g(y_beam / yps, 14, 7) + ")",
           status);
  GS_MARK(x_beam / xps, y_beam / yps, 2.0f, status);
  GS_UPDATE(status);
  return Outcome::kDone;
}

bool is_graphical(const std::string& choice) {
  return choice == "2-D GAUSSIAN FIT" || choice == "AVERAGED GRAPHICAL" ||
         choice == "CIRCLE COORDINATES" || choice == "ELLIPSE COORDINATES" ||
         choice == "GRAPHICAL COORDINATE" || choice == "FIT 1-D PROJECTION";
}

std::string last_choice = "CIRCLE COORDINATES";

}  // namespace

GsDisplayedImage kzt_current_image(const KztDataSets& sets) {
  const KztArrays& a = vosq_kzt_arrays;
  GsDisplayedImage image;
  image.mask_data = sets.mask_exist;
  image.xmaxdat = a.xmaxdat;
  image.ymaxdat = a.ymaxdat;
  image.xstrelm = a.xstrelm;
  image.ystrelm = a.ystrelm;
  image.xendelm = a.xendelm;
  image.yendelm = a.yendelm;
  image.data = kzt_image(a.data);
  if (sets.mask_exist) image.mask = kzt_mask();
  image.xaxis = kzt_xline(a.xaxis);
  image.yaxis = kzt_yline(a.yaxis);
  image.title = sets.title;
  image.xlabel = sets.xlabel;
  image.ylabel = sets.ylabel;
  image.zlabel = sets.zlabel;
  return image;
}

GsDisplayedImage kzt_current_image(const KztDataSets& sets, bool mask_data) {
  GsDisplayedImage image = kzt_current_image(sets);
  if (!mask_data) {
    image.mask_data = false;
    image.mask = {};
  }
  return image;
}

void KZT_BEAMCENTREHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_BEAMCENTREHELP V0.1")) return;
  if (gui) {
    GS_MESSAGE(static_cast<int>(std::size(kHelp)), static_cast<int>(std::size(kHelp)), kHelp,
               status);
  } else {
    IO_TEXT(static_cast<int>(std::size(kHelp)), kHelp, status);
  }
}

void KZT_BEAMCENTRE(bool gui, const GsDisplayedImage& image, float x_pixel_size, float y_pixel_size,
                    bool info, int& method, float& x_beam, float& y_beam, float& radius_1,
                    float& radius_2, float& angle, float& error, Status& status) {
  constexpr const char* kName = "Subroutine KZT_BEAMCENTRE V0.1";
  if (st_bad(status, kName)) return;
  const GsDisplayedImage& im = image;
  if (const Status code = region_error(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                                       im.yendelm, kBaseApp))
    return st_fail(status, code, kName);
  const bool window = window_exists();
  method = kBeamNoChange;
  if (gui) draw_menu(status);
  bool image_shown = gui;
  for (;;) {
    std::string choice;
    if (gui) {
      int type = kGsChoiceNone;
      float cx = 0.0f, cy = 0.0f;
      GS_INP_MENUCHOICE(kNumChoices, kNumChoices, kChoices, 2, type, choice, cx, cy, status);
      if (status == kStatusEscape) {
        st_reset(status);
        method = kBeamNoChange;
        break;
      }
      if (status != kStatusGood) break;
      if (type == kGsChoicePoint) {
        bool update_image = false, update_menu = false;
        KZT_CLICK(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.xaxis,
                  im.yaxis, im.data, im.title, im.xlabel, im.ylabel, im.zlabel, cx, cy,
                  x_pixel_size, y_pixel_size, update_image, update_menu, status);
        if (update_image) show_image(im, status);
        if (update_image || update_menu) draw_menu(status);
        if (status != kStatusGood) break;
        continue;
      }
      if (type == kGsChoiceRedraw) {
        show_image(im, status);
        draw_menu(status);
        continue;
      }
      if (type != kGsChoiceButton) continue;
    } else {
      // Without the window a graphical method cannot run: the menu offers
      // KEYBOARD instead, and asks again after a refused one, offering the
      // same, so that Enter never repeats the refusal.
      choice = window || !is_graphical(last_choice) ? last_choice : "KEYBOARD";
      const std::string offered = choice;
      io_ask_until_accepted(
          choice,
          [](std::string& answer, Status& s) {
            IO_MENU(true, "INPUT METHOD FOR BEAM CENTRE", kChoiceHelp,
                    {"Enter one of available choices"}, kNumChoices, kChoices, answer, s);
          },
          [&](const std::string& answer) { return window || !is_graphical(answer); },
          [](Status& s) { IO_WRITE(kNeedsWindow, s); }, status);
      if (status != kStatusGood) break;
      if (choice == "null") choice = offered;
    }
    // A refused choice never becomes the next proposal.
    if (choice != "?" && choice != "HELP" && (window || !is_graphical(choice)))
      last_choice = choice;

    if (choice == "?") {
      if (gui) {
        GS_MESSAGE(kNumChoices, kNumChoices, kChoiceHelp, status);
        draw_menu(status);
      } else {
        IO_TEXT(kNumChoices, kChoiceHelp, status);
      }
    } else if (choice == "HELP") {
      KZT_BEAMCENTREHELP(gui, status);
      if (gui) draw_menu(status);
    } else if (choice == "KEYBOARD") {
      float xc = x_beam / x_pixel_size, yc = y_beam / y_pixel_size;
      KZT_INP_BEAMCENTRE(gui, xc, yc, status);
      if (status != kStatusGood) break;
      x_beam = xc * x_pixel_size;
      y_beam = yc * y_pixel_size;
      method = kBeamKeyboard;
      break;
    } else if (choice == "NO CHANGE") {
      method = kBeamNoChange;
      break;
    } else if (is_graphical(choice)) {
      if (!window) {
        IO_WRITE(kNeedsWindow, status);
        continue;
      }
      if (!image_shown) {
        show_image(im, status);
        image_shown = true;
      }
      const Outcome outcome =
          graphical_method(choice, im, x_pixel_size, y_pixel_size, info, method, x_beam, y_beam,
                           radius_1, radius_2, angle, error, status);
      if (outcome == Outcome::kEscaped) {
        method = kBeamNoChange;
        break;
      }
      if (outcome == Outcome::kAgain && status == kStatusGood) {
        if (gui) draw_menu(status);
        continue;
      }
      break;
    }
    if (status != kStatusGood) break;
  }
  if (!gui && window) {
    Status local = kStatusGood;
    GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, local);
    GS_UPDATE(local);
  }
  if (status == kStatusGood && method >= kBeamKeyboard)
    kzt_store_beam_centre(x_beam / x_pixel_size, y_beam / y_pixel_size, status);
}

// ---- The 2-D Gaussian of the direct-beam mark ----

void KZT_FUNGAUSSIAN(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                     Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, void*, void*,
                     void*, void*, int, std::span<const float> params, Index xmaxmod, Index, bool,
                     int& terminate, std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNGAUSSIAN V0.1")) return;
  const float xc = params[0], yc = params[1], height = params[2];
  const float s1 = std::max(params[3], 0.001f), s2 = std::max(params[4], 0.001f);
  const float c = std::cos(params[5]), s = std::sin(params[5]);
  const float background = params[6];
  for (Index j = ystrelm; j <= yendelm; ++j) {
    float* row = model.data() + (j - ystrelm) * xmaxmod;
    const float dy = static_cast<float>(j) - 0.5f - yc;
    for (Index i = xstrelm; i <= xendelm; ++i) {
      const float dx = static_cast<float>(i) - 0.5f - xc;
      const float u = std::fabs(c * dx + s * dy) / s1;
      const float v = std::fabs(-s * dx + c * dy) / s2;
      row[i - xstrelm] = std::max(u, v) <= 4.5f
                             ? height * gaussian_value(u, 1) * gaussian_value(v, 1) + background
                             : background;
    }
  }
  terminate = 0;
}

namespace {

// Values of this size are counts, or near enough to them for the count-based
// steps of a height or a background.
constexpr float kLeastCounts = 1.0e-3f;
constexpr float kMostCounts = 1.0e6f;

// The unit in which the Gaussian is fitted to a mark of SIZE: one for counts,
// else a power of two that brings the size to 64 .. 128. The steps of a
// height (a part of its square root) then follow data given in any unit: on
// 1e32 single precision resolves no step of 1e16, and a step of one count on
// 1e-30 is no step of the fit's size. Dividing by a power of two changes no
// digit, and a model of values near 3e38 would pass the largest float at the
// first step up.
float gaussian_unit(float size) {
  if (!std::isfinite(size) || size == 0.0f || (size >= kLeastCounts && size <= kMostCounts))
    return 1.0f;
  return std::ldexp(1.0f, std::ilogb(size) - 6);
}

}  // namespace

void KZT_LSQGAUSSIAN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm, float& x_centre, float& y_centre,
                     float& height, float& sigma_1, float& sigma_2, float& angle, float& background,
                     int& end_code, float& mean_square, Status& status) {
  constexpr const char* kName = "Subroutine KZT_LSQGAUSSIAN V0.1";
  if (st_bad(status, kName)) return;
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  const Index nx = xendelm - xstrelm + 1, ny = yendelm - ystrelm + 1;
  const float unit = gaussian_unit(std::max(std::fabs(height), std::fabs(background)));
  // Data of another unit are fitted as a copy of the region in the fit's
  // unit, whose pixel 1 is the region's first: the centre moves with it.
  std::span<const float> fitted = data;
  Index fit_xmax = xmaxdat, fit_ymax = ymaxdat, xs = xstrelm, ys = ystrelm, xe = xendelm,
        ye = yendelm;
  std::vector<float> in_unit;
  float x_shift = 0.0f, y_shift = 0.0f;
  if (unit != 1.0f) {
    in_unit.resize(static_cast<std::size_t>(nx * ny));
    for (Index j = 0; j < ny; ++j) {
      const float* from = data.data() + element(xstrelm, ystrelm + j, xmaxdat);
      float* to = in_unit.data() + j * nx;
      for (Index i = 0; i < nx; ++i) to[i] = from[i] / unit;
    }
    fitted = in_unit;
    fit_xmax = xe = nx;
    fit_ymax = ye = ny;
    xs = ys = 1;
    x_shift = static_cast<float>(xstrelm - 1);
    y_shift = static_cast<float>(ystrelm - 1);
  }
  const float h = height / unit, b = background / unit;
  std::array<float, 7> p{x_centre - x_shift, y_centre - y_shift, h, sigma_1, sigma_2, angle, b};
  const std::array<float, 7> scales{0.25f,
                                    0.25f,
                                    std::max(2.0f * std::sqrt(std::max(h, 0.0f)), 1.0f),
                                    std::max(sigma_1 / 20.0f, 0.1f),
                                    std::max(sigma_2 / 20.0f, 0.1f),
                                    0.05f,
                                    std::max(3.0f * std::sqrt(std::max(b, 0.0f)), 1.0f)};
  std::vector<float> model(static_cast<std::size_t>(nx * ny));
  int calls = 0, total_calls = 0;
  double sum_squares = 0.0;
  for (int pass = 0; pass < 5 && status == kStatusGood; ++pass) {
    std::array<bool, 7> fixed{};
    if (pass == 4) fixed = {false, false, true, true, true, true, true};
    MA_MODELFIT(0, KZT_FUNGAUSSIAN, false, false, true, fit_xmax, fit_ymax, fitted, {}, {}, xs, ys,
                xe, ye, 1, 300, 5.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 7,
                fixed, scales, nx, ny, false, p, model, end_code, calls, sum_squares, status);
    total_calls += calls;
  }
  if (status != kStatusGood) return;
  if (end_code > 0) IO_WRITE("WARNING: Problem fitting the Gaussian", status);
  x_centre = p[0] + x_shift;
  y_centre = p[1] + y_shift;
  height = p[2] * unit;
  sigma_1 = p[3];
  sigma_2 = p[4];
  angle = p[5];
  background = p[6] * unit;
  const double u = unit;
  mean_square = static_cast<float>(sum_squares * u * u / static_cast<double>(nx * ny));
  IO_WRITE("INFO: Number of function calls = " + format_i(total_calls, 6), status);
}

void KZT_BEAMGAUSSIAN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, Index x_pixel, Index y_pixel,
                      int& retstat, float& x_centre, float& y_centre, Status& status) {
  constexpr const char* kName = "Subroutine KZT_BEAMGAUSSIAN V0.1";
  if (st_bad(status, kName)) return;
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  auto at = [&](Index i, Index j) {
    return data[static_cast<std::size_t>(element(i, j, xmaxdat))];
  };
  Index bx1 = std::clamp(x_pixel - 1, xstrelm, xendelm);
  Index bx2 = std::clamp(x_pixel + 1, xstrelm, xendelm);
  Index by1 = std::clamp(y_pixel - 1, ystrelm, yendelm);
  Index by2 = std::clamp(y_pixel + 1, ystrelm, yendelm);
  Index px = bx1, py = by1;
  float maximum = 0.0f;
  retstat = 1;
  for (;;) {
    px = bx1;
    py = by1;
    maximum = at(bx1, by1);
    for (Index j = by1; j <= by2; ++j) {
      for (Index i = bx1; i <= bx2; ++i) {
        if (at(i, j) > maximum) {
          maximum = at(i, j);
          px = i;
          py = j;
        }
      }
    }
    float edge = at(bx1, by1);
    for (Index i = bx1; i <= bx2; ++i) edge = std::max({edge, at(i, by1), at(i, by2)});
    for (Index j = by1; j <= by2; ++j) edge = std::max({edge, at(bx1, j), at(bx2, j)});
    if (1.5f * edge < maximum) {
      retstat = 0;
      break;
    }
    if (bx1 == xstrelm && by1 == ystrelm && bx2 == xendelm && by2 == yendelm) break;
    bx1 = std::max(bx1 - 1, xstrelm);
    by1 = std::max(by1 - 1, ystrelm);
    bx2 = std::min(bx2 + 1, xendelm);
    by2 = std::min(by2 + 1, yendelm);
  }
  if (retstat != 0) {
    IO_WRITE("ERROR: Problem with finding initial parameters for the Gaussian fit", status);
    return;
  }
  // The background: the lowest value of a block beside the box, within the
  // active region.
  auto block = [](Index b1, Index b2, Index start, Index end, Index& lo, Index& hi) {
    if (b1 - 10 >= start) {
      lo = b1 - 10;
      hi = b1 - 1;
    } else if (b2 + 10 <= end) {
      lo = b2 + 1;
      hi = b2 + 10;
    } else {
      lo = start;
      hi = b1;
    }
  };
  Index gx1 = 0, gx2 = 0, gy1 = 0, gy2 = 0;
  block(bx1, bx2, xstrelm, xendelm, gx1, gx2);
  block(by1, by2, ystrelm, yendelm, gy1, gy2);
  float background = at(gx1, gy1);
  for (Index j = gy1; j <= gy2; ++j)
    for (Index i = gx1; i <= gx2; ++i) background = std::min(background, at(i, j));
  float height = maximum - background;
  const Index d = std::min({px - bx1, bx2 - px, py - by1, by2 - py});
  float sigma_1 = 0.76438963f * static_cast<float>(d);
  float sigma_2 = 0.95f * sigma_1;
  float angle = 0.0f;
  x_centre = static_cast<float>(px) - 0.5f;
  y_centre = static_cast<float>(py) - 0.5f;
  const Index fx1 = std::max(xstrelm, static_cast<Index>(static_cast<float>(px) - 6.0f * sigma_1));
  const Index fx2 =
      std::min(xendelm, static_cast<Index>(static_cast<float>(px) + 6.0f * sigma_1) + 1);
  const Index fy1 = std::max(ystrelm, static_cast<Index>(static_cast<float>(py) - 6.0f * sigma_1));
  const Index fy2 =
      std::min(yendelm, static_cast<Index>(static_cast<float>(py) + 6.0f * sigma_1) + 1);
  int end_code = 0;
  float mean_square = 0.0f;
  KZT_LSQGAUSSIAN(xmaxdat, ymaxdat, data, fx1, fy1, fx2, fy2, x_centre, y_centre, height, sigma_1,
                  sigma_2, angle, background, end_code, mean_square, status);
  if (status != kStatusGood) return;
  retstat = std::max(end_code, 0);
  IO_WRITE("INFO: X-centre = " + format_g(x_centre, 14, 7) + " (pixels)", status);
  IO_WRITE("      Y-centre = " + format_g(y_centre, 14, 7) + " (pixels)", status);
  IO_WRITE("      Gaussian peak intensity = " + format_g(height, 14, 7), status);
  IO_WRITE(
      "      Angle of first axis = " + format_g(angle * kDegreesPerRadian, 14, 7) + " (degrees))",
      status);
  IO_WRITE("      Sigma of first axis = " + format_g(sigma_1, 14, 7) + " (pixels))", status);
  IO_WRITE("      Sigma of second axis = " + format_g(sigma_2, 14, 7) + " (pixels))", status);
  IO_WRITE("      Background average intensity = " + format_g(background, 14, 7), status);
}

}  // namespace kesta
