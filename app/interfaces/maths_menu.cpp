// The maths sub-menu and the interactive scaled subtraction.

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/memory_arithmetic.hpp"
#include "app/imageops/statistics_commands.hpp"
#include "app/imageops/value_arithmetic.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

KztArrays& arrays() { return vosq_kzt_arrays; }

// ---- MATHS ----

// The constants offered next time (the last ones entered).
struct MathsConstants {
  float addition_constant = 1.0f;
  float division_constant = 0.5f;
  float multiple_constant = 2.0f;
};

struct MathsMenu {};

void ask_constant(std::string_view prompt, std::string_view help, float& value,
                  Status& status) {
  GS_INPR(false, 0.0f, 0.0f, true, prompt, {std::string(help)}, {"Enter real number"}, value,
          status);
}

void run_scalar_add(MenuPass&, MathsMenu&, Status& status) {
  MathsConstants c = remembered<MathsConstants>();
  ask_constant("ADDITION CONSTANT", "Enter value to add to active data region",
               c.addition_constant, status);
  if (status != kStatusGood) return;
  remembered<MathsConstants>() = c;
  const KztArrays& a = arrays();
  if (c.addition_constant != 0.0f)
    MA_RCADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             c.addition_constant, kzt_image(a.data), status);
}

// DATA x FACTOR, the variances x FACTOR^2.
void scale_region(const KztDataSets& sets, float factor, Status& status) {
  const KztArrays& a = arrays();
  MA_RCMULT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, factor,
            kzt_image(a.data), status);
  if (sets.variances_exist)
    MA_RCMULT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, factor * factor,
              kzt_image(a.variances), status);
}

void run_scalar_divide(MenuPass& pass, MathsMenu&, Status& status) {
  MathsConstants c = remembered<MathsConstants>();
  ask_constant("DIVISION CONSTANT", "Enter value to divide active data region",
               c.division_constant, status);
  if (status != kStatusGood) return;
  remembered<MathsConstants>() = c;
  if (c.division_constant == 0.0f) {
    gs_refusal({"NOT POSSIBLE TO DIVIDE BY ZERO"}, status);
    return;
  }
  if (c.division_constant != 1.0f) scale_region(pass.sets, 1.0f / c.division_constant, status);
}

void run_scalar_multiply(MenuPass& pass, MathsMenu&, Status& status) {
  MathsConstants c = remembered<MathsConstants>();
  ask_constant("MULTIPLICATION CONSTANT", "Enter value to multiple active data region",
               c.multiple_constant, status);
  if (status != kStatusGood) return;
  remembered<MathsConstants>() = c;
  scale_region(pass.sets, c.multiple_constant, status);
}

// The memory must hold data over the whole active data region.
bool memory_refused(const KztDataSets& sets, Status& status) {
  const KztArrays& a = arrays();
  if (!sets.memory_exist || !sets.memory_defined || a.mdata == nullptr) {
    gs_refusal({"MEMORY NOT DEFINED"}, status);
    return true;
  }
  if (a.xendelm > sets.mxnumdat || a.yendelm > sets.mynumdat) {
    gs_refusal({"MEMORY DEFINED, BUT NOT IN WHOLE OF ADR"}, status);
    return true;
  }
  return false;
}

void run_add(MenuPass& pass, MathsMenu&, Status& status) {
  if (!memory_refused(pass.sets, status))
    kzt_combine_memory(MemoryOperation::kAdd, pass.sets.variances_exist, status);
}

void run_subtract(MenuPass& pass, MathsMenu&, Status& status) {
  if (!memory_refused(pass.sets, status))
    kzt_combine_memory(MemoryOperation::kSubtract, pass.sets.variances_exist, status);
}

void run_multiply(MenuPass& pass, MathsMenu&, Status& status) {
  if (!memory_refused(pass.sets, status))
    kzt_combine_memory(MemoryOperation::kMultiply, pass.sets.variances_exist, status);
}

void run_divide(MenuPass& pass, MathsMenu&, Status& status) {
  if (memory_refused(pass.sets, status)) return;
  KztArrays& a = arrays();
  KZT_DIVIDE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             pass.sets.variances_exist, kzt_image(a.mdata), kzt_image(a.mvariances),
             kzt_image(a.data), kzt_image(a.variances), status);
}

