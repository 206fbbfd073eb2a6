// Small menus built on the choice reader: a list of the caller's choices
// with CANCEL, "?" and HELP, and the fixed pick lists drawn over a form
// (data type, scan type, drawing colour), which leave the form's menu record
// as they found it.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

// The menu in the GUI region with layout FILL, ACROSS, title and button widths.
void draw_in_gui(int fill, int across, int title_width, int button_width,
                 std::span<const std::string> title, std::span<const std::string> buttons, Status& status) {
  GS_SET_MENULAYOUT(fill, across, title_width, button_width, status);
  GS_FMENU(std::max(static_cast<int>(title.size()), 1), static_cast<int>(title.size()), title,
           static_cast<int>(buttons.size()), static_cast<int>(buttons.size()), buttons, status);
}

// Waits for a button of BUTTONS; a redraw request or a help button redraws
// through DRAW. "?" shows OWN_HELP, "HELP" CALLER_HELP. Returns the button
// text, empty when the wait ended otherwise.
template <typename Draw>
std::string pick(std::span<const std::string> buttons, std::span<const std::string> own_help,
                 std::span<const std::string> caller_help, int mode,
                 bool& shown, Draw draw, Status& status) {
  while (status == kStatusGood) {
    draw();
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(static_cast<int>(buttons.size()), static_cast<int>(buttons.size()), buttons,
                      mode, type, command, x, y, status);
    if (status != kStatusGood) break;
    if (type != kGsChoiceButton) continue;
    const std::string_view c(command.data(), static_cast<std::size_t>(SLEN(command)));
    if (c == "?" || c == "HELP") {
      const std::span<const std::string> lines = c == "?" ? own_help : caller_help;
      const int n = static_cast<int>(lines.size());
      GS_MESSAGE(std::max(n, 1), n, lines, status);
      shown = true;
      continue;
    }
    return std::string(c);
  }
  return {};
}

// Brings back the part of the form's menu record a pick list drew over.
struct SavedMenu {
  GsDrawnMenu record = gs_drawn_menu;
  ~SavedMenu() { gs_drawn_menu = record; }
};

void request_redraw() {
  Status local = kStatusGood;
  QG_SET_UPDATE(1, local);
}

}  // namespace

void GS_INP_CHOICE(int max_title, int num_title, TextLines title, int max_info, int num_info,
                   TextLines info, int max_help, int num_help, TextLines help, int max_choices,
                   int num_choices, TextLines choices, bool& cancelled, std::string& choice,
                   Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_CHOICE V0.3";
  if (st_bad(status, position)) return;
  if ((max_title < 1 || max_info < 1 || max_help < 1 || max_choices < 1) &&
      refuse(status, 1, position))
    return;
  auto bad = [](int max, int num, std::span<const std::string> lines) {
    return num < 0 || num > max || static_cast<std::size_t>(num) > lines.size();
  };
  if ((bad(max_title, num_title, title.view()) || bad(max_info, num_info, info.view()) ||
       bad(max_help, num_help, help.view()) ||
       bad(max_choices, num_choices, choices.view())) &&
      refuse(status, 5, position))
    return;
  if (num_choices > 27 && refuse(status, 9, position)) return;

  int title_width = 2;
  for (int k = 0; k < num_title; ++k) title_width = std::max(title_width, SLEN(title[k]) + 2);
  if (num_title > 0) title_width = std::max(title_width, 10);
  int button_width = 7;
  for (int k = 0; k < num_choices; ++k) button_width = std::max(button_width, SLEN(choices[k]) + 1);
  const int across = num_choices < 4 ? 2 : num_choices <= 9 ? 3 : num_choices <= 13 ? 4 : 5;

  // CANCEL, "?" and HELP head the first column of the first three rows; the
  // choices fill the other places in order.
  const std::array<std::string, 3> specials{"CANCEL", "?", "HELP"};
  std::vector<std::string> buttons;
  std::size_t next_special = 0;
  int next_choice = 0;
  const int total = num_choices + 3;
  for (int k = 0; k < total; ++k) {
    const bool special_place = k % across == 0 && k / across < 3;
    if (next_special < specials.size() && (special_place || next_choice == num_choices))
      buttons.push_back(specials[next_special++]);
    else
      buttons.push_back(choices[next_choice++].substr(0, 30));
  }

  const std::vector<std::string> titles(title.begin(), title.begin() + num_title);
  bool shown = false;
  cancelled = false;
  const std::string picked = pick(
      buttons, info.view().first(static_cast<std::size_t>(num_info)),
      help.view().first(static_cast<std::size_t>(num_help)), 1, shown,
      [&] { draw_in_gui(0, across, title_width, button_width, titles, buttons, status); }, status);
  if (status == kStatusGood) {
    if (picked == "CANCEL")
      cancelled = true;
    else
      choice = picked;
  }
  if (shown) request_redraw();
}

