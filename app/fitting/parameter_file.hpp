#pragma once
// The fit parameter file ("kesta.par"): the 2-D model, its fit controls and
// the data mask as a keyed item file of 512-byte records.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/fitting/fit_state.hpp"
#include "core/types.hpp"

namespace kesta {

// The file's name offered by both questions (kept for the run).
inline std::string kzt_parameter_file = "kesta.par";

// Writes PATH: the mask over 1..XNUMDAT x 1..YNUMDAT (an empty MASK writes
// nothing masked), the model and the controls. Digit 7 of every code is
// first brought into line with the constraints. False after a message naming
// the file (an old file then stays as it was).
bool kzt_write_parameter_file(const std::string& path, Index xmaxdat, Index ymaxdat,
                              Index xnumdat, Index ynumdat, std::span<const std::uint8_t> mask,
                              FitModel& model, const FitControls& controls, Status& status);

// Reads PATH into a fresh model, controls (a missing control item keeps the
// value of CONTROLS) and MASK (XMAXDAT x YMAXDAT, nothing masked when the
// file has none). RETSTAT 0 read; 1 refused (a message names the file and
// the fault); 2 an old file without the Chebyshev range (STATUS becomes the
// user escape). Nothing of the caller's changes unless RETSTAT is 0.
void kzt_read_parameter_file(const std::string& path, Index xmaxdat, Index ymaxdat,
                             FitModel& model, FitControls& controls,
                             std::vector<std::uint8_t>& mask, int& retstat, Status& status);

// KZT_OUT_PARAMETERS: OUTPUT PARAMETERS on the program arrays.
void KZT_OUT_PARAMETERS(bool mask_exist, FitSession& session, Status& status);

// KZT_INP_PARAMETERS: asks the file name and reads it; on success the model,
// controls and mask (created when needed) are replaced and the parameters
// become defined. A file asking for weights is read with the weights off
// when there are no variance arrays (VARIANCES_EXIST false), which is said.
void KZT_INP_PARAMETERS(bool variances_exist, bool& mask_exist, FitSession& session,
                        Status& status);

}  // namespace kesta
