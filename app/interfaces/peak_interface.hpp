#pragma once
// The peak search of the on-line crystallography interface: its control
// form, the search, the markers over the image, the peak list file and the
// two statistics tables.

#include <string>
#include <string_view>
#include <vector>

#include "app/imageops/peak_search.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// Draws the peaks (pixel coordinates) inside the drawn data display region
// (bounds inclusive): good peaks red crosses, saturated peaks yellow
// crosses, bad weak peaks red asterisks only when DRAW_BAD, any other flag
// a yellow asterisk. MAX_PEAKS < 1 gives 110001.
void KZT_DRAW_PEAKS(bool draw_bad, Index max_peaks, Index num_peaks, std::span<const int> flags,
                    std::span<const float> x, std::span<const float> y, Status& status);

// The two statistics tables of a peak list: I / sigma(I) of the good peaks
// with a positive sigma in 16 ranges, then count and mean I / sigma(I) per
// d-spacing range (counted only when GEOMETRY_KNOWN). With no qualifying
// peak the averages are 0.00.
std::vector<std::string> kzt_peak_statistics(const PeakList& peaks, bool geometry_known);

// Writes the good peaks of non-negative intensity to FILE (replaced only
// when every write succeeded); false with the reason in ERROR otherwise.
bool kzt_write_peak_file(const std::string& file, const PeakList& peaks, std::string& error);

// The peak-search controls, kept for the run (the keys read on the first
// search of the run, written after each O.K. of the form).
struct PeakSearchControls {
  bool keys_read = false;
  int blur_size = 3;
  float data_minimum = 1.0f;
  int min_background = 16;
  int box_size = 31;
  int min_spacing = 12;
  float saturation = 65534.5f;
  float peak_sigma = 3.5f;
  float bad_sigma = 12.0f;
  int num_pixels = 16;
  float data_offset = 0.0f;
  float gain = 3.0f;
  bool save_peaks = false;
};
PeakSearchControls& kzt_peak_search_controls();

// PEAK SEARCH on the current data of the program arrays: the control form
// when SHOW_FORM (CANCEL searches nothing), the search into PEAKS, the
// summary, the markers, the peak-list editor when EDIT, the peak list file
// when asked, then the statistics. DRAW_BAD in and out (the form's BAD
// WEAK). A search that overflows PEAKS gives the warning, no markers and no
// file.
void KZT_GUI_PEAKSEARCH(bool edit, bool show_form, KztDataSets& sets, PeakList& peaks,
                        bool& draw_bad, Status& status);

}  // namespace kesta
