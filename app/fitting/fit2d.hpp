#pragma once
// The 2-D least-squares fit of the feature model to the active data region,
// and the integrated intensities of its peaks.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/fitting/model.hpp"
#include "core/types.hpp"

namespace kesta {

// KZT_FUNKESTA: the model function handed to MA_MODELFIT; PASS_1 points to a
// Fit2dContext (frame and a working copy of the model whose parameters are
// replaced by PARAMS).
struct Fit2dContext {
  const ModelFrame* frame = nullptr;
  FitModel work;
};
void KZT_FUNKESTA(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                  int num_parameters, std::span<const float> params, Index xmaxmod, Index ymaxmod,
                  bool model_in_data_frame, int& terminate, std::span<float> model,
                  Status& status);

// What one fit did. FITTED is false when the fit did not run (too few data,
// no work storage, a bad status): nothing of the caller's then changes.
// VALID is false when the fit failed (its sum of squares not a finite
// number, or ended by the model function) or a fitted feature is no possible
// peak (see kzt_fit_validity); the fitted values are kept all the same.
struct Fit2dOutcome {
  bool fitted = false;
  bool valid = false;
  // Every parameter was held: nothing was fitted, and SUM_SQUARES is the held
  // model's.
  bool held = false;
  int end_code = 0;
  int num_calls = 0;
  // In double precision: the squares of data of 1e30 pass single precision.
  double sum_squares = 0.0;
};

// The line that replaces the count of calls and the sum of squares when every
// parameter is held; the held model's sum of squares follows it.
inline constexpr const char* kNothingFitted =
    "INFO: Every parameter is held, so nothing was fitted; the held model's sum of squares = ";

// KZT_LSQKESTA: fits MODEL (its free parameters, from its values) to DATA over
// the region, leaving out masked elements, elements that are not finite and,
// when WEIGHTED, elements whose variance is not above 0. When the fit ran,
// MODEL holds the fitted parameters and the peak results (result errors 0.0)
// and MODEL_OUT (XMAXDAT x YMAXDAT) the fitted model over the region.
// MAX_CALLS is NINT(parameters x ITERATIONS), at least 1.
Fit2dOutcome KZT_LSQKESTA(const ModelFrame& frame, std::span<const float> data,
                          std::span<const float> variances, std::span<const std::uint8_t> mask,
                          Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          bool weighted, float iterations, FitModel& model,
                          std::span<float> model_out, Status& status);

// The integrated intensities of the peak features of MODEL (its results,
// names and their count), over the region. OWNERS, when given, receives the
// feature number of each result.
void kzt_fit_results(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, FitModel& model, Status& status,
                     std::vector<int>* owners = nullptr);

// Checks a fitted MODEL (its results computed, OWNERS from kzt_fit_results)
// with kzt_fit_faults: a peak centre must lie in the region, its heights,
// widths and intensities above 0. Each feature found wanting gets one
// warning line naming it and what is wrong; false when any did. An
// intensity too large to be held, of a feature whose parameters are all
// finite numbers, is said in an information line and is no fault.
bool kzt_fit_validity(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, const FitModel& model, std::span<const int> owners,
                      Status& status);

// The call budget: NINT(NUM_PARAMETERS x ITERATIONS), at least 1.
int kzt_max_calls(int num_parameters, float iterations);

}  // namespace kesta
