#pragma once
// Handlers of the display choices that many interface tables share (FULL,
// UN-ZOOM, ZOOM IN, DISPLAY, OPTIONS), on the current data of the program
// arrays. Any table can use them whatever its state type.

#include "app/interfaces/interface_loop.hpp"

namespace kesta {

void menu_full_region(Status& status);
void menu_unzoom_region(Status& status);
void menu_zoom_in_region(const KztDataSets& sets, Status& status);
void menu_display_choices(MenuPass& pass, Status& status);
void menu_display_options(MenuPass& pass, Status& status);

template <typename State>
void menu_full(MenuPass&, State&, Status& status) {
  menu_full_region(status);
}
template <typename State>
void menu_unzoom(MenuPass&, State&, Status& status) {
  menu_unzoom_region(status);
}
template <typename State>
void menu_zoom_in(MenuPass& pass, State&, Status& status) {
  menu_zoom_in_region(pass.sets, status);
}
template <typename State>
void menu_display(MenuPass& pass, State&, Status& status) {
  menu_display_choices(pass, status);
}
template <typename State>
void menu_options(MenuPass& pass, State&, Status& status) {
  menu_display_options(pass, status);
}

}  // namespace kesta
