// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/kzt_common.hpp"
#include "app/main/program/program.hpp"

namespace kesta {
namespace {

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
      .inp_projection = projection_not_built,
  };
  kzt_integrate_forms() = IntegrateForms{
      .geometry = KZT_GUI_GEOMETRY,
      .control = kzt_integrate_control_form,
  };
}

}  // namespace kesta
