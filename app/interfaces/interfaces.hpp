#pragma once
// The graphical interface menus: the top menu of scientific interfaces and
// the shared sub-menus and forms that other subsystems call.

#include <span>
#include <string>
#include <string_view>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The top menu "KESTA: SCIENTIFIC INTERFACES". START_MODE: entered when the
// program starts (its last button "EXIT KESTA" asks to confirm); false: from
// the keyboard command GUI (the last button "EXIT MENU" returns at once).
// Returns when the user leaves it; a bad STATUS is returned after the user
// chose not to reset it.
void KZT_GUI(bool start_mode, KztDataSets& sets, Status& status);

// The keyboard command GUI: the top menu, then "EXIT" proposed.
void kzt_command_gui(KztDataSets& sets, std::string& next, Status& status);

// The array-size form of the graphical start-up; CANCEL gives the user escape
// and leaves the four values unchanged.
void KZT_GUI_SIZES(Index& x_dimension, Index& y_dimension, bool& memory, bool& variances,
                   Status& status);

// The GRID sub-menu of the display options: switches the four kinds of grid
// line, drawing the current data again on UPDATE (with MASK when it is not
// empty).
void KZT_GUI_GRID(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                  std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::string_view title, std::string_view xlabel,
                  std::string_view ylabel, std::string_view zlabel, Status& status);

// The REGION OF INTEREST menu: the active data region in and out.
void KZT_GUI_ROI(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                 std::span<const float> xaxis, std::span<const float> yaxis,
                 std::span<const float> data, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, Index& xstrelm, Index& ystrelm,
                 Index& xendelm, Index& yendelm, std::string& plot_type, Status& status);

// The IMAGE menu (moves of the displayed region) and the OPTIONS menu of
// display settings, on the current data of the program arrays.
void KZT_IMAGE(KztDataSets& sets, std::string& plot_type, Status& status);
void KZT_OPTIONS(KztDataSets& sets, std::string& plot_type, Status& status);

}  // namespace kesta
