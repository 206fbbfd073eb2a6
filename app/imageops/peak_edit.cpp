#include "app/imageops/peak_edit.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/imageops/click_readout.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

constexpr int kMaxClicks = 200;

static const std::string kButtons[] = {"EXIT",         "?",           "HELP",
                                       "ZOOM IN",      "UN-ZOOM",     "FULL UN-ZOOM",
                                       "ADD PEAKS",    "REMOVE PEAKS", "Z-SCALING"};
static const std::string kButtonHelp[] = {
    "EXIT: Exit from sub-menu",
    "?: Display list of commands with short description",
    "HELP: Scrolled display of help text",
    "ZOOM IN: Graphical region definition",
    "UN-ZOOM: Make region displayed bigger",
    "FULL UN-ZOOM: View whole of data image",
    "ADD PEAKS: Add peaks to the peak list by graphical input",
    "REMOVE PEAKS: Remove peaks from the list by graphical input",
    "Z-SCALING: Automatic or user control of intensity display range"};

static const std::string kHelpPage[] = {
    "-----------------------------------------------",
    "              Peak List Edit Menu              ",
    "-----------------------------------------------",
    "",
    "This menu corrects the list of peaks found by",
    "the peak search by hand, on the displayed",
    "image. Good peaks are drawn as red crosses,",
    "saturated peaks as yellow crosses.",
    "",
    "The buttons:",
    "",
    "EXIT: Leave the menu, keeping the edited list.",
    "",
    "?: A one-line description of each button.",
    "",
    "HELP: This text.",
    "",
    "ZOOM IN: Click on two opposite corners of a",
    "new region to display.",
    "",
    "UN-ZOOM: Display a larger region.",
    "",
    "FULL UN-ZOOM: Display the whole image.",
    "",
    "ADD PEAKS: Click on the centres of new peaks.",
    "They are added to the list as good peaks, with",
    "no check against the peaks already in it.",
    "",
    "REMOVE PEAKS: For each clicked coordinate the",
    "good peak closest to it is removed from the",
    "list.",
    "",
    "Z-SCALING: Automatic or user control of the",
    "intensity display range.",
    "",
    "---------------- END OF HELP TEXT -------------"};

// Clicked data coordinates (the first NUM of X, Y) made pixel coordinates.
void to_pixel_coordinates(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                          std::span<const float> xaxis, std::span<const float> yaxis, int num,
                          std::vector<float>& x, std::vector<float>& y, Status& status) {
  x.resize(static_cast<std::size_t>(num));
  y.resize(static_cast<std::size_t>(num));
  for (std::size_t k = 0; k < x.size(); ++k) {
    MA_DC2PIXC(xmaxdat, xnumdat, xaxis, x[k], x[k], status);
    MA_DC2PIXC(ymaxdat, ynumdat, yaxis, y[k], y[k], status);
  }
}

}  // namespace

Index kzt_add_peaks(std::span<const float> x, std::span<const float> y,
                    const PeakGeometry& geometry, PeakList& peaks) {
  const Index room = std::max<Index>(
      std::min<Index>(peaks.max_peaks, std::ssize(peaks.flags)) - peaks.num_peaks, 0);
  const Index take = std::min<Index>({std::ssize(x), std::ssize(y), room});
  for (Index k = 0; k < take; ++k) {
    const auto n = static_cast<std::size_t>(peaks.num_peaks);
    const auto from = static_cast<std::size_t>(k);
    peaks.flags[n] = 0;
    peaks.x[n] = x[from];
    peaks.y[n] = y[from];
    peaks.intensity[n] = 0.0f;
    peaks.sigma[n] = 0.0f;
    peaks.d_spacing[n] = kzt_peak_d_spacing(geometry, x[from], y[from]);
    ++peaks.num_peaks;
  }
  return take;
}

Index kzt_remove_peaks(std::span<const float> x, std::span<const float> y, PeakList& peaks) {
  Index removed = 0;
  const std::size_t points = std::min(x.size(), y.size());
  for (std::size_t p = 0; p < points; ++p) {
    const auto num = static_cast<std::size_t>(peaks.num_peaks);
    std::size_t nearest = num;
    double best = 1.7e38;
    for (std::size_t k = 0; k < num; ++k) {
      if (peaks.flags[k] != 0) continue;
      const double dx = double{peaks.x[k]} - x[p];
      const double dy = double{peaks.y[k]} - y[p];
      if (dx * dx + dy * dy < best) {
        best = dx * dx + dy * dy;
        nearest = k;
      }
    }
    if (nearest == num) continue;
    const auto erase = [nearest](auto& values) {
      std::move(values.begin() + static_cast<std::ptrdiff_t>(nearest) + 1, values.end(),
                values.begin() + static_cast<std::ptrdiff_t>(nearest));
    };
    erase(peaks.flags);
    erase(peaks.x);
    erase(peaks.y);
    erase(peaks.intensity);
    erase(peaks.sigma);
    erase(peaks.d_spacing);
    --peaks.num_peaks;
    ++removed;
  }
  return removed;
}

void KZT_EDITPEAKSHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_EDITPEAKSHELP V0.1")) return;
  const int lines = static_cast<int>(std::size(kHelpPage));
  if (gui) {
    GS_MESSAGE(lines, lines, kHelpPage, status);
  } else {
    IO_TEXT(lines, kHelpPage, status);
  }
}