void GS_INP_DATATYPE(std::string_view title, TextLines help, std::string& choice, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_DATATYPE V0.2")) return;
  static const std::vector<std::string> buttons{"?", "HELP", "4-BYTE INTEGER", "BYTE VALUES",
                                                "INTEGER (2-BYTE)", "REAL (4-BYTE IEEE)"};
  static const std::vector<std::string> own_help{
      "?: Description of available menu choices", "HELP: Description of required input choice",
      "4-BYTE INTEGER: Signed or unsigned, either byte order",
      "BYTE VALUES: Single byte signed or unsigned integers",
      "INTEGER (2-BYTE): Signed or unsigned either byte order",
      "REAL (4-BYTE IEEE): Floating point real numbers"};
  const SavedMenu saved;
  const std::vector<std::string> titles{std::string(title)};
  bool shown = false;
  const std::string picked = pick(
      buttons, own_help, help.view(), 0, shown,
      [&] { draw_in_gui(0, 2, 40, 6, titles, buttons, status); }, status);
  if (!picked.empty()) choice = picked;
  request_redraw();
}

void GS_INP_SCANTYPE(std::string_view title, TextLines help, int& scan_type, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_SCANTYPE V0.2")) return;
  static const std::vector<std::string> buttons{"?", "HELP", "2-THETA", "D-SPACINGS", "Q-SPACE",
                                                "RADIAL"};
  static const std::vector<std::string> own_help{
      "?: Description of available menu choices", "HELP: Description of required input choice",
      "2-THETA: Equal angle output elements", "D-SPACINGS: Equal D-spacing output elements",
      "Q-SPACE: Equal Q output elements", "RADIAL: Equal radial distance output elements"};
  const SavedMenu saved;
  // The list's own title first, the caller's after a help page.
  std::vector<std::string> titles{"SELECT TYPE OF OUTPUT SCAN"};
  bool shown = false;
  const std::string picked = pick(
      buttons, own_help, help.view(), 0, shown,
      [&] {
        if (shown) titles = {std::string(title)};
        draw_in_gui(1, 2, 30, 12, titles, buttons, status);
      },
      status);
  if (picked == "RADIAL") scan_type = 0;
  if (picked == "2-THETA") scan_type = 1;
  if (picked == "Q-SPACE") scan_type = 2;
  if (picked == "D-SPACINGS") scan_type = 3;
  request_redraw();
}

void GS_INP_FORMMENU(std::span<const std::string> choices, std::string_view title,
                     std::string& choice, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_FORMMENU V0.1")) return;
  // Without a list (or with more than it can show) the value stays.
  if (choices.empty() || choices.size() > kGsMaxFormChoices) return;
  std::vector<std::string> buttons;
  for (const std::string& c : choices) buttons.push_back(c.substr(0, 30));
  const int across = buttons.size() <= 7 ? 2 : buttons.size() <= 12 ? 3 : 4;
  const SavedMenu saved;
  const std::vector<std::string> titles{std::string(title)};
  bool shown = false;
  std::string picked;
  do {
    picked = pick(
        buttons, {}, {}, 1, shown,
        [&] { draw_in_gui(0, across, 30, 12, titles, buttons, status); }, status);
  } while (status == kStatusGood && SLEN(picked) > 0 && picked.substr(0, SLEN(picked)) == "null");
  if (status == kStatusGood && !picked.empty()) choice = picked;
  request_redraw();
}

void GS_GUI_COLOUR(std::string_view title, int& colour, Status& status) {
  if (st_bad(status, "Subroutine GS_GUI_COLOUR V0.2")) return;
  static const std::vector<std::string> buttons{
      "BLACK", "BLUE", "BROWN", "CYAN",  "GREEN",     "GREY",      "MAGENTA", "ORANGE",
      "RED",   "VIOLET", "WHITE", "YELLOW", "(0 INDEX)", "(1 INDEX)", "INVERSE"};
  const SavedMenu saved;
  const std::vector<std::string> titles{std::string(title)};
  draw_in_gui(0, 5, 12, 8, titles, buttons, status);
  int type = 0;
  std::string command;
  float x = 0.0f, y = 0.0f;
  GS_INP_MENUCHOICE(15, 15, buttons, 0, type, command, x, y, status);
  if (status != kStatusGood || type != kGsChoiceButton) return;
  bool found = false;
  int chosen = 0;
  GS_GIVE_COLOUR(command, found, chosen, status);
  if (found) colour = chosen;
}

}  // namespace kesta