void run_logarithm(MenuPass& pass, MathsMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_LOGARITHM(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                pass.sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void run_normalise(MenuPass& pass, MathsMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_NORMALISE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                pass.sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void run_statistics(MenuPass& pass, MathsMenu&, Status& status) {
  const KztArrays& a = arrays();
  const KztDataSets& s = pass.sets;
  KZT_GSTATISTICS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), s.title, s.xlabel,
                  s.ylabel, s.zlabel, status);
}

void run_threshold(MenuPass&, MathsMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_THRESHOLD(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), status);
}

void run_power(MenuPass& pass, MathsMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_POWER(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            pass.sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void run_scaled_sub(MenuPass& pass, MathsMenu&, Status& status) {
  if (memory_refused(pass.sets, status)) return;
  KZT_GUI_SCALEDSUB(pass.sets, status);
}

void run_maths_help(MenuPass&, MathsMenu&, Status& status) {
  GS_MESSAGE(3, 3,
             {"     Welcome to the KESTA  Mathematical operations menu.", "",
              "The commands here allow you to perform maths operations."},
             status);
}

// The caller's display stays on entry; only the menu is drawn.
void enter_maths(MenuPass& pass, MathsMenu&, Status&) { pass.redraw_image = false; }

using MathsRow = MenuRow<MathsMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;

const MathsRow kMathsRows[] = {
    {"EXIT", "EXIT: Exit KESTA", 0, MenuRedraw::kNothing, menu_exit<MathsMenu>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<MathsMenu>},
    {"HELP", "HELP: Help text on this grphical menu", 0, kAll, run_maths_help},
    {"SCALAR +", "SCALAR +: Add a constant to all active data region elements", 0, kAll,
     run_scalar_add},
    {"SCALAR /", "SCALAR /: Divide all ADR elements by a constant", 0, kAll, run_scalar_divide},
    {"SCALAR *", "SCALAR *: Multiply all ADR elements by a constant", 0, kAll,
     run_scalar_multiply},
    {"ADD", "ADD: Add memory data to current image throughout ADR", 0, kAll, run_add},
    {"DIVIDE", "DIVIDE: Divide current image by memory data throughout ADR", 0, kAll,
     run_divide},
    {"LOG(10)", "LOG(10): Take logarithm, base 10, of data throughout ADR", 0, kAll,
     run_logarithm},
    {"MULTIPLY", "MULTIPLY: Multiple image by memory data throughout ADR", 0, kAll,
     run_multiply},
    {"NORMALISE", "NORMALISE: Normalise ADR; divide by maximum value within ADR", 0, kAll,
     run_normalise},
    {"STATISTICS", "STATISTICS: Integration statistics, average, sigma etc.", 0, kAll,
     run_statistics},
    {"SUBTRACT", "SUBTRACT: Subtract memory data from current image in ADR", 0, kAll,
     run_subtract},
    {"THRESHOLD", "THRESHOLD: Set minimum and/or maximum values in ADR", 0, kAll,
     run_threshold},
    {"X^(n)", "X^(n): Raise elements to a required power", 0, kAll, run_power},
    {"SCALED SUB", "SCALED SUB: Interactive adjustment of scaled subtraction", 0, kAll,
     run_scaled_sub},
};
static_assert(std::size(kMathsRows) == 16);

// ---- SCALED SUB ----

// The factor offered next time when the defaults hold none.
struct ScaledSubFactor {
  float scale_factor = 1.0f;
};

struct ScaledSub {
  float factor = 1.0f;
  Index xstrelm = 1, ystrelm = 1, work_x = 1, work_y = 1;
  std::vector<float> work;
  std::string title[1];
  bool applied = false;
};

void set_title(ScaledSub& s) { s.title[0] = "SCALE FACTOR = " + format_g(s.factor, 14, 7); }

GsDisplayedImage work_image(const MenuPass& pass, const ScaledSub& s) {
  const KztArrays& a = arrays();
  GsDisplayedImage im;
  im.xmaxdat = s.work_x;
  im.ymaxdat = s.work_y;
  im.xstrelm = im.ystrelm = 1;
  im.xendelm = s.work_x;
  im.yendelm = s.work_y;
  im.data = s.work;
  im.xaxis = kzt_xline(a.xaxis).subspan(static_cast<std::size_t>(s.xstrelm - 1), s.work_x);
  im.yaxis = kzt_yline(a.yaxis).subspan(static_cast<std::size_t>(s.ystrelm - 1), s.work_y);
  im.title = pass.sets.title;
  im.xlabel = pass.sets.xlabel;
  im.ylabel = pass.sets.ylabel;
  im.zlabel = pass.sets.zlabel;
  return im;
}

void draw_work(MenuPass& pass, ScaledSub& s, Status& status) {
  const KztArrays& a = arrays();
  KZT_SCALEDBIS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, s.factor,
                kzt_image(a.data), kzt_image(a.mdata), s.work_x, s.work_y, s.work);
  const GsDisplayedImage im = work_image(pass, s);
  GS_PLOT(im.xmaxdat, im.ymaxdat, im.data, im.xaxis, im.yaxis, 1, 1, im.xendelm, im.yendelm,
          im.title, im.xlabel, im.ylabel, im.zlabel, status);
  pass.plot_type = "image";
}

void ask_factor(float& factor, Status& status) {
  GS_INPR(true, -1.7e38f, 1.7e38f, true, "SCALE FACTOR APPLIED TO MEMORY PRIOR TO SUBTRACTION",
          {"Enter the scale factor to be applied to the data in the",
           "memory prior to the result being subtracted from the data",
           "in the current (displayed) image"},
          {"Enter value within given range"}, factor, status);
}

void run_ok(MenuPass& pass, ScaledSub& s, Status& status) {
  const KztArrays& a = arrays();
  // The work image holds the last factor's result only when it was drawn
  // with that factor; compute it once more so O.K. applies what is shown.
  KZT_SCALEDBIS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, s.factor,
                kzt_image(a.data), kzt_image(a.mdata), s.work_x, s.work_y, s.work);
  MA_RMOVE(s.work_x, s.work_y, s.work, 1, 1, s.work_x, s.work_y, a.xmaxdat, a.ymaxdat, a.xstrelm,
           a.ystrelm, kzt_image(a.data), status);
  if (status != kStatusGood) return;
  s.applied = true;
  int retstat = 0;
  IO_SET_RKEYVALUE("MATHS_SUB_SCALE_FACTOR", s.factor, retstat, status);
  remembered<ScaledSubFactor>().scale_factor = s.factor;
  menu_exit(pass, s, status);
}

