#include "app/fitting/setup.hpp"

#include <algorithm>

#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"

namespace kesta {

namespace {

const std::string kSetupChoices[] = {
    "ACCURACY",       "CHANGE FIT ORDER",   "DISPLAY FREQUENCY",   "EXIT",
    "FAST DISPLAY",   "HALT CRITERION",     "MAXIMUM LIKELIHOOD",  "MODEL EVOLUTION",
    "NUMBER ITERATIONS", "POISSON STATISTICS", "REQUEST CONTINUATION", "VIEW",
    "WEIGHTED FIT"};
const std::string kSetupHelp[] = {
    "ACCURACY - Aimed accuracy in fit",
    "CHANGE FIT ORDER - Reverse order of frame fitting",
    "DISPLAY FREQUENCY - Frequency of graphical output",
    "EXIT - Exit from menu",
    "FAST DISPLAY - Minimal text or full text on graphs",
    "HALT CRITERION - Permature stopping of fit criteria",
    "MAXIMUM LIKELIHOOD - Fitting by Maximum Likelihood method",
    "MODEL EVOLUTION - Constant or evolving initial fit model",
    "NUMBER ITERATIONS - Number of iterations per fit parameter",
    "POISSON STATISTICS - Fitting using model derived weighting",
    "REQUEST CONTINUATION - at defined intervals during fitting",
    "VIEW - See values of all control parameters",
    "WEIGHTED FIT - Fit weighted by errors or unweighted"};

const std::string kEditChoices[] = {"EXIT", "MODIFY", "VIEW"};
const std::string kEditHelp[] = {"EXIT - Exit from menu", "MODIFY - Change parameter state",
                                 "VIEW - See all parameters and their states"};

// A toggle and the line that says what it now means.
void toggle(bool& flag, const char* on, const char* off, Status& status) {
  flag = !flag;
  IO_WRITE(flag ? on : off, status);
}

std::string scale_line(const FitModel& m, int i) {
  const std::size_t k = static_cast<std::size_t>(i - 1);
  return "PARAMETER NUMBER " + format_i(i, 3) + " " + m.names[k] + " Value = " +
         format_g(m.params[k], 12, 5) + "Scale = " + format_g(m.scales[k], 12, 5);
}

std::string constraint_line(const FitModel& m, int i) {
  const std::size_t k = static_cast<std::size_t>(i - 1);
  return "PARAMETER NUMBER " + format_i(i, 3) + " " + m.names[k] + " " +
         (m.constraints[k] ? "CONSTRAINED" : "UNCONSTRAINED") + " Value = " +
         format_g(m.params[k], 14, 5);
}

}  // namespace

bool kzt_weights_refused(bool variances_exist, Status& status) {
  if (variances_exist) return false;
  IO_WRITE(vosq_kzt_arrays.variances_removed ? kVariancesRemovedForWeights : kNoVariancesForWeights,
           status);
  return true;
}

std::vector<std::string> kzt_setup_view(const FitControls& c) {
  std::vector<std::string> v;
  v.push_back("ACCURACY : " + format_g(c.accuracy, 12, 5) +
              " (Average standard deviations per data point)");
  v.push_back("DISPLAY FREQUENCY : " + format_i(c.display_frequency, 6) +
              " (Frequency of graphical output)");
  v.push_back(c.fast_display
                  ? "FAST DISPLAY : TRUE (Minimal text will be added to fit graphical output)"
                  : "FAST DISPLAY : FALSE (Full text will be added to fit graphical output)");
  v.push_back(c.reverse ? "REVERSE : TRUE (Multiple frame  fitting in reverse order)"
                        : "REVERSE : FALSE (Multiple frame  fitting in normal order)");
  if (c.halt_criterion == 1) {
    v.push_back("HALT CRITERION : " + format_i(c.halt_criterion, 1) +
                " (Upper limit on goodness of fit)");
    v.push_back("HALT VALUE : " + format_g(c.halt_value, 12, 5) +
                " (Meaning defined by HALT CRITERION)");
  } else {
    v.push_back("HALT CRITERION : " + format_i(c.halt_criterion, 1) + " (No halt criterion)");
  }
  v.push_back(c.evolve ? "MODEL EVOLUTION : TRUE (Minimised parameters used for next fit)"
                       : "MODEL EVOLUTION : FALSE (Initial parameters used for all fits)");
  v.push_back("NUMBER ITERATIONS : " + format_g(c.iterations, 12, 5) +
              " (Per unconstrained parameter)");
  v.push_back(c.weighted ? "WEIGHTED FIT : TRUE (Fit weighted by error values)"
                         : "WEIGHTED FIT : FALSE (Fit unweighted)");
  v.push_back(c.poisson ? "POISSON STATISTICS : TRUE ( Model derived weighting)"
                        : "POISSON STATISTICS : FALSE ( Weighting by ERROR array)");
  v.push_back(c.likelihood ? "MAXIMUM LIKELIHOOD METHOD : TRUE (Applied to fitting)"
                           : "MAXIMUM LIKELIHOOD METHOD : FALSE (Fit by Least Squares Method)");
  v.push_back(c.continuation > 0
                  ? "User CONTINUATION prompts every " + format_i(c.continuation, 4) + " frames"
                  : std::string("No user CONTINUATION requests"));
  return v;
}

void KZT_SETUP(bool variances_exist, FitControls& controls, Status& status) {
  if (st_bad(status, "Subroutine KZT_SETUP V0.1")) return;
  FitControls& c = controls;
  std::string command = "VIEW";
  const int n = static_cast<int>(std::size(kSetupChoices));
  for (;;) {
    IO_MENU(true, "FITTING SETUP SUB-MENU: ENTER COMMAND", kSetupHelp, {"Enter one of the available commands"},
            n, kSetupChoices, command, status);
    if (status != kStatusGood) return;
    if (command == "null") continue;
    if (command == "EXIT") return;
    if (command == "ACCURACY") {
      IO_INPR(true, 1.0e-7f, 100.0f, true, "ACCURACY LEVEL",
              {"Required accuracy: 1.0 = An one sigma fit (on average) throughout",
               "the data region.  ( < 1.0 higher accuracy, closer fit to data",
               " > 1.0 Lower accuracy, looser fit to data )"},
              {"Must be within set limits"}, c.accuracy, status);
    } else if (command == "CHANGE FIT ORDER") {
      toggle(c.reverse, "Multiple frame fitting will now be in reverse order",
             "Multiple frame fitting will now be in normal order", status);
    } else if (command == "DISPLAY FREQUENCY") {
      IO_INPI(true, 0, 1024, true, "GRAPH FREQUENCY",
              {"How often should the result of the fit be displayed.", "(0 = No display)"},
              {"Must be within set limits"}, c.display_frequency, status);
    } else if (command == "FAST DISPLAY") {
      toggle(c.fast_display, "Minimal text will be added to fit graphical output",
             "Full text will be added to fit graphical output", status);
    } else if (command == "HALT CRITERION") {
      IO_INPI(true, 0, 1, true, "HALT CRITERION",
              {"What halt criterion do you want to use to permaturely stop the fitting",
               "0 = No halt criterion", "1 = Upper limit on goodness of fit"},
              {"Must be within set limits"}, c.halt_criterion, status);
      if (status == kStatusGood && c.halt_criterion == 1)
        IO_INPR(true, 1.0e-7f, 100.0f, true, "MAXIMUM GOOD FIT",
                {"Enter upper limit for the goodness of fit"}, {"Must be within set limits"},
                c.halt_value, status);
    } else if (command == "MAXIMUM LIKELIHOOD") {
      toggle(c.likelihood, "The Maximum Likelihood method (MLM) will be applied",
             "Least Squares fitting will be applied", status);
    } else if (command == "MODEL EVOLUTION") {
      c.evolve = !c.evolve;
      IO_WRITE(c.evolve ? "The minimised fit parameters for one will be used as the"
                        : "The user input fit parameters will be used as the",
               status);
      IO_WRITE(c.evolve ? "starting parameters for the next fit"
                        : "starting parameters for all the fits",
               status);
    } else if (command == "NUMBER ITERATIONS") {
      IO_INPR(true, 0.1f, 200.0f, true, "NUMBER PER PARAMETER",
              {"Maximum number of iterations per fit per unconstrained parameter"},
              {"Must be within set limits"}, c.iterations, status);
    } else if (command == "POISSON STATISTICS") {
      toggle(c.poisson,
             "Poissonian statistics will be taken into account by model derived weighting",
             "Gaussian statistics weighted by entered data errors", status);
    } else if (command == "REQUEST CONTINUATION") {
      IO_INPI(true, 0, 1024, true, "REQUEST INTERVAL",
              {"How many frames are to be fitted between continuation requests",
               "Return \"0\" for no requests"},
              {"Must be within defined limits"}, c.continuation, status);
    } else if (command == "VIEW") {
      IO_TEXT(kzt_setup_view(c), status);
    } else if (command == "WEIGHTED FIT") {
      if (c.weighted || !kzt_weights_refused(variances_exist, status))
        toggle(c.weighted, "Error weighting will now to be used for the fit minimisation",
               "No weighting will now to be used for the fit minimisation", status);
    } else {
      IO_WRITE("WARNING: Unknown command, please re-enter", status);
      continue;
    }
    if (status != kStatusGood) return;
    command = "EXIT";
  }
}

void KZT_SCALE(FitModel& model, Status& status) {
  if (st_bad(status, "Subroutine KZT_SCALE V0.1")) return;
  const int n = std::clamp(model.num_parameters, 0, kMaxFitParameters);
  std::string command = "VIEW";
  for (;;) {
    IO_MENU(true, "ENTER COMMAND", kEditHelp, {"Enter one of the available commands"}, 3,
            kEditChoices, command, status);
    if (status != kStatusGood) return;
    if (command == "null") continue;
    if (command == "EXIT") return;
    if (command == "VIEW") {
      std::vector<std::string> lines;
      for (int i = 1; i <= n; ++i) lines.push_back(scale_line(model, i));
      IO_TEXT(lines, status);
    } else if (command == "MODIFY") {
      int number = 0;
      IO_INPI(true, 0, n, true, "PARAMETER NUMBER",
              {"Enter number of parameter to be modified,",
               "(0 if no parameter is to be modified)"},
              {"Must be within set bounds"}, number, status);
      if (status != kStatusGood) return;
      if (number > 0) {
        IO_WRITE(scale_line(model, number), status);
        const float held = model.scales[static_cast<std::size_t>(number - 1)];
        float scale = held;
        // A zero scale would stop the fit; a free parameter needs a change size.
        // Asked again, the scale held is offered, not the refused 0.0.
        for (;;) {
          IO_INPR(false, 0.0f, 0.0f, true, "NEW SCALE SIZE", {"Enter typical change size"},
                  {"Enter valid real number"}, scale, status);
          if (status != kStatusGood) return;
          if (scale != 0.0f) break;
          IO_WRITE("WARNING: The scale size must not be 0.0", status);
          scale = held;
        }
        model.scales[static_cast<std::size_t>(number - 1)] = scale;
      }
    } else {
      IO_WRITE("WARNING: Unknown command, please re-enter", status);
      continue;
    }
    if (status != kStatusGood) return;
  }
}

void KZT_CONSTRAIN(FitModel& model, Status& status) {
  if (st_bad(status, "Subroutine KZT_CONSTRAIN V0.1")) return;
  const int n = std::clamp(model.num_parameters, 0, kMaxFitParameters);
  std::string command = "VIEW";
  for (;;) {
    IO_MENU(true, "Contraints sub-menu: enter command", kEditHelp,
            {"Enter one of the available commands"}, 3, kEditChoices, command, status);
    if (status != kStatusGood) return;
    if (command == "null") continue;
    if (command == "EXIT") return;
    if (command == "VIEW") {
      if (n < 1) continue;
      int low = 1, high = n;
      IO_INPI(true, 1, n, true, "LOWEST PARAMETER NUMBER TO VIEW",
              {"Enter number of lowest parameter to view"}, {"Must be within set bounds"}, low,
              status);
      if (status != kStatusGood) return;
      IO_INPI(true, low, n, true, "HIGHEST PARAMETER NUMBER TO VIEW",
              {"Enter number of highest parameter to view"}, {"Must be within set bounds"}, high,
              status);
      if (status != kStatusGood) return;
      std::vector<std::string> lines;
      for (int i = low; i <= high; ++i) lines.push_back(constraint_line(model, i));
      IO_TEXT(lines, status);
    } else if (command == "MODIFY") {
      int low = 0;
      IO_INPI(true, 0, n, true, "LOWEST PARAMETER NUMBER TO MODIFY",
              {"Enter number of lowest parameter to be modified (0 for no modification)"},
              {"Must be within set bounds"}, low, status);
      if (status != kStatusGood) return;
      if (low == 0) continue;
      int high = low;
      IO_INPI(true, 0, n, true, "HIGHEST PARAMETER NUMBER TO MODIFY",
              {"Enter number of highest parameter to be modified (0 for no modification)"},
              {"Must be within set bounds"}, high, status);
      if (status != kStatusGood) return;
      if (high == 0) continue;
      if (high < low) std::swap(low, high);
      IO_WRITE(constraint_line(model, low), status);
      const std::size_t first = static_cast<std::size_t>(low - 1);
      std::string choice = model.constraints[first] ? "UNCONSTRAIN" : "CONSTRAIN";
      static const std::string kChoices[] = {"CONSTRAIN", "SET", "UNCONSTRAIN"};
      IO_MENU(true, "ENTER MODIFICATION",
              {"Enter one of the avialable choices",
               "CONSTRAIN - Constrain value to a constant value", "SET - Set to new value",
               "UNCONSTRAIN - Allow value to be varied"},
              {"Enter one of the avialable choices"}, 3, kChoices, choice, status);
      if (status != kStatusGood) return;
      if (choice == "SET") {
        float value = model.params[first];
        IO_INPR(false, 0.0f, 0.0f, true, "ENTER NEW PARAMETER VALUE",
                {"Enter new value for parameter"}, {"Enter valid number"}, value, status);
        if (status != kStatusGood) return;
        for (int i = low; i <= high; ++i) model.params[static_cast<std::size_t>(i - 1)] = value;
      } else if (choice == "CONSTRAIN" || choice == "UNCONSTRAIN") {
        for (int i = low; i <= high; ++i)
          model.constraints[static_cast<std::size_t>(i - 1)] = choice == "CONSTRAIN";
      }
    } else {
      IO_WRITE("WARNING: Unknown command, please type again", status);
      continue;
    }
    if (status != kStatusGood) return;
  }
}

}  // namespace kesta
