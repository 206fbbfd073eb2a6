#pragma once
// The fixed help texts of the graphical menus, the keyboard help and the
// logo. Each routine shows its text in a scrollable message box in the
// fixed-width font when GUI is true, else through the terminal pager;
// nothing is done when STATUS is bad on entry.

#include <span>
#include <string>

#include "core/types.hpp"

namespace kesta {

// The top menu of scientific interfaces.
void KZT_GUIHELP(bool gui, Status& status);
// The region-of-interest menu.
void KZT_GUI_ROIHELP(bool gui, Status& status);
// The vector operations and on-line crystallography interfaces.
void KZT_GUI_VECHELP(bool gui, Status& status);
void KZT_GUI_XTALHELP(bool gui, Status& status);
// The whole keyboard help: introduction, every command, concepts.
void KZT_HELP(bool gui, Status& status);
// The program's logo (the exit trailer shows it).
void KZT_LOGO(bool gui, Status& status);

// The texts themselves, for the tests and for the help pager's search.
std::span<const std::string> kzt_guihelp_text();
std::span<const std::string> kzt_roihelp_text();
std::span<const std::string> kzt_help_text();
std::span<const std::string> kzt_logo_text();
std::span<const std::string> kzt_vechelp_text();
std::span<const std::string> kzt_xtalhelp_text();

}  // namespace kesta
