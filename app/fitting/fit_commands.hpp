#pragma once
// The model-fitting commands of the FIT sub-menu on the program arrays: each
// works on the kept fit session and writes its result into the memory only
// when it completed.

#include <string>
#include <vector>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_state.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The model's frame on the program arrays (axes, pixel sizes, geometry).
ModelFrame kzt_program_frame(const KztDataSets& sets);

// True when the SAMPLE_DISTANCE and WAVELENGTH keys are both stored;
// DISTANCE receives the stored distance.
bool kzt_geometry_known(float& distance);

// INPUT PARAMETERS: the input method, then the residual image in the memory.
void kzt_fit_input_parameters(KztDataSets& sets, FitSession& session, Status& status);
// The result text of a fit of MODEL: a heading, every parameter with its
// error and every derived result (none dropped); a fit that did not converge
// (it ran, but ended on a failure code) or is not valid says so above the
// table, and so does one that held every parameter (with the held model's
// sum of squares).
std::vector<std::string> kzt_fit_result_text(const FitModel& model, const Fit2dOutcome& outcome);
inline constexpr const char* kFitNotConverged =
    "WARNING: THE FIT DID NOT CONVERGE (PROBLEM FITTING THE MODEL TO THE DATA)";
inline constexpr const char* kNothingFittedText =
    "NOTHING WAS FITTED: EVERY PARAMETER IS HELD. SUM OF SQUARES = ";
// OPTIMISE and MINIMISE.
void kzt_fit_optimise(KztDataSets& sets, FitSession& session, Status& status);
// MODEL.
void kzt_fit_model(KztDataSets& sets, FitSession& session, Status& status);
// RESULTS.
void kzt_fit_show_results(const FitSession& session, Status& status);
// SURFACE POLYNOMIAL.
void kzt_fit_surface(KztDataSets& sets, Status& status);
// The residual (data minus model) over the active region into the memory,
// titled "Residuals", with the data's variances.
void kzt_fit_residuals(KztDataSets& sets, const FitModel& model, Status& status);

}  // namespace kesta
