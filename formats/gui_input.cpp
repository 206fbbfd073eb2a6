#include "formats/gui_input.hpp"

#include "formats/format_menus.hpp"

namespace kesta {

void FIO_GUI_INPUT(TextLines /*title*/, int /*sequence*/, const ImageTarget& /*target*/,
                   bool& /*data_defined*/, std::string& /*file_name*/, Status& status) {
  fio_format_not_available("GRAPHICAL FILE INPUT", status);
}

}  // namespace kesta
