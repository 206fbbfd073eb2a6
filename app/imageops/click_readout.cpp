#include "app/imageops/click_readout.hpp"

namespace kesta {

void KZT_CLICK(Index, Index, Index, Index, Index, Index, std::span<const float>,
               std::span<const float>, std::span<const float>, std::string_view,
               std::string_view, std::string_view, std::string_view, float, float, float, float,
               bool& update_image, bool& update_menu, Status&) {
  update_image = false;
  update_menu = false;
}

}  // namespace kesta
