#include "app/interfaces/peak_interface.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/peak_edit.hpp"
#include "app/imageops/upcalls.hpp"
#include "core/atomic_file.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

constexpr int kCross = 5;
constexpr int kAsterisk = 3;
constexpr float kMarkerSize = 0.5f;

// The upper bounds of the I / sigma(I) ranges; the last range is open.
constexpr std::array<float, 17> kRatioBounds = {0.0f,  2.0f,  4.0f,  6.0f,  8.0f,  10.0f,
                                                13.0f, 16.0f, 19.0f, 22.0f, 25.0f, 30.0f,
                                                35.0f, 40.0f, 45.0f, 50.0f, 100000.0f};
// The d-spacing ranges (Angstroms), from the largest spacing down.
constexpr std::array<float, 15> kSpacingBounds = {1000.0f, 25.0f, 15.0f, 10.0f, 7.0f,
                                                  5.0f,    4.0f,  3.0f,  2.5f,  2.0f,
                                                  1.8f,    1.7f,  1.6f,  1.5f,  0.0f};

// The form's HELP: what each control does.
const std::string kFormHelp[] = {
    "                PEAK SEARCH CONTROL FORM",
    "",
    "The peak search looks for spots standing above a local",
    "background. Each control is changed by clicking on its",
    "button; O.K. keeps the values (stored for later sessions)",
    "and starts the search, CANCEL searches nothing.",
    "",
    "BLUR SIZE: width of the top-hat smoothing applied before",
    "the search (1 = no smoothing).",
    "DATA MINIMUM: pixels below this value are not good data",
    "and are left out of the background and the peaks.",
    "MIN BACKGROUND: least number of good pixels needed for a",
    "reliable background estimate.",
    "BOX SIZE: side of the box over which the local background",
    "mean and spread are estimated.",
    "MIN. SPACING: peaks closer than this (pixels) to a peak",
    "already found are not taken (must exceed BLUR SIZE).",
    "SATURATION: a peak reaching this value is flagged",
    "saturated (drawn as a yellow cross).",
    "PEAK SIGMA: pixels this many standard deviations above the",
    "background mean are peak candidates.",
    "BAD SIGMA: pixels this many standard deviations below the",
    "mean mark a \"bad\" peak.",
    "NUM PIXELS: least number of candidate pixels round a",
    "maximum for it to be a peak.",
    "BAD WEAK: \"YES\" draws bad but non-saturated \"peaks\"",
    "(red asterisks).",
    "DATA OFFSET: the data value of zero photons.",
    "DET. GAIN: data value per detected photon, used to",
    "estimate the counting error of the intensities.",
    "SAVE PEAKS: \"YES\" writes X, Y, intensity, sigma and",
    "d-spacing of the good peaks to the OUTPUT FILE.",
    "OUTPUT FILE: name of the ASCII peak list file.",
};

// A range bound: one decimal in five places, wider for the open ends
// (1000.0, 100000.0) that five places cannot hold.
std::string bound_text(float value) {
  if (value < 1000.0f) return format_f(value, 5, 1);
  const std::string wide = format_f(value, 12, 1);
  return wide.substr(wide.find_first_not_of(' '));
}

// The I / sigma(I) range of R (0-based), -1 for none (a negative ratio).
int ratio_bin(double r) {
  if (!(r >= 0.0)) return -1;
  if (r < 10.0) return static_cast<int>(r / 2.0);
  if (r < 25.0) return static_cast<int>((r - 10.0) / 3.0) + 5;
  if (r < 50.0) return static_cast<int>((r - 25.0) / 5.0) + 10;
  return 15;
}

// The d-spacing range of D (0-based), -1 for none (no d-spacing).
int spacing_bin(double d) {
  if (!(d > 0.0)) return -1;
  if (d > 25.0) return 0;
  for (int i = 1; i < 14; ++i)
    if (d > kSpacingBounds[i + 1]) return i;
  return 13;
}

GsFormItem int_item(std::string label, std::string description, std::string prompt, int lower,
                    int upper, int value) {
  GsFormItem item = kzt_form_item(std::move(label), 1, std::move(description), std::move(prompt));
  item.ranged = true;
  item.int_lower = lower;
  item.int_upper = upper;
  item.int_value = std::clamp(value, lower, upper);
  return item;
}

