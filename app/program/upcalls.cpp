// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
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
void def_fs_not_built(bool, const ImageTarget&, Index&, Index&, Index&, Index&, int& retstat,
                      KztFileSeries&, Status& status) {
  retstat = 1;
  kzt_not_available("FILE SERIES DEFINITION", status);
}
// The graphical projection input comes with the grazing-incidence geometry.
void projection_not_built(bool, bool, float, float, Index, Index, Index, Index, Index, Index,
                          std::span<const float>, std::span<const float>, std::span<const float>,
                          std::span<const std::uint8_t>, std::string_view, std::string_view,
                          std::string_view, std::string_view, std::span<float>, std::span<float>,
                          Status& status) {
  kzt_not_available("PROJECTION", status);
}

}  // namespace

void kzt_fill_upcalls() {
  imageops_upcalls = ImageopsUpcalls{
      .inq_geometry = KZT_INQ_GEOMETRY,
      .draw_peaks = draw_peaks_not_built,
      .def_fs = def_fs_not_built,
      .gui_roi = KZT_GUI_ROI,
      .inp_projection = projection_not_built,
      .keyboard = KZT_KEYBOARD,
  };
  kzt_integrate_forms() = IntegrateForms{
      .geometry = KZT_GUI_GEOMETRY,
      .control = kzt_integrate_control_form,
  };
}

}  // namespace kesta