void run_factor(MenuPass&, ScaledSub& s, Status& status) {
  float factor = s.factor;
  ask_factor(factor, status);
  if (status != kStatusGood) return;
  s.factor = factor;
  set_title(s);
}

void run_step(MenuPass& pass, ScaledSub& s, Status&) {
  kzt_scaled_step(pass.choice, s.factor);
  set_title(s);
}

void run_zscaling(MenuPass& pass, ScaledSub& s, Status& status) {
  const GsDisplayedImage im = work_image(pass, s);
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, {}, im.xaxis, im.yaxis, 1, 1, im.xendelm,
                 im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, false, 0.0f, 0.0f,
                 status);
  pass.redraw_image = false;
}

void run_scaledsub_help(MenuPass&, ScaledSub&, Status& status) {
  KZT_GUI_SCALEDSUBHELP(true, status);
}

using SubRow = MenuRow<ScaledSub>;

const SubRow kSubRows[] = {
    {"O.K.", "O.K.: Apply current scaled subtraction to data", 0, MenuRedraw::kNothing, run_ok},
    {"CANCEL", "CANCEL: Cncel operation with no subtraction", 0, MenuRedraw::kNothing,
     menu_exit<ScaledSub>},
    {"FACTOR", "FACTOR: Enter new scale factor manually", 0, kAll, run_factor},
    {"Z-SCALING", "Z-SCALING: Automatic or user control of intensity display range", 0,
     MenuRedraw::kMenu, run_zscaling},
    {"?", "?: This help text on the available menu choices", 0, kAll, menu_list<ScaledSub>},
    {"INCREASE 1%", "INCREASE 1%: Increase scale factor applied to subtracted image", 0, kAll,
     run_step},
    {"INCREASE 10%", "INCREASE 10%: Increase scale factor applied to subtracted image", 0, kAll,
     run_step},
    {"INCREASE 50%", "INCREASE 50%: Increase scale factor applied to subtracted image", 0, kAll,
     run_step},
    {"HELP", "HELP: Help text on using this graphical menu", 0, kAll, run_scaledsub_help},
    {"DECREASE 1%", "DECREASE 1%: Decrease scale factor applied to subtracted image", 0, kAll,
     run_step},
    {"DECREASE 9%", "DECREASE 9%: Decrease scale factor applied to subtracted image", 0, kAll,
     run_step},
    {"DECREASE 33%", "DECREASE 33%: Decrease scale factor applied to subtracted image", 0, kAll,
     run_step},
};
static_assert(std::size(kSubRows) == 12);

}  // namespace

