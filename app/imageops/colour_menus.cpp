#include "app/imageops/colour_menus.hpp"

#include <array>
#include <charconv>

#include "app/imageops/conventions.hpp"
#include "app/main/data_store.hpp"
#include "core/defaults_db.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

const std::string kColourButtons[] = {
    "EXIT",         "?",           "HELP",  "COLOUR WHEEL", "GEOGRAPHICAL",
    "GREY-SCALE",   "INVERSE GREY-SCALE",   "ORIGINAL",     "PSYCHOLOGIAL",
    "REPEATING",    "TEMPERATURE", "TRIAL", "UPSIDE DOWN",  "BLACK-PURPLE-WHITE"};

const std::string kColourLines[] = {
    "EXIT: Return to higher menu level",
    "?: List of commands with brief description",
    "HELP: Explanatory help text for the menu",
    "COLOUR WHEEL: magenta-red-yellow-green-cyan-blue",
    "GEOGRAPHICAL: black-blue-green-grey-yellow-brown-magenta-white",
    "GREY-SCALE: black-white",
    "INVERSE GREY-SCALE: white-black",
    "ORIGINAL: black-magenta-red-yellow-green-cyan-blue-white",
    "PSYCHOLOGIAL: \"cold\" colours = low intensity",
    "REPEATING: as colour wheel, but goes black between colours",
    "TEMPERATURE: black-red-yellow-white",
    "TRIAL: Experimental for developing new colour tables",
    "UPSIDE DOWN: white-magenta-brown-yellow-grey-green-blue-black",
    "BLACK-PURPLE-WHITE: Black-Purple-Magenta-Red-Orange-Yellow-White"};

const std::string kColoursHelp[] = {
    "--------------------------------------------",
    "        Colour Table Selection Menu",
    "--------------------------------------------",
    "",
    "Images are shown in \"false colours\": each",
    "intensity value is given a colour from the",
    "colour table. The buttons of this menu",
    "choose the table. Changing the",
    "table does not require the displayed data to",
    "be drawn again: on most displays the new",
    "colours appear at once, on others the image",
    "is re-drawn automatically.",
    "",
    "COLOUR WHEEL: A graduated change through the",
    "primary and secondary colours, from magenta",
    "through red, yellow, green and cyan to blue.",
    "",
    "GEOGRAPHICAL: The default table, based on",
    "the height tables of atlases: black and blue",
    "for low values, through green, grey, yellow",
    "and brown to magenta and white for the most",
    "intense values.",
    "",
    "GREY-SCALE: A linear scale from black to",
    "white, white being the most intense.",
    "",
    "INVERSE GREY-SCALE: From white to black, the",
    "most intense values black, as on an exposed",
    "film.",
    "",
    "ORIGINAL: The first colour table of the",
    "program: like the colour wheel, but starting",
    "with black and ending with white at the top",
    "of the range.",
    "",
    "PSYCHOLOGICAL: \"Warm\" colours show intense",
    "values and \"cold\" colours low values.",
    "",
    "REPEATING: Repeated strips of the primary",
    "and secondary colours, each going from dark",
    "to light, so that small changes of intensity",
    "are easy to see.",
    "",
    "TEMPERATURE: A pseudo-heat scale: black,",
    "red, yellow and white, as a heated body.",
    "",
    "TRIAL: An experimental table, used while new",
    "colour tables are developed.",
    "",
    "UPSIDE-DOWN: The geographical table turned",
    "upside down: white for low values and black",
    "for the most intense ones.",
    "",
    "BLACK-PURPLE-WHITE: From black through",
    "purple, magenta, red, orange and yellow to",
    "white.",
    "",
    "The chosen table is remembered and used",
    "again when the program is next started.",
    "",
    "EXIT returns to the menu that called this",
    "one; \"?\" lists the buttons with one",
    "line of description each, and HELP shows",
    "this text.",
    "",
    "--------------------------------------------",
    "              END OF HELP TEXT",
    "--------------------------------------------"};

const std::string kRotateButtons[] = {"EXIT", "-100", "- 50", "- 10", "-  1",
                                      "DEFAULT", "+  1", "+ 10", "+ 50", "+100"};

// True when a changed colour map needs the image drawn again (any display
// but an 8-bit PseudoColor one).
bool redraw_after_change(Status& status) {
  int mapping = 0, depth = 0;
  QG_INQ_COLOURMAPPING(mapping, depth, status);
  return mapping != 1;
}

// The image under these menus, drawn again after a redraw request or a
// change of the colours.
struct ShownImage {
  Index xmaxdat, ymaxdat;
  std::span<const float> xaxis, yaxis, data;
  std::span<const std::uint8_t> mask;  // empty: drawn without a mask
  std::string_view title, xlabel, ylabel, zlabel;
  Index xstrelm, ystrelm, xendelm, yendelm;
};

// A menu over the image: its layout, title, buttons and input mode.
struct ImageMenu {
  int fill_order, across, button_length;
  std::string_view title;
  std::span<const std::string> buttons;
  int mode;
};

