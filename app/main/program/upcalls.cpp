// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/program/program.hpp"

namespace kesta {

void kzt_fill_upcalls() {
  imageops_upcalls = ImageopsUpcalls{
      .inq_geometry = KZT_INQ_GEOMETRY,
  };
  kzt_integrate_forms() = IntegrateForms{
      .geometry = KZT_GUI_GEOMETRY,
      .control = kzt_integrate_control_form,
  };
}

}  // namespace kesta
