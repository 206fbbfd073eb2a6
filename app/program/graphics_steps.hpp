#pragma once
// The main program's graphics: opening the window at start-up, the display
// settings restored from the defaults, the window's title and graph
// position, the keyboard loop's poll, and the graphics commands.

#include <string>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// Opens the graphics (GRAPHICS_ON) or only sets their defaults. False when
// the window could not be opened: graphics are then off, STATUS stays good.
bool kzt_open_graphics(bool graphics_on, Status& status);

// Restores COLOUR_TABLE, the Z_SCALING keys and CURVE_STYLE_1. A saved value
// that its setter refuses gives one warning naming the key and is skipped.
void kzt_restore_display(Status& status);

// Titles the window and sets the graph page position for the page format.
void kzt_title_graphics(Status& status);

// Takes a pending redraw of the window off its queue (once per command).
void kzt_poll_graphics(Status& status);

// True when the window went away while graphics were on (closed through the
// window manager, destroyed, its display gone): a line says the program goes
// on without graphics, and the user escape that the lost window answered is
// cleared from STATUS. The caller turns GRAPHICS_ON off, as if the program
// had started with -nogr; the graphics system itself stays open until the
// end of the run, so that window menus asked later go to the terminal.
bool kzt_window_closed(Status& status);

// True while the graphics system is open: from a start with graphics to the
// end of the run, after a lost window too (PostScript output still works);
// never under -nogr, where it was not opened.
bool kzt_graphics_system_open();

// Closes the graphics system at the end of the run, if it is open (also
// after the window was lost): a PostScript file still open is finished.
void kzt_close_graphics(Status& status);

// The whole image as the image display region after an input.
void kzt_set_image_region(Index xnumdat, Index ynumdat);

// PLOT DATA: the active data region as an image, or as a graph of a row or
// a column.
void kzt_plot_data(KztDataSets& sets, std::string& display_command, std::string& graphics_kind,
                   Status& status);

// CONTOUR PLOT: a region more than two rows high as a contour map, one of
// at most two rows from row 1 as a graph of row 1, any other not at all.
void kzt_contour_plot(KztDataSets& sets, std::string& graphics_kind, Status& status);

// COLOUR TABLE: the colour scheme dialogue; the scheme's name is kept under
// COLOUR_TABLE for the next start.
void kzt_colour_table(Status& status);

}  // namespace kesta
