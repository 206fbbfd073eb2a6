// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/diffraction/projection.hpp"
#include "app/diffraction/series_integration.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/interfaces/peak_interface.hpp"
#include "app/main/kzt_common.hpp"
#include "app/program/program.hpp"

namespace kesta {

void kzt_fill_upcalls() {
  imageops_upcalls = ImageopsUpcalls{
      .inq_geometry = KZT_INQ_GEOMETRY,
      .draw_peaks = KZT_DRAW_PEAKS,
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
