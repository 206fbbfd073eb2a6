// Output attributes: each setter checks its range, returns at once when the
// value equals the stored one, and otherwise stores it and sends it to every
// active workstation.

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/format.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using namespace qg_detail;

void QG_LINECOLOUR(int index, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_LINECOLOUR V0.3";
  if (st_bad(status, kPosition)) return;
  if (index < -1 || index > 255) {
    st_fail(status, 130017, kPosition);
    return;
  }
  QgDbRastermode& r = qg_db_rastermode;
  if (index == r.line_colour) return;
  r.line_colour = index;
  if (r.raster_mode) return;  // the raster reads it; the devices get it when raster mode ends
  const Rgb rgb = table_entry(index);
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.line_colour(index, rgb, s); });
}

void QG_LINESTYLE(int style, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_LINESTYLE V0.2";
  if (st_bad(status, kPosition)) return;
  if (style < 0 || style > 4) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (style == qg_db_rastermode.line_style) return;
  qg_db_rastermode.line_style = style;
  dispatch(status, 130001, kPosition, [&](Driver& d, Status& s) { return d.line_style(style, s); });
}

void QG_LINEWIDTH(float width, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_LINEWIDTH V0.2";
  if (st_bad(status, kPosition)) return;
  if (width == qg_db_rastermode.line_width) return;
  qg_db_rastermode.line_width = width;
  dispatch(status, 130001, kPosition, [&](Driver& d, Status& s) { return d.line_width(width, s); });
}

void QG_FILLCOLOUR(int index, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_FILLCOLOUR V0.3";
  if (st_bad(status, kPosition)) return;
  if (index < 0 || index > 255) {
    terminal_line("Error: colour_index = " + format_i(index, 10));
    st_fail(status, 130017, kPosition);
    return;
  }
  QgDbRastermode& r = qg_db_rastermode;
  if (index == r.fill_colour) return;
  r.fill_colour = index;
  qg_db_brastermode.fill_byte = static_cast<std::uint8_t>(index & 0xFF);
  if (r.raster_mode) return;
  const Rgb rgb = table_entry(index);
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.fill_colour(index, rgb, s); });
}

void QG_MARKERTYPE(int type, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_MARKERTYPE V0.2";
  if (st_bad(status, kPosition)) return;
  if (type < 1 || type > 5) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (type == qg_db_rastermode.marker_type) return;
  qg_db_rastermode.marker_type = type;
  dispatch(status, 130001, kPosition, [&](Driver& d, Status& s) { return d.marker_type(type, s); });
}

void QG_MARKERCOLOUR(int index, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_MARKERCOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  if (index < 1 || index > 255) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (index == qg_db_rastermode.marker_colour) return;
  qg_db_rastermode.marker_colour = index;
  const Rgb rgb = table_entry(index);
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.marker_colour(index, rgb, s); });
}

void QG_MARKERSCALE(float scale, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_MARKERSCALE V0.2";
  if (st_bad(status, kPosition)) return;
  if (scale == qg_db_rastermode.marker_scale) return;
  qg_db_rastermode.marker_scale = scale;
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.marker_scale(scale, s); });
}

void QG_MARKERWIDTH(float width, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_MARKERWIDTH V0.2";
  if (st_bad(status, kPosition)) return;
  if (width == qg_db_rastermode.marker_width) return;
  qg_db_rastermode.marker_width = width;
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.marker_width(width, s); });
}

void QG_TEXTFONT(int font, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXTFONT V0.2";
  if (st_bad(status, kPosition)) return;
  if (font < 1 || font > 2) {
    terminal_line("font_index = " + format_i(font, 6));
    st_fail(status, 130017, kPosition);
    return;
  }
  if (font == qg_db_textatts.font) return;
  qg_db_textatts.font = font;
  dispatch(status, 130001, kPosition, [&](Driver& d, Status& s) { return d.text_font(font, s); });
}

void QG_TEXTHEIGHT(float height, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXTHEIGHT V0.3";
  if (st_bad(status, kPosition)) return;
  if (!(height > 0.0f)) {
    st_fail(status, 130021, kPosition);
    return;
  }
  const QgDbTransform& t = qg_db_transform;
  // In double: a window as tall as the float range overflows a float height.
  auto page = static_cast<float>((double{t.vy2} - t.vy1) * height / (double{t.wy2} - t.wy1));
  if (!(page >= 0.005f)) page = 0.005f;
  if (page == qg_db_textatts.height) return;
  qg_db_textatts.height = page;
  dispatch(status, 139999, kPosition, [&](Driver& d, Status& s) { return d.text_height(page, s); });
}

void QG_TEXTCOLOUR(int index, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXTCOLOUR V0.2";
  if (st_bad(status, kPosition)) return;
  if (index < 0 || index > 255) {
    terminal_line("colour_index = " + format_i(index, 6));
    st_fail(status, 130017, kPosition);
    return;
  }
  if (index == qg_db_textatts.colour) return;
  qg_db_textatts.colour = index;
  const Rgb rgb = table_entry(index);
  dispatch(status, 130001, kPosition,
           [&](Driver& d, Status& s) { return d.text_colour(index, rgb, s); });
}

void QG_TEXTALIGNMENT(int horizontal, int vertical, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXTALIGNMENT V0.1";
  if (st_bad(status, kPosition)) return;
  QgDbTextatts& a = qg_db_textatts;
  if (horizontal == a.horizontal && vertical == a.vertical) return;
  a.horizontal = horizontal;
  a.vertical = vertical;
  dispatch(status, 139999, kPosition,
           [&](Driver& d, Status& s) { return d.text_alignment(horizontal, vertical, s); });
}

void QG_TEXTANGLE(float angle, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXTANGLE V0.1";
  if (st_bad(status, kPosition)) return;
  if (angle == qg_db_textatts.angle) return;
  qg_db_textatts.angle = angle;
  dispatch(status, 131002, kPosition, [&](Driver& d, Status& s) { return d.text_angle(angle, s); });
}

void QG_INQ_TEXTFONT(int& font, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_TEXTFONT V0.1")) return;
  if (not_open("QG_INQ_TEXTFONT")) return;
  font = qg_db_textatts.font;
}

void QG_INQ_TEXTWIDTH(int nchars, std::string_view text, float& width, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_TEXTWIDTH V0.1")) return;
  if (not_open("QG_INQ_TEXTWIDTH")) return;
  const std::size_t n = nchars < 0 ? 0 : std::min<std::size_t>(nchars, text.size());
  if (Driver* d = qg_x11_driver()) {
    float w = width;
    if (d->text_width(text.substr(0, n), w) == 0) width = w;
  }
}

}  // namespace kesta
