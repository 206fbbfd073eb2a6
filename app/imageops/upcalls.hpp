#pragma once
// The calls of the image operations into subsystems above them (geometry,
// graphical interface menus, ...). kesta_imageops links only downward: it
// declares the one table below, and the program fills it at start-up
// (kzt_fill_upcalls in the executable), so the compiler checks every
// signature against the routine that serves it.
//
// Every call goes through kzt_upcall, which answers an empty slot with the
// one "not available yet" line. Tests swap slots with UpcallsOverride.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/imageops/series_definition.hpp"
#include "app/main/kzt_common.hpp"
#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

struct KztDataSets;

// One plain function pointer per routine of a higher subsystem; nullptr
// while the program has not filled it (or its subsystem is not built yet).
struct ImageopsUpcalls {
  // The experiment geometry: KNOWN, beam centre X and Y (pixels), sample
  // distance and wavelength (metres), tilt rotation, tilt angle and detector
  // rotation (radians). Arguments the stored geometry lacks keep their value.
  void (*inq_geometry)(bool& known, float& x_beam_centre, float& y_beam_centre,
                       float& sample_distance, float& wavelength, float& tilt_rotation,
                       float& tilt_angle, float& detector_rotation, Status& status) = nullptr;
  // Draws the peak list (pixel coordinates) over the displayed image: good,
  // saturated, and bad weak peaks when DRAW_BAD.
  void (*draw_peaks)(bool draw_bad, Index max_peaks, Index num_peaks, std::span<const int> flags,
                     std::span<const float> x, std::span<const float> y, Status& status) = nullptr;
  // Defines a numbered file series graphically, reading its first file into
  // TARGET (whose region it sets); RETSTAT 0 when a series was defined.
  // SERIES.increment is asked when ASK_INCREMENT (the given value proposed).
  void (*def_fs)(bool ask_increment, const ImageTarget& target, Index& xstrelm, Index& ystrelm,
                 Index& xendelm, Index& yendelm, int& retstat, KztFileSeries& series,
                 Status& status) = nullptr;
  // The region-of-interest menu on the displayed image: the active data
  // region in and out, PLOT_TYPE the graphics kind it left.
  void (*gui_roi)(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                  std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> data, std::string_view title, std::string_view xlabel,
                  std::string_view ylabel, std::string_view zlabel, Index& xstrelm,
                  Index& ystrelm, Index& xendelm, Index& yendelm, std::string& plot_type,
                  Status& status) = nullptr;
  // The projection line and the strip's extent drawn on the displayed data
  // (the line from (X_START, Y_START) when START_GIVEN): the strip's five
  // corners in pixel coordinates, the fifth repeating the first.
  void (*inp_projection)(bool gui, bool start_given, float x_start, float y_start, Index xmaxdat,
                         Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm, std::span<const float> xaxis,
                         std::span<const float> yaxis, std::span<const float> data,
                         std::span<const std::uint8_t> mask, std::string_view title,
                         std::string_view xlabel, std::string_view ylabel,
                         std::string_view zlabel, std::span<float> xvertices,
                         std::span<float> yvertices, Status& status) = nullptr;
  // The geometry's prompts for the sample distance (metres) and the beam
  // centre (pixel coordinates), each value in and out.
  void (*inp_sampledistance)(bool gui, float& sample_distance, Status& status) = nullptr;
  void (*inp_beamcentre)(bool gui, float& x_beam_centre, float& y_beam_centre,
                         Status& status) = nullptr;
  // The keyboard command loop, entered from the graphical menus (FROM_GUI);
  // returns when the user exits it.
  void (*keyboard)(bool from_gui, KztDataSets& sets, Status& status) = nullptr;
};
inline ImageopsUpcalls imageops_upcalls;

// The names of the routines whose slots are empty in TABLE, in table order.
std::vector<std::string_view> imageops_upcalls_missing(const ImageopsUpcalls& table);

// Calls SLOT with ARGS and STATUS (last), unless STATUS is bad. An empty slot
// writes the "not available yet" line naming WHAT and returns false without
// touching ARGS.
template <typename Function, typename... Args>
bool kzt_upcall(Function* slot, std::string_view what, Status& status, Args&&... args) {
  if (status != kStatusGood) return false;
  if (slot == nullptr) {
    kzt_not_available(what, status);
    return false;
  }
  slot(std::forward<Args>(args)..., status);
  return true;
}

// The experiment geometry for the operations that only use it when known
// (d-spacings of peaks, click read-out): while the geometry subsystem has not
// filled its slot the geometry is unknown, silently, and the other arguments
// keep their values. Without a sample distance and a wavelength above 0
// (their keys absent or not positive) the geometry is unknown too: no
// d-spacing can be worked out, and the distance and wavelength keep their
// values.
void kzt_inq_geometry(bool& known, float& x_beam_centre, float& y_beam_centre,
                      float& sample_distance, float& wavelength, Status& status);

// For tests: replaces the table for the guard's lifetime, then restores it.
class UpcallsOverride {
 public:
  explicit UpcallsOverride(const ImageopsUpcalls& with) : saved_(imageops_upcalls) {
    imageops_upcalls = with;
  }
  ~UpcallsOverride() { imageops_upcalls = saved_; }
  UpcallsOverride(const UpcallsOverride&) = delete;
  UpcallsOverride& operator=(const UpcallsOverride&) = delete;

 private:
  ImageopsUpcalls saved_;
};

}  // namespace kesta