void KZT_SCALEDBIS(Index xmaxdat, Index, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float factor, std::span<const float> data,
                   std::span<const float> mdata, Index work_x, Index,
                   std::span<float> work) {
  const Index n = xendelm - xstrelm + 1;
  if (yendelm < ystrelm || n < 1) return;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const Index offset = (y - 1) * xmaxdat + (xstrelm - 1);
    const float* __restrict d = data.data() + offset;
    const float* __restrict m = mdata.data() + offset;
    float* __restrict w = work.data() + (y - ystrelm) * work_x;
    for (Index i = 0; i < n; ++i) w[i] = d[i] - factor * m[i];
  }
}

bool kzt_scaled_step(std::string_view button, float& factor) {
  struct Step {
    std::string_view button;
    float by;
    bool increase;
  };
  // The decreases divide by the increases' factors ("DECREASE 9%" is 1/1.1).
  static constexpr Step kSteps[] = {
      {"INCREASE 1%", 1.01f, true},   {"INCREASE 10%", 1.1f, true},
      {"INCREASE 50%", 1.5f, true},   {"DECREASE 1%", 1.01f, false},
      {"DECREASE 9%", 1.1f, false},   {"DECREASE 33%", 1.5f, false},
  };
  for (const Step& step : kSteps) {
    if (step.button != button) continue;
    factor = step.increase ? factor * step.by : factor / step.by;
    return true;
  }
  return false;
}

void KZT_GUI_MATHS(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_MATHS V0.5";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = arrays();
  if (kzt_region_refused(kPosition, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                         a.yendelm, status, {}))
    return;
  InterfaceTable<MathsMenu> table;
  table.position = kPosition;
  table.rows = kMathsRows;
  table.layout = {1, 4, 12, 9};
  table.enter = enter_maths;
  MathsMenu menu;
  kzt_interface(table, sets, menu, status);
}

void KZT_GUI_SCALEDSUB(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_SCALEDSUB V0.3";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = arrays();
  if (kzt_region_refused(kPosition, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                         a.yendelm, status, {}))
    return;
  if (a.mdata == nullptr) {
    gs_refusal({"MEMORY NOT DEFINED"}, status);
    return;
  }
  ScaledSub s;
  s.factor = remembered<ScaledSubFactor>().scale_factor;
  {
    float stored = s.factor;
    int retstat = 0;
    IO_INQ_RKEYVALUE("MATHS_SUB_SCALE_FACTOR", stored, retstat, status);
    if (status != kStatusGood) return;
    if (retstat == 0 && std::isfinite(stored)) s.factor = stored;
  }
  s.xstrelm = a.xstrelm;
  s.ystrelm = a.ystrelm;
  s.work_x = a.xendelm - a.xstrelm + 1;
  s.work_y = a.yendelm - a.ystrelm + 1;
  try {
    s.work.resize(static_cast<std::size_t>(s.work_x) * static_cast<std::size_t>(s.work_y));
  } catch (const std::bad_alloc&) {
    gs_refusal({"Failed to allocate temporary memory"}, status);
    return;
  }
  ask_factor(s.factor, status);
  if (status != kStatusGood) {
    // An escape at the first question leaves everything as it was.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    return;
  }
  set_title(s);
  InterfaceTable<ScaledSub> table;
  table.position = kPosition;
  table.rows = kSubRows;
  table.layout = {0, 4, 32, 14};
  table.titles = s.title;
  table.draw = draw_work;
  table.image = work_image;
  table.help_text = KZT_GUI_SCALEDSUBHELP;
  kzt_interface(table, sets, s, status);
}

}  // namespace kesta
