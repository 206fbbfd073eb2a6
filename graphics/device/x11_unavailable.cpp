// Stands in for the X11 window driver until it is part of the library: no
// window can be opened, so the kernel reports the window as not opened and the
// program goes on without graphics. The X11 driver's source replaces this file.

#include "graphics/device/driver.hpp"

namespace kesta {

std::unique_ptr<Driver> qg_make_x11_driver() { return nullptr; }

}  // namespace kesta