void KZT_EDITPEAKS(bool draw_bad_peaks, float x_pixel_size, float y_pixel_size, Index xmaxdat,
                   Index ymaxdat, Index xnumdat, Index ynumdat, std::span<const float> data,
                   std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                   std::span<const float> yaxis, Index& xstrelm, Index& ystrelm, Index& xendelm,
                   Index& yendelm, std::string_view title, std::string_view xlabel,
                   std::string_view ylabel, std::string_view zlabel, PeakList& peaks,
                   Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_EDITPEAKS V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mask.empty() ? data.size() : mask.size()}))
    return;
  if (xnumdat < 1 || xnumdat > xmaxdat || ynumdat < 1 || ynumdat > ymaxdat ||
      std::ssize(xaxis) < xnumdat || std::ssize(yaxis) < ynumdat ||
      std::ssize(peaks.flags) < peaks.max_peaks)
    return st_fail(status, kBaseApp + 1, kPosition);
  const PeakGeometry geometry = kzt_peak_geometry(x_pixel_size, y_pixel_size, status);
  const int num_buttons = static_cast<int>(std::size(kButtons));

  const auto draw_peaks = [&] {
    if (peaks.num_peaks > 0)
      kzt_upcall(imageops_upcalls.draw_peaks, "DRAW PEAKS", status, draw_bad_peaks,
                 peaks.max_peaks, peaks.num_peaks, std::span<const int>(peaks.flags),
                 std::span<const float>(peaks.x), std::span<const float>(peaks.y));
  };
  // Points clicked on the image, in pixel coordinates; false after an escape.
  const auto clicked = [&](std::string_view prompt, std::string_view help, std::vector<float>& x,
                           std::vector<float>& y) {
    x.assign(kMaxClicks, 0.0f);
    y.assign(kMaxClicks, 0.0f);
    int num = 0;
    const GsDisplayedImage image =
        kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
                            xaxis, yaxis, title, xlabel, ylabel, zlabel);
    GS_INPS_FCOORDINATES(false, image, prompt, 1, {std::string(help)}, false, kMaxClicks, num, x,
                         y, status);
    if (status != kStatusGood) return false;
    to_pixel_coordinates(xmaxdat, ymaxdat, xnumdat, ynumdat, xaxis, yaxis, num, x, y, status);
    return status == kStatusGood;
  };

  bool update_image = true, update_menu = true;
  while (status == kStatusGood) {
    if (update_image) {
      GS_MPLOT(!mask.empty(), xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm,
               xendelm, yendelm, title, xlabel, ylabel, zlabel, status);
      draw_peaks();
    }
    if (update_image || update_menu) {
      GS_SET_MENULAYOUT(1, 3, 13, 17, status);
      GS_FMENU(1, 1, {"EDIT PEAK LIST"}, num_buttons, num_buttons, kButtons, status);
    }
    update_image = update_menu = false;
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(num_buttons, num_buttons, kButtons, 2, type, command, x, y, status);
    // No more input (the end of the input, a lost window) leaves the menu.
    if (status == kStatusEscape) {
      st_reset(status);
      break;
    }
    if (status != kStatusGood) break;

    std::vector<float> px, py;
    if (type == kGsChoiceRedraw || type == kGsChoiceNone) {
      update_image = true;
    } else if (type == kGsChoicePoint) {
      KZT_CLICK(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data, title,
                xlabel, ylabel, zlabel, x, y, x_pixel_size, y_pixel_size, update_image,
                update_menu, status);
    } else if (command == "EXIT") {
      break;
    } else if (command == "?") {
      GS_MESSAGE(num_buttons, num_buttons, kButtonHelp, status);
      update_image = true;
    } else if (command == "HELP") {
      KZT_EDITPEAKSHELP(true, status);
      update_image = true;
    } else if (command == "ZOOM IN") {
      KZT_ZOOMIN(xmaxdat, ymaxdat, xnumdat, ynumdat, xaxis, yaxis, data, title, xlabel, ylabel,
                 zlabel, xstrelm, ystrelm, xendelm, yendelm, status);
      update_image = true;
    } else if (command == "UN-ZOOM") {
      GS_INP_UNZOOM(xmaxdat, ymaxdat, xnumdat, ynumdat, xstrelm, ystrelm, xendelm, yendelm,
                    status);
      update_image = true;
    } else if (command == "FULL UN-ZOOM") {
      xstrelm = 1;
      ystrelm = 1;
      xendelm = xnumdat;
      yendelm = ynumdat;
      update_image = true;
    } else if (command == "Z-SCALING") {
      KZT_GUI_ZSCALE(xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
                     yendelm, title, xlabel, ylabel, zlabel, false, 0.0f, 0.0f, status);
      draw_peaks();
      update_menu = true;
    } else if (command == "ADD PEAKS") {
      if (clicked("CLICK ON PEAK CENTRES TO ADD", "Click on coordinates for new peaks", px,
                  py)) {
        if (kzt_add_peaks(px, py, geometry, peaks) < std::ssize(px))
          gs_refusal({"PEAK LIST FULL: NO MORE PEAKS CAN BE STORED"}, status);
        draw_peaks();
      }
    } else if (command == "REMOVE PEAKS") {
      if (clicked("CLICK ON PEAK CENTRES TO REMOVE", "Click on peaks to remove from list", px,
                  py)) {
        kzt_remove_peaks(px, py, peaks);
        update_image = true;
      }
    }
    // An escape from an action (a cancelled click input) changes nothing
    // and leaves the menu up.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  }
}

}  // namespace kesta
