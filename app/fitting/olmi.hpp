#pragma once
// The multiple 1-D fit: the same model of peaks, decays, sinusoids and a
// Chebyshev background fitted to every row of a region in turn, each row's
// parameters and results stored into the vector arrays indexed by row.
//
// The model is a FitModel whose codes follow the 2-D scheme with digit 8 the
// unit class of the reported value; X_ORDER is the polynomial order and
// X_MIN_POLY .. X_MAX_POLY its normalisation range, in channel coordinates
// (channel x covers x - 1 .. x).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/fitting/model.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

enum OneDType : int {
  kOneDGaussian = 2,
  kOneDLorentzian = 3,
  kOneDVoigt = 4,
  kOneDPolynomial = 5,
  kOneDDecay = 13,
  kOneDSinusoid = 14,
};

// KZT_1DFEATURE: adds feature FEATURE of MODEL to ROW over XSTRELM..XENDELM.
void KZT_1DFEATURE(const FitModel& model, int feature, Index xmaxdat, Index xstrelm,
                   Index xendelm, std::span<float> row, Status& status);

// KZT_FUNOLMI's work: ROW set to 0.0 over the channels, then every feature.
void kzt_olmi_row_model(const FitModel& model, Index xmaxdat, Index xstrelm, Index xendelm,
                        std::span<float> row, Status& status);

// The reported value of parameter I (0-based) by its unit class, with the X
// axis of the row and the region's first channel.
float kzt_olmi_reported(const FitModel& model, int i, std::span<const float> x_axis,
                        Index xstrelm);

// The results of the peak features (INT, and FWHM for a Voigt) from the
// reported values; names "GAU nn INT" etc. OWNERS, when given, receives the
// feature number of each result.
void kzt_olmi_results(const FitModel& model, std::span<const float> x_axis, Index xstrelm,
                      std::vector<float>& results, std::vector<std::string>& names,
                      std::vector<int>* owners = nullptr);

// One row's fit. TEXT is its table of parameters and results (without a
// heading); VALID is false when a fitted feature is no possible one (its
// lines then end TEXT); the values are kept all the same.
struct OlmiRowFit {
  bool fitted = false;
  bool valid = false;
  int end_code = 0;  // MA_MODELFIT's
  int num_calls = 0;
  double sum_squares = 0.0;
  // The channels fitted, the rms of data minus model over them (unweighted)
  // and the row's noise about the model, which neither one outlying channel
  // nor the shift of the background the fit gives way to it lifts (1.4826
  // times the median absolute difference of neighbouring channels' data
  // minus model, over the square root of 2: the rms of Gaussian noise).
  Index channels = 0;
  float residual_rms = 0.0f;
  float typical_misfit = 0.0f;
  std::vector<float> reported;  // converted parameter values
  std::vector<float> results;
  std::vector<std::string> result_names;
  std::vector<std::string> text;
};

// KZT_LSQOLMI: fits MODEL (in: start, out: fitted) to one row (XMAXDAT
// values) over XSTRELM..XENDELM; masked and non-finite channels and, when
// WEIGHTED, channels whose variance is not above 0 are left out. A fit that
// ran and failed (the call budget reached, no progress) leaves its
// parameters in MODEL too, without results (FITTED false); the lines written
// (sum of squares, RMS mis-fit, R_p) are those of the parameters left. A
// fitted row is checked as the 2-D fit is (kzt_fit_faults): a peak's position
// must lie in the row's region, its height, width and intensity be above 0.
// A converged fit of a Voigt goes on from where it stopped, with coarser
// differences, for as long as that lowers its sum of squares by more than
// rounding (its widths' valley is long and curved).
OlmiRowFit KZT_LSQOLMI(int info_level, std::span<const float> row,
                       std::span<const float> variances, std::span<const std::uint8_t> mask,
                       std::span<const float> x_axis, Index xstrelm, Index xendelm, bool weighted,
                       float iterations, FitModel& model, Status& status);
// The same for row ROW_NUMBER of a data set (above 0), which its warnings on
// the terminal name: the feature lines carry it ("Feature 1 is not valid in
// row 7: ..."), and a line "(row 7)" follows the failed fit's warning.
OlmiRowFit KZT_LSQOLMI(int info_level, std::span<const float> row,
                       std::span<const float> variances, std::span<const std::uint8_t> mask,
                       std::span<const float> x_axis, Index xstrelm, Index xendelm, bool weighted,
                       float iterations, FitModel& model, Index row_number, Status& status);