GsFormItem real_item(std::string label, std::string description, std::string prompt,
                     float lower, float upper, float value) {
  GsFormItem item = kzt_form_item(std::move(label), 3, std::move(description), std::move(prompt));
  item.ranged = true;
  item.real_lower = lower;
  item.real_upper = upper;
  item.real_value = std::isfinite(value) ? std::clamp(value, lower, upper) : lower;
  return item;
}

GsFormItem logical_item(std::string label, std::string description, std::string prompt,
                        bool value) {
  GsFormItem item = kzt_form_item(std::move(label), 2, std::move(description), std::move(prompt));
  item.logical_value = value;
  return item;
}

// The stored controls over the first values, once a run. A stored value out
// of its range is taken at the nearest end of it.
void read_keys(PeakSearchControls& c, Status& status) {
  int retstat = 0;
  const auto ikey = [&](std::string_view key, int& value, int lower, int upper) {
    IO_INQ_IKEYVALUE(key, value, retstat, status);
    value = std::clamp(value, lower, upper);
  };
  const auto rkey = [&](std::string_view key, float& value, float lower, float upper) {
    float read = value;
    IO_INQ_RKEYVALUE(key, read, retstat, status);
    if (std::isfinite(read)) value = std::clamp(read, lower, upper);
  };
  ikey("PEAK_SEARCH_BLUR_SIZE", c.blur_size, 1, 9);
  rkey("PEAK_SEARCH_DATA_LIMIT", c.data_minimum, 0.0f, 100000.0f);
  ikey("PEAK_SEARCH_BOX_SIZE", c.box_size, 11, 51);
  ikey("PEAK_SEARCH_MIN_SPACING", c.min_spacing, 5, 30);
  rkey("#OVERLOAD_VALUE", c.saturation, 100.0f, 1.0e20f);
  rkey("PEAK_SEARCH_PEAK_SIGMA", c.peak_sigma, 2.0f, 30.0f);
  rkey("PEAK_SEARCH_BAD_SIGMA", c.bad_sigma, 5.0f, 30.0f);
  ikey("PEAK_SEARCH_NUM_MINIMUM", c.num_pixels, 1, 25);
  rkey("PEAK_SEARCH_DET_OFFSET", c.data_offset, 0.0f, 100000.0f);
  rkey("PEAK_SEARCH_DET_GAIN", c.gain, 0.01f, 10.0f);
  IO_INQ_LKEYVALUE("PEAK_SEARCH_OUTPUT", c.save_peaks, retstat, status);
  c.keys_read = true;
}

void write_keys(const PeakSearchControls& c, bool draw_bad, Status& status) {
  int retstat = 0;
  IO_SET_IKEYVALUE("PEAK_SEARCH_BLUR_SIZE", c.blur_size, retstat, status);
  IO_SET_RKEYVALUE("PEAK_SEARCH_DATA_LIMIT", c.data_minimum, retstat, status);
  IO_SET_IKEYVALUE("PEAK_SEARCH_BOX_SIZE", c.box_size, retstat, status);
  IO_SET_IKEYVALUE("PEAK_SEARCH_MIN_SPACING", c.min_spacing, retstat, status);
  IO_SET_RKEYVALUE("PEAK_SEARCH_PEAK_SIGMA", c.peak_sigma, retstat, status);
  IO_SET_RKEYVALUE("PEAK_SEARCH_BAD_SIGMA", c.bad_sigma, retstat, status);
  IO_SET_IKEYVALUE("PEAK_SEARCH_NUM_MINIMUM", c.num_pixels, retstat, status);
  IO_SET_LKEYVALUE("PEAK_SEARCH_DRAW_BAD", draw_bad, retstat, status);
  IO_SET_RKEYVALUE("PEAK_SEARCH_DET_OFFSET", c.data_offset, retstat, status);
  IO_SET_RKEYVALUE("PEAK_SEARCH_DET_GAIN", c.gain, retstat, status);
  IO_SET_LKEYVALUE("PEAK_SEARCH_OUTPUT", c.save_peaks, retstat, status);
}

