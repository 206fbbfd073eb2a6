#include "app/fitting/floor_widths.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/io_output.hpp"

namespace kesta {

namespace {

bool is_height(const WidthRules& rules, int code) {
  return rules.is_height != nullptr && rules.is_height(code_type(code), code_parameter(code));
}

// The free widths of MODEL at or below the floor, or flat, in PARAMS, added
// to STUCK once each; with HEIGHTS, the free heights at or below the floor
// too.
void add_stuck(const FitModel& model, const WidthRules& rules, std::span<const float> params,
               bool heights, std::vector<std::size_t>& stuck) {
  const std::size_t n =
      std::min(params.size(), static_cast<std::size_t>(
                                  std::clamp(model.num_parameters, 0, kMaxFitParameters)));
  for (std::size_t k = 0; k < n; ++k) {
    const int code = model.codes[k];
    if (model.constraints[k]) continue;
    bool held = false;
    if (is_height(rules, code))
      held = heights && params[k] <= kWidthFloor;
    else if (rules.is_width(code_type(code), code_parameter(code)))
      held = params[k] <= kWidthFloor || (rules.flat && rules.flat(model, params, k));
    if (held && std::find(stuck.begin(), stuck.end(), k) == stuck.end()) stuck.push_back(k);
  }
}

}  // namespace

std::vector<std::size_t> kzt_stuck_widths(const FitModel& model, const WidthRules& rules,
                                          std::span<const float> start,
                                          std::span<const float> end, bool ended) {
  std::vector<std::size_t> stuck;
  add_stuck(model, rules, end, ended, stuck);
  add_stuck(model, rules, start, false, stuck);
  return stuck;
}

void kzt_free_widths(const FitModel& model, const WidthRules& rules,
                     std::span<const std::size_t> stuck, std::span<const float> start,
                     std::span<float> params) {
  for (const std::size_t k : stuck) {
    if (k >= params.size()) continue;
    if (is_height(rules, model.codes[k])) {
      const int feature = code_feature(model.codes[k]);
      for (std::size_t i = 0; i < params.size() && i < start.size(); ++i)
        if (!model.constraints[i] && code_feature(model.codes[i]) == feature) params[i] = start[i];
      continue;
    }
    if (rules.spread != nullptr && rules.spread(model, k, params)) continue;
    // A start the model does not move with (a peak clicked with its half
    // height on its top, in one screen pixel) would only stick again.
    const float from = k < start.size() ? start[k] : 0.0f;
    if (from > kWidthFloor && std::isfinite(from) && !(rules.flat && rules.flat(model, start, k)))
      params[k] = from;
    else if (!rules.shown || !rules.shown(model, k, params))
      params[k] = std::fabs(model.scales[k]);
  }
}

ModelFitEnd kzt_fit_freeing_widths(const FitModel& model, const WidthRules& rules,
                                   std::span<float> params,
                                   const std::function<ModelFitEnd(std::span<float>)>& fit_once,
                                   Status& status) {
  const std::vector<float> start(params.begin(), params.end());
  // A width the model does not move with where the fit starts (a peak
  // clicked with no width) starts freed: a fit from there would move the
  // peak's other parameters at random, even off the data. A width the rules
  // spread (a Voigt's, whose model stays smooth as it leaves the floor) is
  // fitted from where it starts first.
  std::vector<std::size_t> held = kzt_stuck_widths(model, rules, start, start, false);
  std::erase_if(held, [&](std::size_t k) {
    std::vector<float> spread(start);
    return rules.spread != nullptr && rules.spread(model, k, spread);
  });
  kzt_free_widths(model, rules, held, start, params);
  ModelFitEnd best = fit_once(params);
  // A fit held by a stuck width may spend its calls where the model is flat:
  // a refit that converges below it stands.
  if (best.end_code > 0 && best.end_code != kOutOfCalls) return best;
  int calls = best.num_calls;
  std::vector<std::size_t> stuck = kzt_stuck_widths(model, rules, start, params);
  for (int round = 0; round < kFreeingRounds && !stuck.empty(); ++round) {
    std::vector<float> again(params.begin(), params.end());
    kzt_free_widths(model, rules, stuck, start, again);
    const auto run = [&](std::vector<std::string>& lines) {
      IoHeldLines hold;
      const ModelFitEnd end = fit_once(std::span<float>(again));
      calls += end.num_calls;
      lines = hold.lines();
      return end;
    };
    std::vector<std::string> lines;
    ModelFitEnd next = run(lines);
    if (next.end_code == kOutOfCalls && next.sum_squares < best.sum_squares) next = run(lines);
    if (next.end_code > 0 || !(next.sum_squares < best.sum_squares)) break;
    io_write_lines(lines, status);
    std::copy(again.begin(), again.end(), params.begin());
    best = next;
    stuck = kzt_stuck_widths(model, rules, params, params);
  }
  best.num_calls = calls;
  return best;
}

}  // namespace kesta
