#pragma once
// Strip projection of (grazing-incidence) small-angle patterns: a strip of
// the image drawn about a line through the beam centre is re-binned onto the
// line as a 1-D scan against distance, 2-theta, q or d-spacing, with the
// detector tilt taken in the plane of the line; and the meridian modulation,
// which weights every pixel by |sin| of its azimuth from a clicked meridian.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The line and the strip drawn on the displayed data (data coordinates turned
// into pixel coordinates through the axes): with START_GIVEN the line runs
// from the mirror image of one click through (X_START, Y_START) (pixel
// coordinates) to the click, else between two clicks; two more clicks give
// the strip's extent. XVERTICES, YVERTICES (at least 5) receive the corners:
// 1 and 2 on the edge through the first extent click, 3 and 4 on the edge
// through the second, 1 and 4 at the line's start, corner 5 = corner 1.
// Asked again until the user accepts the drawn strip; CANCEL gives the user
// escape with the corners unchanged.
void KZT_INP_PROJECTION(bool gui, bool start_given, float x_start, float y_start, Index xmaxdat,
                        Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        std::span<const float> xaxis, std::span<const float> yaxis,
                        std::span<const float> data, std::span<const std::uint8_t> mask,
                        std::string_view title, std::string_view xlabel, std::string_view ylabel,
                        std::string_view zlabel, std::span<float> xvertices,
                        std::span<float> yvertices, Status& status);

// The strip of XCORNERS, YCORNERS (pixel coordinates, 4 corners used) re-binned
// onto the line from corner 1 to corner 2, measured from the beam centre
// (pixel coordinates), into NBINS bins of BIN_SIZE (metres for the distance,
// degrees, inverse nanometres, Angstroms). Bin b covers (b - c - 1) .. (b - c)
// bin widths from the centre, c = NBINS / 2, and its axis value is its centre
// ((b - c - 0.5) bin widths; millimetres for the distance). Each pixel spans
// one mean pixel size about its tilt-corrected distance, shared between the bins it covers by overlap (shares of a pixel add up
// to 1); a bin holds the weighted mean, its variance (when VARIANCES_EXIST)
// the spread of the contributing values; bins no pixel reaches hold 0.
// Masked pixels (with MASK_IN_USE), non-finite values, pixels at or behind
// the sample plane, and for d-spacing pixels whose span reaches the centre
// are left out. GEOMETRICAL_CORRECTION (not for d-spacing) multiplies by
// 1 / cos^3(2-theta). Refused (code + 110000): XMAXDAT or MAXBINS below 1
// (1), YMAXDAT below 1 (2), a region outside the arrays (5, 6), NBINS outside
// 1..MAXBINS or arrays shorter than their sizes (1), an unknown scan type
// (17), a bin size, distance or pixel size that is not positive, or a
// non-positive wavelength for q and d (3).
void KZT_CAL_GISAXS(bool mask_in_use, int scan_type, float x_beam_centre, float y_beam_centre,
                    float sample_distance, float wavelength, float tilt_rotation,
                    float tilt_angle, bool geometrical_correction, Index xmaxdat, Index ymaxdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::span<const std::uint8_t> mask,
                    float x_pixel_size, float y_pixel_size, std::span<const float> xcorners,
                    std::span<const float> ycorners, bool variances_exist, float bin_size,
                    Index maxbins, Index nbins, std::span<float> axis, std::span<float> scan,
                    std::span<float> scan_variances, std::span<float> weights, Status& status);

// The settings the projection remembers for the run (read from and stored
// under SCAN_TYPE, MAXIMUM_D, SCAN_SUMMATION and GEOMETRICAL_CORRECTION).
struct ProjectionSettings {
  int scan_type = 2;
  float maximum_d = 50.0f;
  bool summation = false;
  bool geometrical_correction = true;
};
ProjectionSettings& kzt_projection_settings();

// PROJECTION of the SAXS / GISAXS interface: the line from the beam centre
// and the strip, the geometry form, the control and bin-size forms, then the
// scan into the memory (one row, titled and labelled by the scan type).
// The geometry (metres, radians, beam centre in pixels) is the interface's
// copy, changed by the geometry form; the masked pixels are left out while
// MASK_DATA. CANCEL leaves the memory as it was (STATUS the user escape).
void KZT_GUI_PROJECTION(KztDataSets& sets, bool mask_data, float& sample_distance,
                        float& wavelength, float& x_beam_centre, float& y_beam_centre,
                        float& tilt_rotation, float& tilt_angle, Status& status);

// SPHERICAL MOD: a click on the meridian, then every pixel of the active
// region times |sin| of its azimuth from the meridian (a pixel on the beam
// centre keeps its value; variances stay). A click on the beam centre only
// warns; CANCEL changes nothing (good STATUS).
void KZT_SPHERICAL_MOD(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                       std::span<const float> yaxis, std::string_view title,
                       std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                       Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float x_beam_centre, float y_beam_centre, std::span<float> data,
                       Status& status);

// The modulation itself about the meridian through (X_MERIDIAN, Y_MERIDIAN)
// (pixel coordinates); false (nothing changed) when it lies on the centre.
bool kzt_meridian_modulation(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                             Index yendelm, float x_beam_centre, float y_beam_centre,
                             float x_meridian, float y_meridian, std::span<float> data);

// The strip's corners from the line (X1, Y1) -> (X2, Y2) and the two extent
// points (pixel coordinates), as KZT_INP_PROJECTION returns them.
void kzt_strip_corners(float x1, float y1, float x2, float y2, float xa, float ya, float xb,
                       float yb, std::span<float> xvertices, std::span<float> yvertices,
                       Status& status);

// The leftmost and rightmost crossings of the row centre Y0 with the four
// edges of the strip X, Y (pixel coordinates); false when the row misses it.
bool kzt_strip_row_crossings(std::span<const float> x, std::span<const float> y, double y0,
                             double& left, double& right);

// Calls ROW(j, i1, i2) for each row J of the region whose centre line
// crosses the strip XC, YC (4 corners used), with the columns I1..I2 of the
// region whose centres lie inside it (none when I1 > I2).
template <typename Row>
void kzt_for_strip_rows(std::span<const float> xc, std::span<const float> yc, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Row row) {
  const float ymin = *std::min_element(yc.begin(), yc.begin() + 4);
  const float ymax = *std::max_element(yc.begin(), yc.begin() + 4);
  const Index first_row = std::max<Index>(ystrelm, static_cast<Index>(std::max(ymin, 1.0f)));
  const Index last_row = std::min<Index>(
      yendelm, static_cast<Index>(std::min<double>(ymax, static_cast<double>(yendelm))) + 1);
  for (Index j = first_row; j <= last_row; ++j) {
    double left = 0.0, right = 0.0;
    if (!kzt_strip_row_crossings(xc, yc, static_cast<double>(j) - 0.5, left, right)) continue;
    row(j, std::max<Index>(xstrelm, static_cast<Index>(std::ceil(left + 0.5))),
        std::min<Index>(xendelm, static_cast<Index>(std::floor(right + 0.5))));
  }
}

}  // namespace kesta