// What a row's valid model may hold badly, one bit a rule: a feature (a
// peak, decay or sinusoid) whose position lies outside the channels fitted
// (a peak's also where it lies within its half width of their end, nearer
// than twice the standard error of its position),
// narrower than a channel (a peak's half width at half maximum: narrower
// than two channels at half its height; a decay's half-life, a sinusoid's
// period) by more than twice the standard error of that width at the row's
// noise, or whose width the channels cannot tell to a quarter of itself (a
// spike of the noise), lower than three times the fit's typical
// mis-fit (OlmiRowFit::typical_misfit, the row's noise: a spike of the
// noise, a trace where the data have none), a peak
// wider at half its maximum than the channels (it cannot be told from the
// background it has taken), a height or width that is no number, two peaks
// closer than the wider one's half width (their shares are in doubt), and,
// found by the evolving run, two peaks that may have changed places as they
// crossed.
enum OlmiDoubt : unsigned {
  kDoubtOutside = 1u << 0,
  kDoubtNarrow = 1u << 1,
  kDoubtLow = 1u << 2,
  kDoubtWide = 1u << 3,
  kDoubtNotFinite = 1u << 4,
  kDoubtOnAnother = 1u << 5,
  kDoubtIdentity = 1u << 6,
};
inline constexpr int kOlmiDoubts = 7;

// The rules (OlmiDoubt bits) that FIT (of MODEL, the parameters it left,
// over channels XSTRELM..XENDELM) finds a feature held badly by; 0 when it
// holds every feature well, or did not fit to a valid model.
unsigned kzt_olmi_doubts(const FitModel& model, const OlmiRowFit& fit, Index xstrelm,
                         Index xendelm);
// Whether FIT fitted to a valid model that holds every feature well
// (kzt_olmi_doubts gives none).
bool kzt_olmi_held_well(const FitModel& model, const OlmiRowFit& fit, Index xstrelm,
                        Index xendelm);

// Fit controls of the multiple 1-D fit.
struct OlmiControls {
  int info_level = 0;
  float iterations = 11.5f;
  int display_frequency = 10;  // 0: no display
  bool evolve = true;
  bool weighted = false;
  // The graphical interface's run: a row that failed to fit is also shown in
  // a warning box (which holds no replayed macro: it takes no answer there).
  bool warning_boxes = false;
};

// Draws one fitted row (the display of the multiple 1-D fit); may be null.
using OlmiDisplay = void (*)(const FitModel& model, std::span<const float> row,
                             std::span<const float> variances,
                             std::span<const std::uint8_t> mask, std::span<const float> x_axis,
                             Index xmaxdat, Index xstrelm, Index xendelm,
                             const std::string& title, Status& status);

