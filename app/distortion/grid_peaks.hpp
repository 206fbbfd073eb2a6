#pragma once
// The grid peaks of a calibration grid image: the measured hole positions
// and their distortions, one value handed from the search to the editing,
// viewing, saving and fitting commands. A search fills a fresh value and the
// calibration sub-menu replaces the one it holds only when the search
// succeeded.

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/distortion/spline.hpp"
#include "core/types.hpp"

namespace kesta {

// A grid position without a peak has X at (or below) this value.
inline constexpr float kMissingPeak = -1.7e38f;

struct GridPeaks {
  // Declared shape of the arrays (column-major, X fastest).
  Index xmax = 0;
  Index ymax = 0;
  // Extent of the grid found and number of peaks found.
  Index xnum = 0;
  Index ynum = 0;
  Index num = 0;
  // Positions (data coordinates; pixel coordinates during a search) and the
  // distortions, ideal minus measured in pixels, 0.0 at a missing peak.
  std::vector<float> x, y, x_distortion, y_distortion;

  // XMAX x YMAX arrays, every position missing and every distortion 0.0;
  // false when the memory cannot be had (the value is then empty).
  bool allocate(Index xmax, Index ymax);
  bool allocated() const { return xmax > 0 && ymax > 0; }
  Index at(Index i, Index j) const { return (j - 1) * xmax + (i - 1); }
  bool present(Index i, Index j) const { return x[at(i, j)] > kMissingPeak; }
};

// Numbers of grid positions in each direction the sub-menu allocates.
inline constexpr Index kGridPeaksMax = 400;

// The settings of the grid search kept for the run (first-call defaults
// from "#INPUT_FORMAT": "IMAGEQUANT" gives the image-plate column).
struct GridSearchSettings {
  bool first = true;
  int search_limit = 6;
  float detect_ratio = 0.3f;
  float sigma = 2.63f;
  int sub_pixelling = 9;
  int output_frequency = 200;
  bool vignetting = true;
};
GridSearchSettings& kzt_grid_search_settings();

// Template sides for a peak width SIGMA (pixels): 2 INT(v / 2) + 1 with
// v = INT(6 SIGMA x SUB_PIXELS), at least 3.
Index kzt_template_side(float sigma, int sub_pixels);

// A zero-mean Gaussian template of side XNUMTEM x YNUMTEM whose elements sum
// to 0 (the Gaussian scaled to a sum of 1, less its mean).
void KZT_CALTEMPLATE(Index xmaxtem, Index ymaxtem, Index xnumtem, Index ynumtem, float sigma,
                     int sub_pixels, std::span<float> templ, Status& status);

// The templates and search settings of one search, with the image.
struct GridImage {
  Index xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm;
  std::span<const float> data;
  Index side;       // pixel template side
  std::span<const float> templ;
  Index sub_side;   // sub-pixel template side
  std::span<const float> sub_templ;
  int sub_pixelling;
};

// Locates a peak near (X, Y) (pixel coordinates, in and out): the whole-pixel
// template search within SEARCH_LIMIT pixels, then the sub-pixel climb.
void KZT_FINDCENTRE(const GridImage& image, int search_limit, float& x, float& y, bool& found,
                    float& correlation, Status& status);

// The grid search from the three starting peaks (pixel coordinates) into
// PEAKS in wrapped storage. RETSTAT 0 found, 1 arrays too small, 2 peaks
// missing from the central cross. CORRELATION: that of the third starting
// peak. NUM_LEFT and NUM_DOWN: columns left and rows below the start.
void KZT_FIND2DGRID(const GridImage& image, int search_limit, float detect_ratio, float x_start,
                    float y_start, float x_right, float y_right, float x_up, float y_up,
                    int output_frequency, float correlation, int& retstat, Index& num_left,
                    Index& num_down, GridPeaks& peaks, Status& status);

// Unwraps the search's storage (column NUM_LEFT + 1, row NUM_DOWN + 1 holds
// the start peak afterwards) and converts pixel to data coordinates through
// the axes (XNUM_AXIS, YNUM_AXIS values).
void KZT_FINDROTATE(Index xnum_axis, Index ynum_axis, std::span<const float> xaxis,
                    std::span<const float> yaxis, Index num_left, Index num_down,
                    GridPeaks& peaks, Status& status);

// FIND PEAKS: the three starting clicks on the displayed image, the search
// settings, the search, the grid spacing, the vignetting correction and the
// distortions. GRAPHICS: the window is there to draw in. PEAKS, the pixel
// sizes (metres) and GRID_SPACING (microns) change only when RETSTAT is 0
// (1 arrays too small, 2 peaks missing from the central cross, 3 given up).
void KZT_CALIBRATE2DGRID(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                         std::span<const float> xaxis, std::span<const float> yaxis,
                         const std::string& title, const std::string& xlabel,
                         const std::string& ylabel, const std::string& zlabel, int num_display,
                         float& grid_spacing, float& x_pixel_size, float& y_pixel_size,
                         int& retstat, GridPeaks& peaks, Status& status);

// ---- Editing, view and save ----

// Moves every present peak towards the beam centre for the shadow of a mask
// of the asked thickness (asks thickness, distance and beam centre).
void KZT_VIGNETTING(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, GridPeaks& peaks,
                    Status& status);
// The arithmetic of the correction: THICKNESS and DISTANCE in metres.
void kzt_vignetting_shift(float thickness, float distance, float x_beam, float y_beam,
                          GridPeaks& peaks, Status& status);
// Grid column and row of the present peak nearest to the beam centre (the
// first one met, rows outer); 0, 0 when there is none.
void KZT_GRIDBEAMCENTRE(float x_beam, float y_beam, const GridPeaks& peaks, float& x_beam_grid,
                        float& y_beam_grid, Status& status);
void KZT_DESTROYPEAKS(GridPeaks& peaks, Status& status);
void KZT_VIEW2DPEAKS(const GridPeaks& peaks, Status& status);
// Asks the file name (default the last one, first "peaks.dat") and writes the
// grid peak list; an old file is replaced only when the whole list was written.
void KZT_SAVE2DPEAKS(const GridPeaks& peaks, Status& status);
// The grid peak list into OUT: two header lines and one line per position.
bool kzt_write_peak_list(const GridPeaks& peaks, std::FILE* out);
// FALSE PEAK: three clicks, then the copy of a neighbouring hole.
void KZT_FALSEPEAK(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                   const std::string& title, const std::string& xlabel, const std::string& ylabel,
                   const std::string& zlabel, std::span<float> data, Status& status);
// The copy of the hole at P1 one grid step beyond it, away from P2, less the
// background at B (data coordinates).
void kzt_false_peak(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                    float p1x, float p1y, float p2x, float p2y, float bx, float by,
                    std::span<float> data, Status& status);

// The memory data set an operation writes: arrays and description.
struct MemoryOut {
  Index xmaxdat, ymaxdat;
  std::span<float> mxaxis, myaxis, mdata;
  Index& mxnumdat;
  Index& mynumdat;
  Index& mxstrelm;
  Index& mystrelm;
  Index& mxendelm;
  Index& myendelm;
  std::string& mtitle;
  std::string& mxlabel;
  std::string& mylabel;
  std::string& mzlabel;
  bool& memory_defined;
};

// LEARN HOLE PROFILE: the average sub-pixel profile of the present peaks.
void KZT_LEARNPROFILE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                      std::span<const float> data, const GridPeaks& peaks, const MemoryOut& m,
                      Status& status);

