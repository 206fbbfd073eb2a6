// The help texts of the graphical menus and the logo.

#include "app/interfaces/help_texts.hpp"

#include "app/imageops/colour_menus.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

const std::string kGuiHelp[] = {
    "----------------------------------------------",
    "|            WELCOME TO THE KESTA            |",
    "|          GRAPHICAL USER INTERFACE          |",
    "----------------------------------------------",
    "",
    "The menu offers scientific interfaces. Each",
    "one groups the possibilities of the program",
    "for one kind of work; several interfaces offer",
    "the same operations, grouped differently.",
    "",
    "The KEYBOARD INTERFACE offers more commands",
    "and more file formats than the graphical",
    "menus; many commands are only there.",
    "",
    "Click on a button to choose. Most interfaces",
    "need data: choose INPUT first.",
    "",
    "\"?\": lists the choices of a menu with one line",
    "of help each.",
    "",
    "HELP: shows this text.",
    "",
    "FILE SERIES: operations on a whole numbered",
    "series of files: average, sum, composite",
    "images, series integration.",
    "",
    "IMAGE PROCESSING (GENERAL): input, display,",
    "arithmetic, filters, geometric transforms and",
    "output of images.",
    "",
    "KEYBOARD INTERFACE: the typed command",
    "interface in the terminal window. Its EXIT",
    "returns to this menu.",
    "",
    "MACROS / LOG FILE: record and run macros, run",
    "a macro over a file sequence, and keep a log",
    "file of the session.",
    "",
    "OLMI (MULTIPLE 1-D FITTING): fits one model of",
    "peaks and background to every row of the data.",
    "",
    "ON-LINE CRYSTALLOGRAPHY: live input of new",
    "files, display and peak statistics.",
    "",
    "POWDER DIFFRACTION (2-D): calibration of the",
    "geometry (beam centre, tilt, calibrant) and",
    "integration of powder images to 1-D scans.",
    "",
    "2-D FITTING and SAXS / GISAXS: fitting of 2-D",
    "models and small-angle and grazing-incidence",
    "scattering.",
    "",
    "TEST: testing and simulation.",
    "",
    "EXIT: leaves the program (a question confirms",
    "it); when the menu was entered from the",
    "keyboard interface, EXIT MENU returns there.",
    "",
    "The keyboard command HELP pages the full",
    "description of every command.",
    "",
    "----------------------------------------------",
    "|              END OF HELP TEXT              |",
    "----------------------------------------------",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
};

const std::string kRoiHelp[] = {
    "-----------------------------------------",
    "|             WELCOME TO THE            |",
    "|        REGION OF INTEREST MENU        |",
    "-----------------------------------------",
    "",
    "Select the region of the data to work on",
    "graphically with the buttons, or by pixel",
    "numbers with the \"KEYBOARD\" button where",
    "it is offered.",
    "",
    "Commands:",
    "",
    "\"EXIT\": leave the menu with the region",
    "shown.",
    "\"?\": list of the buttons.",
    "\"HELP\": this text.",
    "\"UN-ZOOM\": make the region bigger.",
    "\"ZOOM\": define a region by clicking two",
    "corners on the image.",
    "\"FULL\": the region covers all defined",
    "data.",
    "",
    "-----------------------------------------",
    "|            END OF HELP TEXT           |",
    "-----------------------------------------",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
};

const std::string kLogo[] = {
    "********************************************************************",
    "",
    "   KK     KK    EEEEEEEEE     SSSSSSS     TTTTTTTTTT        AA",
    "   KK    KK     EE           SS     SS        TT           AAAA",
    "   KK   KK      EE           SS               TT          AA  AA",
    "   KK  KK       EE           SS               TT         AA    AA",
    "   KK KK        EE            SS              TT         AA    AA",
    "   KKKK         EEEEEEE        SSSSS          TT        AA      AA",
    "   KK KK        EE                 SS         TT        AAAAAAAAAA",
    "   KK  KK       EE                  SS        TT        AA      AA",
    "   KK   KK      EE                  SS        TT        AA      AA",
    "   KK    KK     EE           SS     SS        TT        AA      AA",
    "   KK     KK    EEEEEEEEE     SSSSSSS         TT        AA      AA",
    "",
    "  Reduction and analysis of 2-D X-ray detector images",
    "********************************************************************",
};

}  // namespace

std::span<const std::string> kzt_guihelp_text() { return kGuiHelp; }
std::span<const std::string> kzt_roihelp_text() { return kRoiHelp; }
std::span<const std::string> kzt_logo_text() { return kLogo; }

void KZT_GUIHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUIHELP V0.4")) return;
  kzt_help_page(gui, kGuiHelp, status);
}

void KZT_GUI_ROIHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_ROIHELP V0.1")) return;
  kzt_help_page(gui, kRoiHelp, status);
}

void KZT_LOGO(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_LOGO V0.2")) return;
  kzt_help_page(gui, kLogo, status);
}

}  // namespace kesta