// KZT_OLMIOPTIMISE: fits rows START_ROW..YENDELM, then START_ROW - 1 down to
// YSTRELM, each row from START, or under evolution from the last row of its
// pass whose fit gave a valid model (the downward pass from the start row's
// fit when it was valid; START before any such row). Under evolution a row
// whose fit from that model does not hold every feature well
// (kzt_olmi_held_well) is fitted also from that model with each feature as
// held in the row nearest it that held it clearly (five times the typical
// mis-fit high, and within its half width of the row fitted before it), from
// that model with each feature's position on the line through its positions
// in the (up to 20) such rows nearest (rows more than 2 channels off it left
// out), and from START (each that differs from those before it, with a line
// saying so); the valid fit with the lowest sum of squares stands, unless a
// fit that is not valid lies lower than it by more than the free parameters'
// count of its mean square (then that one stands, as no valid model; with
// none that fitted, the first). Under evolution a fit that ran out of calls
// goes on once from where it stopped, and two peaks keep their identities,
// clicked on the start row, on both passes: two that have not met since
// last told apart (clicked further apart than their half widths together)
// keep what they hold; once they have met (come within the wider one's half
// width, or found in the other order, or, their drift not known, drawn
// together or, one having lost its own height or width or being no clear
// peak, within their half widths together) every row is fitted also from
// its fit with the two put each where the other lies (such a fit stands
// only where it lies lower by more than the noise explains), and the rows
// are named until the two lie apart again (further than their half widths
// together, both clear peaks), and then a valid fit that holds each other's
// height and width as last held clearly (as clicked, before any row held
// them), and their lines of drift where known, better than their own by a
// clear margin is given back its own parameters (of one kind), with a line
// saying so, or stays named (of two kinds, as does a row whose fit with the
// two the other way lies lower, or as low within the noise where their
// heights, widths and lines do not tell them apart). Where no one row
// tells, the heights and widths of the rows lying apart since tell
// together when their mean is clear of their scatter (two of one kind
// whose drift is not known are not told by having kept their order, as
// the fit carries two of one kind through a crossing in it), and two clicked on
// one another (yet a quarter of the wider one's half width apart: closer,
// the order clicked tells nothing and the rows stay named) that have only
// drawn apart since, in the order clicked, keep what they hold; two that
// met and have lain apart since (both clear, resolved, in their order) for
// five rows are told apart where the straight lines through their
// positions in those rows point back each to where it lay when last told
// apart, and not the other way round. Two clicked apart are
// judged drawing together against the gap the start row's fit finds, not
// the clicks'. A fit of no valid model gives neither of two peaks that
// met its height and width. Stores
// each row's reported parameters and results in the vectors (vectors 1..50,
// rows 1..500; one warning for what does not fit). A row that failed to fit
// has no results: its parameters and results become 0.0, so that no earlier
// run's values stay in the vectors as this run's. Each row's warnings name
// it, and the lines naming the rows that did not fit and those that ended as
// no valid model, and those whose valid model holds a feature badly, under
// each rule that found it (kzt_olmi_failed_text, kzt_olmi_invalid_text,
// kzt_olmi_doubtful_text) end the run on the terminal.
void KZT_OLMIOPTIMISE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                      std::span<const float> variances, std::span<const std::uint8_t> mask,
                      std::span<const float> x_axis, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, Index start_row, const std::string& title,
                      const OlmiControls& controls, const FitModel& start, KztVectors& vectors,
                      OlmiDisplay display, Status& status);

// What the graphical interface keeps of a run besides the vectors: MODEL
// (XMAXDAT x YMAXDAT, may be empty) receives each row's model over
// XSTRELM..XENDELM, of the parameters kept for it; START_FIT the model kept
// for the start row and START_TEXT its result lines, headed with its row
// (START_FITTED false, and no lines, when that row did not fit); FAILED_ROWS
// the rows that did not fit, INVALID_ROWS those that fitted to no valid
// model and DOUBTFUL_ROWS those whose valid model holds a feature badly
// (kzt_olmi_doubts, or two peaks that may have changed places), each in increasing order, DOUBTS the same rows by the rule that
// found each (a row under every rule that did); TEXT the run's result text:
// the start row's lines (or that it failed), then the rows that failed, the
// rows of no valid model and the doubtful rows.
struct OlmiOutput {
  std::span<float> model;
  bool start_fitted = false;
  FitModel start_fit;
  std::vector<std::string> start_text;
  std::vector<Index> failed_rows;
  std::vector<Index> invalid_rows;
  std::vector<Index> doubtful_rows;
  std::array<std::vector<Index>, kOlmiDoubts> doubts;
  std::vector<std::string> text;
};

// The lines of the result text naming FAILED rows (increasing) of the
// TOTAL fitted: none when there are none.
std::vector<std::string> kzt_olmi_failed_text(std::span<const Index> failed, Index total);
// The same for INVALID rows, whose fit ended as no valid model.
std::vector<std::string> kzt_olmi_invalid_text(std::span<const Index> invalid, Index total);
// The same for the rows whose valid model holds a feature badly, by the rule
// that found each (DOUBTS, in OlmiDoubt bit order; a row may be under
// several): a row is named under what is wrong with it.
std::vector<std::string> kzt_olmi_doubtful_text(
    const std::array<std::vector<Index>, kOlmiDoubts>& doubts, Index total);
void KZT_OLMIOPTIMISE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                      std::span<const float> variances, std::span<const std::uint8_t> mask,
                      std::span<const float> x_axis, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, Index start_row, const std::string& title,
                      const OlmiControls& controls, const FitModel& start, KztVectors& vectors,
                      OlmiDisplay display, OlmiOutput* output, Status& status);

}  // namespace kesta
