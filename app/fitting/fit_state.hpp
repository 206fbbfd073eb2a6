#pragma once
// The fit controls and the state the FIT sub-menu keeps between calls.

#include <string>
#include <vector>

#include "app/fitting/model.hpp"

namespace kesta {

// The fit controls (SET UP) with their start values.
struct FitControls {
  bool weighted = false;
  float accuracy = 1.1f;
  float iterations = 11.5f;  // per parameter
  bool evolve = true;
  int display_frequency = 10;
  int continuation = 1;
  bool fast_display = false;
  int halt_criterion = 0;
  float halt_value = 0.0f;
  // Shown and toggled by SET UP only; no fit reads them.
  bool reverse = false;
  bool poisson = false;
  bool likelihood = false;
};

struct FitSession {
  FitModel model;
  FitControls controls;
  bool params_defined = false;
  bool results_defined = false;
  std::vector<std::string> result_text;
};

// MODEL becomes the HELD one: the results of the fit before (RESULTS_DEFINED,
// RESULT_TEXT) are of another model, and RESULTS would show them beside it.
inline void kzt_new_model(const FitModel& model, FitModel& held, bool& results_defined,
                          std::vector<std::string>& result_text) {
  held = model;
  results_defined = false;
  result_text.clear();
}

}  // namespace kesta