// The control form; false after CANCEL (or a bad status).
bool control_form(PeakSearchControls& c, bool& draw_bad, std::string& output_file,
                  Status& status) {
  std::vector<GsFormItem> items = {
      int_item("BLUR SIZE", "NUMBER OF PIXELS IN SMOOTHING",
               "Enter size of top-hat smoothing (1 = none)", 1, 9, c.blur_size),
      real_item("DATA MINIMUM", "MINIMUM ACCEPTED \"GOOD\" DATA VALUE",
                "Enter lowest data value taken as good data", 0.0f, 100000.0f, c.data_minimum),
      int_item("MIN BACKGROUND", "MINIMUM NUMBER OF BACKGROUND PIXELS",
               "Enter least number of pixels for a background estimate", 1, 10000,
               c.min_background),
      int_item("BOX SIZE", "SIZE OF BACKGROUND BOX", "Enter size of the background box", 11, 51,
               c.box_size),
      int_item("MIN. SPACING", "MINIMUM SPACING BETWEEN PEAKS",
               "Enter least number of pixels between peaks", 5, 30, c.min_spacing),
      real_item("SATURATION", "DETECTOR SATURATION VALUE",
                "Enter value at which the detector saturates", 100.0f, 1.0e20f, c.saturation),
      real_item("PEAK SIGMA", "NUMBER OF SIGMA ABOVE MEAN",
                "Enter number of standard deviations above the background", 2.0f, 30.0f,
                c.peak_sigma),
      real_item("BAD SIGMA", "NUMBER OF SIGMA BELOW MEAN",
                "Enter number of standard deviations below the background", 5.0f, 30.0f,
                c.bad_sigma),
      int_item("NUM PIXELS", "MINIMUM NUMBER OF PIXELS IN A PEAK",
               "Enter least number of pixels above threshold in a peak", 1, 25, c.num_pixels),
      logical_item("BAD WEAK", "DRAW BAD BUT NON-SATURATED \"PEAKS\"",
                   "Enter \"YES\" to draw bad weak \"peaks\"", draw_bad),
      real_item("DATA OFFSET", "DETECTOR OFFSET VALUE (DATA ZERO)",
                "Enter data value of zero photons", 0.0f, 100000.0f, c.data_offset),
      real_item("DET. GAIN", "DETECTOR GAIN FACTOR", "Enter data value per photon", 0.01f, 10.0f,
                c.gain),
      logical_item("SAVE PEAKS", "SAVE PEAK X/Y/I IN ASCII FILE",
                   "Enter \"YES\" to write the peaks to a file", c.save_peaks),
      kzt_form_item("OUTPUT FILE", 8, "NAME OF PEAK SEARCH OUTPUT FILE",
                    "Enter name of peak list file"),
  };
  items.back().string_value = output_file;
  int return_code = 0;
  const int num_help = static_cast<int>(std::size(kFormHelp));
  GS_FORM(2, 2, {"CONTROL OF PEAK SEARCH VARIABLES", "(SAVED BETWEEN KESTA SESSIONS)"}, num_help,
          num_help, kFormHelp, 20, items, return_code, status);
  if (status != kStatusGood || return_code != 0) return false;
  c.blur_size = items[0].int_value;
  c.data_minimum = items[1].real_value;
  c.min_background = items[2].int_value;
  c.box_size = items[3].int_value;
  c.min_spacing = items[4].int_value;
  c.saturation = items[5].real_value;
  c.peak_sigma = items[6].real_value;
  c.bad_sigma = items[7].real_value;
  c.num_pixels = items[8].int_value;
  draw_bad = items[9].logical_value;
  c.data_offset = items[10].real_value;
  c.gain = items[11].real_value;
  c.save_peaks = items[12].logical_value;
  output_file = items[13].string_value;
  write_keys(c, draw_bad, status);
  return status == kStatusGood;
}

}  // namespace

void KZT_DRAW_PEAKS(bool draw_bad, Index max_peaks, Index num_peaks, std::span<const int> flags,
                    std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_DRAW_PEAKS V0.3";
  if (st_bad(status, kPosition)) return;
  if (max_peaks < 1) return st_fail(status, kBaseApp + 1, kPosition);
  // (The list never reaches past its arrays, whatever the count says.)
  const Index n = std::clamp<Index>(
      num_peaks, 0, std::min({max_peaks, std::ssize(flags), std::ssize(x), std::ssize(y)}));
  float xmin = 0.0f, ymin = 0.0f, xmax = 0.0f, ymax = 0.0f;
  GS_INQ_DDDR(xmin, ymin, xmax, ymax, status);
  if (status != kStatusGood) return;
  GS_MARKERSTYLE(kCross, kMarkerSize, kGsRed, status);
  QG_MARKERWIDTH(kMarkerSize, status);
  std::array<float, 1> px{}, py{};
  for (Index i = 0; i < n && status == kStatusGood; ++i) {
    if (!(x[i] >= xmin && x[i] <= xmax && y[i] >= ymin && y[i] <= ymax)) continue;
    px[0] = x[i];
    py[0] = y[i];
    const int flag = flags[i];
    if (flag == 0) {
      QG_POLYMARKER(1, px, py, status);
      continue;
    }
    if (flag == kPeakBadWeak && !draw_bad) continue;
    if (flag == kPeakSaturated)
      GS_MARKERSTYLE(kCross, kMarkerSize, kGsYellow, status);
    else if (flag == kPeakBadWeak)
      GS_MARKERSTYLE(kAsterisk, kMarkerSize, kGsRed, status);
    else
      GS_MARKERSTYLE(kAsterisk, kMarkerSize, kGsYellow, status);
    QG_POLYMARKER(1, px, py, status);
    GS_MARKERSTYLE(kCross, kMarkerSize, kGsRed, status);
  }
}

