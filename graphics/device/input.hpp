#pragma once
// Graphical input through the kernel: the waits of the X11 workstation for
// clicks, typed lines, Tab and redraw requests, the rubber band and the spy
// glass. Unknown workstations, PostScript workstations and driver failures
// only write a line; STATUS stays good and TYPE is left as it was.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Input types of a wait.
inline constexpr int kInputButton = 0;
inline constexpr int kInputRedraw = 1;
inline constexpr int kInputLine = 2;
inline constexpr int kInputTab = 3;
inline constexpr int kInputNothing = -1;  // polling found no event
inline constexpr int kInputMotion = -2;   // polling handled pointer motion only

// Longest prompt handed to the window.
inline constexpr std::size_t kInputPromptLength = 131;

// Waits on workstation ID for a click (X, Y in world coordinates) or, for
// MODE above 0, a redraw request; MODE 10 polls without waiting.
void QG_INP_COORDINATE(int id, int mode, int& type, float& x, float& y, Status& status);

// The page coordinate (X axis or Y) of a clicked point's world coordinate
// VALUE. A click beyond a data window that reaches the float range has its
// world coordinate stopped at the range, but never loses its place on the
// page: VALUE as the last click gave it, under the same transform, answers
// the click's own page position; any other VALUE is mapped as QG_WC2PC maps
// it. Everything that finds a clicked widget (a button, a box, a bar) on the
// page goes through this.
float qg_click_pc(bool xaxis, float value, Status& status);

// Waits on workstation ID for a typed line in the prompt box X1, Y1, X2, Y2
// (world coordinates), a Tab, a click (X, Y in page coordinates) or a redraw
// request. INIT_FLAG starts the line with TEXT; TEXT receives the line
// (without trailing blanks) and WORKSTATION the ID.
void QG_INP_EVENT(int id, int mode, bool prompt_flag, std::string_view prompt, bool init_flag,
                  float x1, float y1, float x2, float y2, int& type, int& workstation,
                  std::string& text, float& x, float& y, Status& status);

// True when a redraw request was pending on workstation ID (one poll).
void QG_INP_RESIZE(int id, bool& resized, Status& status);

// Rubber band of the waits: MODE 0 none, 1 line, 2 box, anchored at world X, Y.
void QG_SET_RUBBERBAND(int id, int mode, float x, float y, Status& status);

// Hands every active X11 workstation the displayed image and the spy-glass
// view (MODE 0 switches it off). DATA must stay alive until the next call.
void QG_SPYGLASS(int mode, Index xdim, Index ydim, Index xstart, Index ystart, Index xend,
                 Index yend, std::span<const float> data, float xmin_image, float ymin_image,
                 float xmax_image, float ymax_image, float xmin_spy, float ymin_spy,
                 float xmax_spy, float ymax_spy, int width, int height, Status& status);

}  // namespace kesta