// ---- Distortion ----

// The grid's spacing in data units along the detector's X and Y, as the
// pixel sizes are measured from it: the average from each row's and
// column's first and last peaks, the RMS from adjacent pairs. A row's and a
// column's step are each split into their X and Y parts, so that a grid
// turned on pixels that are not square still gives each direction its own
// spacing. 0.0 where nothing can be measured.
struct GridSpacings {
  double x_average = 0.0, y_average = 0.0, x_rms = 0.0, y_rms = 0.0;
};
GridSpacings kzt_grid_spacings(const GridPeaks& peaks);

// Grid statistics, the ideal grid's questions and the distortions.
void KZT_2DDISTORTION(GridPeaks& peaks, float grid_spacing, float& x_pixel_size,
                      float& y_pixel_size, Status& status);
// The distortions from a given ideal grid: hole (I0, J0) undistorted,
// rotation THETA (radians), ideal pixel sizes in metres.
void kzt_ideal_distortions(GridPeaks& peaks, float grid_spacing, float x_pixel_size,
                           float y_pixel_size, double theta, Index i0, Index j0);
void KZT_DISPLAY2DDISTORTION(const GridPeaks& peaks, Status& status);
void KZT_DIST2MEM(const GridPeaks& peaks, const MemoryOut& m, Status& status);
void KZT_IDEALSPACE(GridPeaks& peaks, Status& status);
// RESIDUALS OF FIT: the chosen function at every present peak minus its
// measured distortion (0.0 at a missing peak) into the memory.
void KZT_RESIDUALS(const GridPeaks& peaks, const SplineFunction& x_function,
                   const SplineFunction& y_function, const MemoryOut& m, Status& status);

}  // namespace kesta