std::vector<std::string> kzt_peak_statistics(const PeakList& peaks, bool geometry_known) {
  std::array<Index, 16> ratio_count{};
  std::array<Index, 14> spacing_count{};
  std::array<double, 14> spacing_sum{};
  double sum = 0.0;
  Index qualifying = 0;
  const Index n = std::clamp<Index>(
      peaks.num_peaks, 0,
      std::min({std::ssize(peaks.flags), std::ssize(peaks.intensity), std::ssize(peaks.sigma),
                std::ssize(peaks.d_spacing)}));
  for (Index i = 0; i < n; ++i) {
    if (peaks.flags[i] != 0 || !(peaks.sigma[i] > 0.0f)) continue;
    const double r = static_cast<double>(peaks.intensity[i]) / peaks.sigma[i];
    if (!std::isfinite(r)) continue;
    sum += r;
    ++qualifying;
    if (const int b = ratio_bin(r); b >= 0) ++ratio_count[b];
    if (!geometry_known) continue;
    if (const int b = spacing_bin(peaks.d_spacing[i]); b >= 0) {
      ++spacing_count[b];
      spacing_sum[b] += r;
    }
  }
  const auto mean = [](double total, Index count) {
    return count > 0 ? total / static_cast<double>(count) : 0.0;
  };
  std::vector<std::string> lines;
  lines.push_back("INFO: Average I / Sigma(I) of found peaks = " +
                  format_f(mean(sum, qualifying), 10, 2));
  lines.push_back("INFO: Number of peaks with given ranges of estimated I / sigma(I)");
  lines.push_back("      Lower    Upper   Number");
  for (int b = 0; b < 16; ++b)
    lines.push_back("     " + bound_text(kRatioBounds[b]) + " to " +
                    bound_text(kRatioBounds[b + 1]) + ": " + format_i(ratio_count[b], 5));
  lines.push_back("");
  lines.push_back(
      "INFO: Number of peaks within given resolution ranges and average I / sigma(I)");
  lines.push_back("      Lower    Upper  Number <I/sigma(I)>");
  for (int b = 0; b < 14; ++b)
    lines.push_back("     " + bound_text(kSpacingBounds[b]) + " to " +
                    bound_text(kSpacingBounds[b + 1]) + ": " +
                    format_i(spacing_count[b], 6) +
                    format_f(mean(spacing_sum[b], spacing_count[b]), 8, 2));
  lines.push_back("");
  return lines;
}

bool kzt_write_peak_file(const std::string& file, const PeakList& peaks, std::string& error) {
  AtomicFile out(file);
  out.write_line("      X         Y       INTENSITY      SIGMA    D (Angstroms) ");
  const Index n = std::clamp<Index>(peaks.num_peaks, 0, std::ssize(peaks.flags));
  for (Index i = 0; i < n && out.ok(); ++i) {
    if (peaks.flags[i] != 0 || !(peaks.intensity[i] >= 0.0f)) continue;
    out.write_line(format_f(peaks.x[i], 10, 1) + format_f(peaks.y[i], 10, 1) +
                   format_f(peaks.intensity[i], 12, 1) + format_f(peaks.sigma[i], 12, 1) +
                   format_f(peaks.d_spacing[i], 9, 3));
  }
  if (out.commit()) return true;
  error = out.error();
  return false;
}

PeakSearchControls& kzt_peak_search_controls() {
  static PeakSearchControls controls;
  return controls;
}

