#pragma once
// The result vectors (one value per fitted row and parameter) viewed as x/y
// graphs, one vector at a time.

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The vectors menu on the result vectors of SETS: the shown vector is asked (the one after the
// last shown proposed), drawn against the sample number, input, output and
// printed. No defined vector: the warning box and back. Refused: at most 0
// values per vector (110001) or 0 vectors (110002).
void KZT_GUI_VECTORS(KztDataSets& sets, Status& status);

}  // namespace kesta
