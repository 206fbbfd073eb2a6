// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/diffraction/projection.hpp"
#include "app/diffraction/series_integration.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/main/kzt_common.hpp"
#include "app/program/program.hpp"

namespace kesta {
namespace {

// The routines of interface menus not built yet: the one not-available line.
void draw_peaks_not_built(bool, Index, Index, std::span<const int>, std::span<const float>,
                          std::span<const float>, Status& status) {
  kzt_not_available("DRAW PEAKS", status);
}
}  // namespace

void kzt_fill_upcalls() {
  imageops_upcalls = ImageopsUpcalls{
      .inq_geometry = KZT_INQ_GEOMETRY,
      .draw_peaks = draw_peaks_not_built,
      .def_fs = KZT_DEF_FS,
      .gui_roi = KZT_GUI_ROI,
      .inp_projection = KZT_INP_PROJECTION,
      .inp_sampledistance = KZT_INP_SAMPLEDISTANCE,
      .inp_beamcentre = KZT_INP_BEAMCENTRE,
      .keyboard = KZT_KEYBOARD,
  };
  kzt_integrate_forms() = IntegrateForms{
      .geometry = KZT_GUI_GEOMETRY,
      .control = kzt_integrate_control_form,
  };
}

}  // namespace kesta
