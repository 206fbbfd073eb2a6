#pragma once
// The program's one non-linear least-squares minimiser: a trust-region
// Levenberg-Marquardt fit with a forward-difference Jacobian, QR factorisation
// with column pivoting and column scaling, in single precision, of a caller's
// model to a rectangular region of a 2-D data array.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>

#include "core/types.hpp"

namespace kesta {

// The model function handed to MA_MODELFIT. It writes the model values of
// every used data element of the region into MODEL: element (x, y) with
// MODEL_IN_DATA_FRAME, else element (x - XSTRELM + 1, y - YSTRELM + 1), in a
// model array of declared size XMAXMOD x YMAXMOD. PARAMS are all parameters in
// the caller's units. A non-zero TERMINATE stops the fit; a bad STATUS ends it
// too. PASS_1 .. PASS_4 are handed through unchanged.
using ModelFunction = std::function<void(
    bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
    std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
    Index yendelm, void* pass_1, void* pass_2, void* pass_3, void* pass_4, int num_parameters,
    std::span<const float> params, Index xmaxmod, Index ymaxmod, bool model_in_data_frame,
    int& terminate, std::span<float> model, Status& status)>;

// Fits the free parameters (CONSTRAINED false) of PARAMS to DATA over the
// region; MASK (non-zero = left out) is used with MASK_DATA, SIGMAS divide the
// residuals with WEIGHTED, and the residual is model - data with
// SUBTRACT_DATA, else the model value alone. MODE must be 1. SCALES give the
// expected change of each free parameter.
//
// Checks: 20001, 20002 dimensions; 20005, 20006 region (or a model array too
// small for it); 20017 MAX_CALLS < 1 or MODE not 1; 20021 a zero SCALES entry
// of a free parameter or, with WEIGHTED, a zero SIGMAS element over the used
// data.
//
// Also 20021 for a used DATA element (with SUBTRACT_DATA), a used SIGMAS
// element (with WEIGHTED) or a free parameter's SCALES entry that is not a
// finite number.
//
// END_CODE: -10 no free parameter (nothing done); -3 residuals orthogonal to
// the Jacobian; -2 both -1 and 0; -1 relative step below TOLERANCE; 0 relative
// reduction below TOLERANCE; 1 more free parameters than data values (nothing
// done); 2 work storage not available (STATUS 11002); 3 the model function set
// TERMINATE or returned a bad STATUS (that STATUS is returned); 4 MAX_CALLS
// reached; 5, 6, 7 no further progress at machine precision; 8 an evaluation
// gave a sum of squares that is not a finite number (an overflow in the model
// or the residuals). Codes 1 and above are failed fits.
//
// Whenever the fit ran, PARAMS return in the caller's units, and MODEL (over
// the used elements) and SUM_SQUARES belong to the returned PARAMS: after a
// rejected last trial the values kept from the accepted point are put back,
// without a further model evaluation. After END_CODE 3 they are those of the
// evaluation that stopped the fit; after END_CODE 8 on the first evaluation
// PARAMS are the start values and SUM_SQUARES is not finite.
//
// The residuals are taken in double precision and the minimiser works on
// them divided by a power of two that brings their first norm near 1, so
// data of any size a single-precision value holds (1e-30 or 1e30) fit as the
// same data of everyday size do; SUM_SQUARES is in the caller's units (data
// of 1e30 give sums of 1e60, which only double precision holds).
void MA_MODELFIT(int info_level, const ModelFunction& model_function, bool mask_data,
                 bool weighted, bool subtract_data, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const std::uint8_t> mask,
                 std::span<const float> sigmas, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, int mode, int max_calls, float tolerance, float step_bound,
                 float diff_step, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                 int num_parameters, std::span<const bool> constrained,
                 std::span<const float> scales, Index xmaxmod, Index ymaxmod,
                 bool model_in_data_frame, std::span<float> params, std::span<float> model,
                 int& end_code, int& num_calls, double& sum_squares, Status& status);

// The same for callers that take the sum of squares in single precision: a
// fit whose sum of squares passes its largest value ends as one whose sum is
// not a finite number does (END_CODE 8, SUM_SQUARES an infinity).
void MA_MODELFIT(int info_level, const ModelFunction& model_function, bool mask_data,
                 bool weighted, bool subtract_data, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const std::uint8_t> mask,
                 std::span<const float> sigmas, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, int mode, int max_calls, float tolerance, float step_bound,
                 float diff_step, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                 int num_parameters, std::span<const bool> constrained,
                 std::span<const float> scales, Index xmaxmod, Index ymaxmod,
                 bool model_in_data_frame, std::span<float> params, std::span<float> model,
                 int& end_code, int& num_calls, float& sum_squares, Status& status);

// Largest work storage (bytes) MA_MODELFIT asks for; a fit needing more ends
// with END_CODE 2 as if the allocation had failed. Lowered only by tests.
inline std::size_t modelfit_work_limit = std::numeric_limits<std::size_t>::max();

}  // namespace kesta