void KZT_GUI_PEAKSEARCH(bool edit, bool show_form, KztDataSets& sets, PeakList& peaks,
                        bool& draw_bad, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_PEAKSEARCH V0.9";
  if (st_bad(status, kPosition)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  std::string output_file;
  IO_OUTFILE(0, sets.data_defined ? sets.input_file : "", ".peaks", "data.peaks", output_file,
             status);
  PeakSearchControls& c = kzt_peak_search_controls();
  if (!c.keys_read) read_keys(c, status);
  if (status != kStatusGood) return;
  const GsDisplayedImage image = kzt_current_image(sets);
  if (show_form) {
    const bool ok = control_form(c, draw_bad, output_file, status);
    if (status == kStatusGood)
      GS_MPLOT(image.mask_data, image.xmaxdat, image.ymaxdat, image.data, image.mask,
               image.xaxis, image.yaxis, image.xstrelm, image.ystrelm, image.xendelm,
               image.yendelm, image.title, image.xlabel, image.ylabel, image.zlabel, status);
    if (!ok || status != kStatusGood) return;
  }

  GS_FPROMPT(1, 1, {"WORKING: PEAK SEARCHING"}, status);
  GS_UPDATE(status);
  PeakSearchParameters p;
  p.mode = 1;  // search and integrate: the statistics need I and sigma(I)
  p.use_mask = sets.mask_exist;
  p.blur_size = c.blur_size;
  p.box_size = c.box_size;
  p.data_minimum = c.data_minimum;
  p.data_offset = c.data_offset;
  p.gain = c.gain;
  p.min_background = c.min_background;
  p.peak_sigma = c.peak_sigma;
  p.bad_sigma = c.bad_sigma;
  p.num_pixels = c.num_pixels;
  // (The search needs the spacing above the blur; the form's ranges allow 9
  // against 5.)
  p.min_spacing = std::max<Index>(c.min_spacing, c.blur_size + 1);
  p.saturation = c.saturation;
  const auto start = std::chrono::steady_clock::now();
  // The smoothed copy is made over the region; the two pixels around it
  // that the neighbour tests reach read 0. Nothing else of the arrays' shape
  // is written.
  const KztWorkImage work(a.xmaxdat, a.ymaxdat);
  MA_RVALUE(a.xmaxdat, a.ymaxdat, std::max<Index>(a.xstrelm - 2, 1),
            std::max<Index>(a.ystrelm - 2, 1), std::min(a.xendelm + 2, a.xmaxdat),
            std::min(a.yendelm + 2, a.ymaxdat), 0.0f, work.pixels(), status);
  KZT_PEAKSEARCH(sets.x_pixel_size, sets.y_pixel_size, p, a.xmaxdat, a.ymaxdat, image.data,
                 image.mask, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, work.pixels(), peaks,
                 status);
  if (status != kStatusGood) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  IO_WRITE("INFO: Time taken for search = " + format_f(seconds, 7, 2) + " seconds", status);

  if (!peaks.full) {
    IO_WRITE("INFO: Number of peaks found = " + format_i(peaks.num_peaks - peaks.bad_weak, 6),
             status);
    IO_WRITE("INFO: Number of saturated peaks found = " + format_i(peaks.saturated, 6), status);
    IO_WRITE("INFO: Number of bad \"peaks\" found = " + format_i(peaks.bad_weak, 6), status);
    if (peaks.num_peaks > 0)
      KZT_DRAW_PEAKS(draw_bad, peaks.max_peaks, peaks.num_peaks, peaks.flags, peaks.x, peaks.y,
                     status);
    if (edit && status == kStatusGood)
      KZT_EDITPEAKS(draw_bad, sets.x_pixel_size, sets.y_pixel_size, a.xmaxdat, a.ymaxdat,
                    a.xnumdat, a.ynumdat, image.data, image.mask, image.xaxis, image.yaxis,
                    a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, image.title, image.xlabel,
                    image.ylabel, image.zlabel, peaks, status);
    if (c.save_peaks && status == kStatusGood) {
      std::string error;
      if (!kzt_write_peak_file(output_file, peaks, error)) {
        IO_WRITE("WARNING: Problem outputing peak search results", status);
        IO_WRITE("         (" + error + ")", status);
      }
    }
  } else {
    IO_WRITE("WARNING: Peak search failed: too many peaks for peak arrays", status);
  }
  if (status != kStatusGood) return;
  bool known = false;
  float xb = 0.0f, yb = 0.0f, distance = 0.0f, wavelength = 0.0f;
  kzt_inq_geometry(known, xb, yb, distance, wavelength, status);
  for (const std::string& line : kzt_peak_statistics(peaks, known)) IO_WRITE(line, status);
}

}  // namespace kesta
