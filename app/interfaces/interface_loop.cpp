#include "app/interfaces/interface_loop.hpp"

#include "app/diffraction/beam_centre.hpp"
#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/main/kzt_common.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/reader.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"

namespace kesta {

void menu_list_lines(MenuPass& pass, Status& status) {
  const int num = static_cast<int>(pass.help.size());
  GS_MESSAGE(num, num, pass.help, status);
}

namespace menu_loop {

bool entry_refused(std::string_view position, bool uses_mask, KztDataSets& sets, Status& status) {
  if (st_bad(status, position)) return true;
  const KztArrays& a = vosq_kzt_arrays;
  if (const Status code = dimension_error(a.xmaxdat, a.ymaxdat, kBaseApp); code != 0) {
    st_fail(status, code, position);
    return true;
  }
  if (uses_mask) {
    kzt_create_mask(sets.mask_exist, status);
    if (status != kStatusGood) return true;
  }
  return false;
}

GsDisplayedImage current(const KztDataSets& sets, bool uses_mask) {
  return kzt_current_image(sets, uses_mask);
}

void draw_data_or_welcome(const GsDisplayedImage& im, bool shows_data,
                          std::span<const std::string> welcome, WelcomePlace place,
                          MenuPass& pass, Status& status) {
  if (shows_data && pass.sets.data_defined) {
    if (im.mask_data) {
      GS_MPLOT(true, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
               im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
               status);
      pass.plot_type = "masked_image";
    } else {
      GS_PLOT(im.xmaxdat, im.ymaxdat, im.data, im.xaxis, im.yaxis, im.xstrelm, im.ystrelm,
              im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
      pass.plot_type = "image";
    }
    return;
  }
  if (welcome.empty()) return;
  const int num = static_cast<int>(welcome.size());
  if (place == WelcomePlace::kPage) {
    GS_PPROMPT(num, num, welcome, status);
    return;
  }
  float xmin = 0.0f, ymin = 0.0f, xmax = 1.0f, ymax = 1.0f;
  if (place == WelcomePlace::kUpperMessageHalf) {
    GS_INQ_MESSAGE(xmin, ymin, xmax, ymax, status);
    ymin = (ymin + ymax) / 2.0f;
  } else {
    message_above_menu(xmin, ymin, xmax, ymax, status);
  }
  GS_PROMPT(false, num, num, welcome, xmin, ymin, xmax, ymax, status);
}

void message_above_menu(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  GS_INQ_MESSAGE(xmin, ymin, xmax, ymax, status);
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  if (gy1 <= ymin && gy2 > ymin && gy2 < ymax) ymin = gy2;
}

void draw_menu(const MenuLayout& layout, std::span<const std::string> titles, MenuPlace place,
               const std::vector<std::string>& buttons, std::string_view name, Status& status) {
  GS_SET_MENULAYOUT(layout.fill_order, layout.across, layout.title_width, layout.button_width,
                    status);
  const int num_titles = static_cast<int>(titles.size());
  const int num = static_cast<int>(buttons.size());
  if (place == MenuPlace::kGuiRegion) {
    GS_FMENU(std::max(num_titles, 1), num_titles, titles, num, num, buttons, status);
    gs_name_drawn_menu(name);
    return;
  }
  float xmin = 0.0f, ymin = 0.0f, xmax = 1.0f, ymax = 1.0f;
  GS_INQ_MESSAGE(xmin, ymin, xmax, ymax, status);
  ymax = (ymin + ymax) / 2.0f;
  GS_MENU(std::max(num_titles, 1), num_titles, titles, num, num, buttons, xmin, ymin, xmax, ymax,
          status);
  gs_name_drawn_menu(name);
}

bool wait(const std::vector<std::string>& buttons, int& input_type, std::string& command,
          float& x, float& y, Status& status, int input_mode, bool escape_asks_again,
          bool* macro_ended) {
  if (status != kStatusGood) return false;
  const int num = static_cast<int>(buttons.size());
  {
    const GsMacroEndHandedOn handed_on;
    GS_INP_MENUCHOICE(num, num, buttons, input_mode, input_type, command, x, y, status);
  }
  if (status == kStatusConsumed) {
    // A macro ended at the menu: the menu is shown again for the window (an
    // assignment is no choice either).
    if (macro_ended != nullptr && io_macro_ended(status)) *macro_ended = true;
    ST_DEF_SYSTEM(status);
    input_type = kGsChoiceRedraw;
  }
  if (status == kStatusEscape) {
    ST_DEF_SYSTEM(status);
    // A lost window or the escape typed leaves the choice to be made again,
    // typed (at the terminal once the window has gone). At the end of the
    // input, or from a window that cannot be read, nothing more can come.
    if (escape_asks_again && gs_typed_answers() && !io_input_ended()) {
      input_type = kGsChoiceRedraw;
      return true;
    }
    return false;
  }
  if (status != kStatusGood) return false;
  return true;
}

void click(const GsDisplayedImage& im, MenuPass& pass, bool shows_data, float x, float y,
           Status& status) {
  pass.redraw_image = pass.redraw_menu = false;
  if (!shows_data) {
    // Beside the buttons of a menu without data: the menu is shown again.
    pass.redraw_image = pass.redraw_menu = true;
    return;
  }
  if (!pass.sets.data_defined) return;
  KZT_CLICK(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.xaxis,
            im.yaxis, im.data, im.title, im.xlabel, im.ylabel, im.zlabel, x, y,
            pass.sets.x_pixel_size, pass.sets.y_pixel_size, pass.redraw_image, pass.redraw_menu,
            status);
}

bool refused(unsigned needs, std::string_view button, const KztDataSets& sets, Status& status) {
  if ((needs & kMenuNeedsData) != 0 && !sets.data_defined) {
    gs_refusal({"DATA NEEDED, BUT NONE IS DEFINED"}, status);
    return true;
  }
  if ((needs & kMenuNeedsImage) != 0 && sets.data_defined &&
      kzt_scan_refused(true, vosq_kzt_arrays.ynumdat, button, status))
    return true;
  if ((needs & kMenuNeedsMemory) != 0 && !sets.memory_exist) {
    gs_refusal({"MEMORY DOES NOT EXIST"}, status);
    return true;
  }
  if ((needs & kMenuNeedsGraphics) != 0 && !sets.graphics_on) {
    IO_WRITE("WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA",
             status);
    return true;
  }
  return false;
}

void usable_extent(const KztDataSets& sets) {
  if (sets.data_defined) return;
  KztArrays& a = vosq_kzt_arrays;
  const bool extent_inside =
      a.xnumdat >= 1 && a.ynumdat >= 1 && a.xnumdat <= a.xmaxdat && a.ynumdat <= a.ymaxdat;
  if (extent_inside &&
      region_error(a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, 0) == 0)
    return;
  kzt_undefined_extent(a);
}

void not_available(std::string_view button, Status& status) {
  kzt_not_available(button, status);
}

void macro_ended_here(std::string_view chosen, std::string_view menu) {
  if (!chosen.empty()) return;
  io_end_sequence(menu.empty() ? std::string("its macro ended at a graphical menu")
                               : "its macro ended at the graphical menu " + std::string(menu));
}

bool macro_ended_in_choice(std::string_view chosen) {
  return chosen.empty() && io_sequence_driver() != SequenceDriver::kNone;
}

void macro_ended_at_question(std::string_view button, Status& status) {
  st_reset(status);
  io_end_sequence(button.empty() ? std::string("its macro ended at a question of a choice")
                                 : "its macro ended at a question of " + std::string(button));
}

namespace {
// The button of the choice running in the innermost menu ("" outside one).
std::string running_choice;
}  // namespace

std::string menu_name(std::span<const std::string> titles) {
  if (!running_choice.empty()) return running_choice;
  return titles.empty() ? std::string() : titles.front();
}

RunningChoice::RunningChoice(std::string_view button) : before_(running_choice) {
  running_choice = button;
}
RunningChoice::~RunningChoice() { running_choice = before_; }

bool status_goes_on(bool asks_reset, Status& status) {
  if (status == kStatusEscape || status == kStatusConsumed) ST_DEF_SYSTEM(status);
  if (status == kStatusGood) return true;
  if (!asks_reset) return false;
  ST_OUT(status);
  Status local = kStatusGood;
  bool reset = true;
  do {
    GS_INPL(false, false, false, true, "Bad \"status\": RESET \"status\" ?",
            {"YES: to reset \"status\" value, other exit program"}, {"Enter YES or NO"}, reset,
            local);
  } while (io_ask_again(local));
  // The end of the input keeps the proposed YES: the next wait then ends.
  if (!reset) return false;
  ST_DEF_SYSTEM(status);
  return true;
}

}  // namespace menu_loop
}  // namespace kesta
