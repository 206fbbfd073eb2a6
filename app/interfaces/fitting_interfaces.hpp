#pragma once
// The two fitting interfaces of the top menu: 2-D FITTING (one model of
// peaks and a background surface fitted to the image) and OLMI (one 1-D model
// fitted to every row in turn). Their fit state lasts the whole run.

#include <string>
#include <vector>

#include "app/fitting/model.hpp"
#include "app/fitting/olmi.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// What 2-D FITTING keeps between visits.
struct Fit2dInterfaceState {
  float itsperpar = 11.5f;  // iterations per parameter (2DFIT_ITERATIONS)
  float x_beam = 1000.0f;   // X_BEAM_CENTRE, Y_BEAM_CENTRE (pixels)
  float y_beam = 1000.0f;
  int display_frequency = 5;
  int fitting_info = 0;  // information level 0..2
  bool model_evolution = true;
  bool weighted_fit = false;
  bool params_exist = false;
  bool results_exist = false;
  FitModel model;
  std::vector<std::string> text;  // the result text of the last fit
  // Whether the current data and the memory are drawn with the mask.
  bool mask_data = true;
  bool mask_memory = false;
};
Fit2dInterfaceState& kzt_fit2d_interface_state();

// What the multiple 1-D fitting interface keeps between visits.
struct OlmiInterfaceState {
  OlmiControls controls{0, 11.5f, 5, true, false};
  bool first = true;  // the row-order note not yet shown in this run
  bool params_exist = false;
  bool results_exist = false;
  FitModel model;      // the start model, entered on one row
  Index model_row = 1;  // the row it was entered on
  FitModel fitted;     // the fit of that row, drawn by the composite display
  Index str_optimised = 1;
  Index end_optimised = 1;
  std::vector<std::string> text;
  bool mask_data = true;
  bool mask_memory = false;
};
OlmiInterfaceState& kzt_olmi_interface_state();

// KZT_GUI_2DFIT, KZT_GUI_OLMI: the interfaces on the program arrays.
void KZT_GUI_2DFIT(KztDataSets& sets, Status& status);
void KZT_GUI_OLMI(KztDataSets& sets, Status& status);

// The help texts of the two menus.
void KZT_GUI_2DFITHELP(bool gui, Status& status);
void KZT_GUI_OLMIHELP(bool gui, Status& status);

// SUBTRACT (ADD false) and ADD of both interfaces: the memory taken from (or
// added to) the current data over the active region, the memory variances
// added to the variances when they exist. Refused with a warning box (false,
// nothing changed) when the memory is not defined or does not cover the
// active region.
bool kzt_memory_combine(bool add, KztDataSets& sets, Status& status);

}  // namespace kesta
