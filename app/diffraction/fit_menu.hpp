#pragma once
// The FIT sub-menu of the keyboard interface: the 2-D fitting, geometry and
// powder integration commands over the current data and the memory. The
// experiment geometry is read from its keys at entry and stored at exit.

#include <string>

#include "app/diffraction/powder.hpp"
#include "app/diffraction/simulation.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The sub-menu's geometry copies (kept for the run; tests may reset them).
struct FitMenuState {
  bool first_entry = true;
  PowderSettings geometry;
  PowderCommandSettings powder;
  RThetaSettings rtheta;
};
FitMenuState& kzt_fit_state();

// FIT: the sub-menu loop. GRAPHICS_KIND is set to what a command left drawn
// (a masked image), for PRINT GRAPHICS; the short form keeps it to itself.
void KZT_FIT(KztDataSets& sets, std::string& graphics_kind, Status& status);
void KZT_FIT(KztDataSets& sets, Status& status);

}  // namespace kesta