// One turn of a menu loop over the image: the image drawn when IMAGE (and
// then the menu), the menu when MENU, then the next choice. COMMAND is the
// button pressed, or empty after a redraw request (IMAGE set) or a click
// beside the buttons. False at EXIT or when STATUS is bad.
bool next_button(const ShownImage& im, const ImageMenu& m, bool& image, bool& menu,
                 std::string& command, Status& status) {
  command.clear();
  if (status != kStatusGood) return false;
  if (image) {
    GS_MPLOT(!im.mask.empty(), im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis,
             im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel,
             im.zlabel, status);
    menu = true;
  }
  const int buttons = static_cast<int>(m.buttons.size());
  if (menu) {
    GS_SET_MENULAYOUT(m.fill_order, m.across, 30, m.button_length, status);
    GS_FMENU(1, 1, {std::string(m.title)}, buttons, buttons, m.buttons, status);
  }
  image = menu = false;
  int type = 0;
  float x = 0.0f, y = 0.0f;
  GS_INP_MENUCHOICE(buttons, buttons, m.buttons, m.mode, type, command, x, y, status);
  if (status != kStatusGood) return false;
  if (type == kGsChoiceRedraw) image = true;
  if (type != kGsChoiceButton) command.clear();
  return command != "EXIT";
}

}  // namespace

int kzt_rotation_step(std::string_view button, int total) {
  if (button == "DEFAULT") return -total;
  std::string digits;
  for (const char c : button)
    if (c != ' ' && c != '+') digits += c;
  int step = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), step);
  return error == std::errc() && end == digits.data() + digits.size() ? step : 0;
}

void kzt_help_page(bool gui, std::span<const std::string> lines, Status& status) {
  const int num = static_cast<int>(lines.size());
  if (!gui) return IO_TEXT(num, lines, status);
  // The message box draws in its own style's font, not the kernel's.
  gs_fixed_width_message(lines, status);
}

void KZT_COLOURSHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_COLOURSHELP V0.1")) return;
  kzt_help_page(gui, kColoursHelp, status);
}

void KZT_COLOURS(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::span<const float> data,
                 std::span<const std::uint8_t> mask,
                 std::string_view title, std::string_view xlabel, std::string_view ylabel,
                 std::string_view zlabel, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, Status& status) {
  if (kzt_region_refused("Subroutine KZT_COLOURS V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  int scheme = 0, levels = 0;
  GS_INQ_LUTCHOICE(scheme, levels, status);
  const bool redraw = redraw_after_change(status);
  constexpr int kButtons = static_cast<int>(std::size(kColourButtons));
  const ShownImage shown{xmaxdat, ymaxdat, xaxis,  yaxis,   data,    mask,    title,
                         xlabel,  ylabel,  zlabel, xstrelm, ystrelm, xendelm, yendelm};
  const ImageMenu colours{1, 3, 18, "KESTA: IMAGE: COLOURS MENU", kColourButtons, 1};
  bool image = false, menu = true;
  std::string command;
  while (next_button(shown, colours, image, menu, command, status)) {
    if (command.empty()) {
      continue;
    } else if (command == "?") {
      GS_MESSAGE(kButtons, kButtons, kColourLines, status);
      image = true;
    } else if (command == "HELP") {
      KZT_COLOURSHELP(true, status);
      image = true;
    } else {
      for (int p = 4; p <= kButtons; ++p)
        if (command == kColourButtons[p - 1]) scheme = p - 3;
      GS_SET_LUTCHOICE(scheme, levels, status);
      GS_COLOURS(status);
      image = redraw;
      menu = true;
    }
  }
  // The scheme in force is kept for the next start, also after a failure.
  Status local = kStatusGood;
  const std::string_view name = gs_scheme_name(scheme);
  int retstat = 0;
  IO_SET_KEYVALUE("COLOUR_TABLE", static_cast<int>(name.size()), name, retstat, local);
}

void KZT_ROTATELUT(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                   std::span<const float> yaxis, std::span<const float> data,
                   std::span<const std::uint8_t> mask,
                   std::string_view title, std::string_view xlabel, std::string_view ylabel,
                   std::string_view zlabel, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, Status& status) {
  if (kzt_region_refused("Subroutine KZT_ROTATELUT V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  const bool redraw = redraw_after_change(status);
  int total = 0;
  const ShownImage shown{xmaxdat, ymaxdat, xaxis,  yaxis,   data,    mask,    title,
                         xlabel,  ylabel,  zlabel, xstrelm, ystrelm, xendelm, yendelm};
  // Clicks beside the buttons are answered too (and ignored).
  const ImageMenu rotate{0, 10, 7, "NUMBER OF LEVELS TO ROTATE", kRotateButtons, 2};
  bool image = false, menu = true;
  std::string command;
  while (next_button(shown, rotate, image, menu, command, status)) {
    if (command.empty()) {
      continue;
    } else if (const int step = kzt_rotation_step(command, total); step != 0) {
      total += step;
      QG_ROTATELUT(step, status);
      image = redraw;
    }
  }
  Status local = kStatusGood;
  GS_CAL_COLOURS(local);
}

void kzt_command_rotatelut(KztDataSets& sets, std::string&, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  KZT_ROTATELUT(a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data),
                {}, sets.title, sets.xlabel, sets.ylabel, sets.zlabel, a.xstrelm, a.ystrelm,
                a.xendelm, a.yendelm, status);
}

}  // namespace kesta
