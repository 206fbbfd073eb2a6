#pragma once
// The two menus that change how image values are coloured without changing
// the data: the choice of colour table scheme (kept under COLOUR_TABLE for
// the next start) and the rotation of the image colour range. On a
// PseudoColor display a changed colour map recolours the window at once;
// on any other the image is drawn again after each change.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// The colour-table menu and the interactive rotation of the colour table over
// the image, which is drawn again after each change (with MASK when it is
// not empty, as a masked display was shown).
void KZT_COLOURS(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::span<const float> data,
                 std::span<const std::uint8_t> mask,
                 std::string_view title, std::string_view xlabel, std::string_view ylabel,
                 std::string_view zlabel, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, Status& status);
void KZT_ROTATELUT(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                   std::span<const float> yaxis, std::span<const float> data,
                   std::span<const std::uint8_t> mask,
                   std::string_view title, std::string_view xlabel, std::string_view ylabel,
                   std::string_view zlabel, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, Status& status);
// The colours menu's help page: a message box (GUI) or the terminal pager.
void KZT_COLOURSHELP(bool gui, Status& status);

// A menu's help page: with GUI in a message box in the fixed-width font
// (the font restored after), else paged on the terminal.
void kzt_help_page(bool gui, std::span<const std::string> lines, Status& status);

// The rotation of a button of the rotation menu, TOTAL being the rotation
// made since the menu was entered (DEFAULT undoes it); 0 for EXIT.
int kzt_rotation_step(std::string_view button, int total);

// The keyboard branch of ROTATE LUT.
void kzt_command_rotatelut(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
