#pragma once
// Look-ups on the displayed image: clicked pixels (terminal lines or a
// message box), an 11 x 11 table of values about a clicked pixel, the
// distance between two clicked points, the number of saturated pixels, and
// 1-D profiles along a line, a circular arc or a projected strip, stored in
// the memory as a one-row data set and drawn as an x/y graph.
//
// Behind each interactive routine is a function that takes the points and
// does the arithmetic; the routines only take the clicks. Clicks arrive in
// data coordinates and become pixel coordinates along the axes; a pixel
// index from a click is held inside the displayed region.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/imageops/geometric_transforms.hpp"
#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// The displayed data as the inspections read it.
struct KztDisplayed {
  Index xmaxdat = 0, ymaxdat = 0;
  Index xnumdat = 0, ynumdat = 0;  // the image's defined extent in the arrays
  Index xstrelm = 1, ystrelm = 1, xendelm = 1, yendelm = 1;
  std::span<const float> xaxis, yaxis, data, variances;
  bool variances_exist = false;
  std::string_view title, xlabel, ylabel, zlabel;
  float x_pixel_size = 1.0e-4f, y_pixel_size = 1.0e-4f;
  // False before any data: the arrays hold nothing to show or inspect.
  bool data_defined = true;
};
// The current data of the program arrays and SETS.
KztDisplayed kzt_displayed(const KztDataSets& sets);

// The memory as a profile writer fills it: the arrays (declared as the
// displayed data), and the extent and texts, set only when a profile was
// stored.
struct KztMemoryProfile {
  std::span<float> mxaxis, mdata, mvariances;
  KztMemoryExtent extent;
  std::string mtitle, mxlabel, mylabel, mzlabel;
  float mx_pixel_size = 1.0e-4f, my_pixel_size = 1.0e-4f;
};
// The memory of the program arrays; after a profile was stored,
// kzt_store_profile copies its extent and texts into SETS.
KztMemoryProfile kzt_memory_profile();
void kzt_store_profile(const KztMemoryProfile& profile, KztDataSets& sets);

// The experiment geometry the read-out uses (pixels, metres).
struct KztReadoutGeometry {
  bool known = false;
  float x_beam = 0.0f, y_beam = 0.0f, distance = 0.0f, wavelength = 0.0f;
};

// The pixel that holds pixel coordinate P, held inside FIRST..LAST.
Index kzt_clicked_pixel(float p, Index first, Index last);

// The read-out lines of the point at data coordinates (X, Y), pixel
// coordinates (PX, PY): data coordinate, pixel, intensity, the 3*3 and 5*5
// averages (blocks clipped to 1..XENDELM, 1..YENDELM) and, with a known
// geometry and a non-zero angle, the d-spacings of the first three orders.
std::vector<std::string> kzt_pixel_lines(const KztDisplayed& d, float x, float y, float px,
                                         float py, const KztReadoutGeometry& geometry);

// The 11 x 11 table of values about pixel (IX, IY), top row first, with the
// two header lines.
std::vector<std::string> kzt_numbers_lines(const KztDisplayed& d, float x, float y, Index ix,
                                           Index iy);

// The distance lines between two points in pixel coordinates; pixel sizes
// in metres.
std::vector<std::string> kzt_distance_lines(float px1, float py1, float px2, float py2,
                                            float x_pixel_size, float y_pixel_size);

// Profiles into the memory from points in pixel coordinates; the memory
// holds variances. A profile of no points stores nothing; true when one was
// stored.
bool kzt_slice_profile(const KztDisplayed& d, float px1, float py1, float px2, float py2,
                       KztMemoryProfile& memory, Status& status);
// Collinear points write "WARNING: Arc centre cannot be calculated" and
// store nothing.
bool kzt_arc_profile(const KztDisplayed& d, std::span<const float, 3> px,
                     std::span<const float, 3> py, KztMemoryProfile& memory, Status& status);
// The strip of the five vertices (the fifth repeats the first) onto the axis
// from vertex 1 to vertex 2, in steps of the mean pixel size; each bin holds
// the weighted mean and, as variance, the weighted variance of its values.
void kzt_projection_profile(const KztDisplayed& d, std::span<const float> xvertices,
                            std::span<const float> yvertices, KztMemoryProfile& memory,
                            Status& status);

// The interactive inspections on the displayed data (graphics open).
void KZT_PEEP(const KztDisplayed& d, Status& status);
void KZT_PIXELXY(const KztDisplayed& d, Status& status);
void KZT_NUMBERS(const KztDisplayed& d, Status& status);
void KZT_DISTANCE(const KztDisplayed& d, Status& status);
void KZT_SATURATED(const KztDisplayed& d, Status& status);
void KZT_SLICE(const KztDisplayed& d, KztMemoryProfile& memory, Status& status);
void KZT_ARCSLICE(const KztDisplayed& d, KztMemoryProfile& memory, Status& status);
void KZT_PROJECTION(const KztDisplayed& d, KztMemoryProfile& memory, Status& status);

// The profile in the memory as an interactive x/y graph, with error bars
// when variances exist.
void kzt_show_profile(const KztMemoryProfile& memory, bool variances_exist, Status& status);

// The keyboard branch of PEEP.
void kzt_command_peep(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
