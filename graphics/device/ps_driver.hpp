#pragma once
// The PostScript driver: a PostScript level 1 text file with a prologue of
// short procedures, coordinates in integer tenths of a point. The file is
// opened and closed by the caller on a stream; the driver writes every line
// through IO_WRITE_FILE.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "graphics/device/driver.hpp"

namespace kesta {

// QG_PS_IO: stream of the open PostScript file.
struct QgPsIo {
  int unit = 0;
};
inline QgPsIo qg_ps_io;

// QG_PS_FORMAT.
struct QgPsFormat {
  bool landscape = false;
  bool colour = true;
};
inline QgPsFormat qg_ps_format;

// QG_PS_REGION: the page region (0.1 pt) and the world-to-PostScript transform.
struct QgPsRegion {
  int xmin = 180, ymin = 230, xmax = 5690, ymax = 8100;
  int width = 5511, height = 7871;
  int unit = 7871;  // page unit: the larger of width and height
  float x_offset = 180.0f, y_offset = 230.0f, x_scale = 7871.0f, y_scale = 7871.0f;
};
inline QgPsRegion qg_ps_region;

// QG_PS_FUNCTIONS: the cell-array procedures are in the current file.
struct QgPsFunctions {
  bool written = false;
};
inline QgPsFunctions qg_ps_functions;

// Name of the prologue's page-clearing procedure.
inline constexpr std::string_view kPsClearName = "clr";
// Vertices per polyline chunk and markers per marker chunk.
inline constexpr int kPsChunk = 200;

// World coordinate to integer PostScript units: the product is truncated,
// the offset added and the sum truncated again, in double precision and
// clamped, so that no point wraps around however far outside the page.
int ps_x(float x);
int ps_y(float y);

void QG_PS_OPEN(int unit, bool keep_region, bool landscape, bool colour, Status& status);
void QG_PS_TRANSFORM(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                     float vy2, Status& status);
void QG_PS_UPDATE(Status& status);
void QG_PS_CLEAR(Status& status);
void QG_PS_CLIP(bool on, float x1, float y1, float x2, float y2, Status& status);

void QG_PS_PL(int n, std::span<const float> x, std::span<const float> y, Status& status);
void QG_PS_PM(int n, std::span<const float> x, std::span<const float> y, Status& status);
void QG_PS_FA(int n, std::span<const float> x, std::span<const float> y, Status& status);
void QG_PS_TEXT(float x, float y, std::string_view text, Status& status);
void QG_PS_LINESTYLE(int style, Status& status);
void QG_PS_LINEWIDTH(float width, Status& status);
void QG_PS_LINECOLOUR(float red, float green, float blue, Status& status);
void QG_PS_FILLCOLOUR(float red, float green, float blue, Status& status);
void QG_PS_MARKERCOLOUR(float red, float green, float blue, Status& status);
void QG_PS_TEXTCOLOUR(float red, float green, float blue, Status& status);
void QG_PS_MARKERTYPE(int type, Status& status);
void QG_PS_MARKERSCALE(float scale, Status& status);
void QG_PS_MARKERWIDTH(float width, Status& status);
void QG_PS_TEXTFONT(int font, Status& status);
void QG_PS_TEXTHEIGHT(float height, Status& status);
void QG_PS_TEXTALIGNMENT(int horizontal, int vertical, Status& status);
void QG_PS_TEXTANGLE(float angle, Status& status);

// Cell arrays: large regions are averaged in blocks down to the resolution.
void QG_PS_WCA(Status& status);
void QG_PS_CA(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat, Index xstrelm,
              Index ystrelm, Index xnum, Index ynum, std::span<const int> indices, Status& status);
void QG_PS_BCA(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
               Index xstrelm, Index ystrelm, Index xnum, Index ynum,
               std::span<const std::uint8_t> bytes, Status& status);
void QG_PS_RMCA(bool masked, float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                Index xstrelm, Index ystrelm, Index xnum, Index ynum, std::span<const float> data,
                std::span<const std::uint8_t> mask, float minimum, float maximum, int mask_colour,
                Status& status);

// The driver object the kernel keeps for a PostScript workstation.
std::unique_ptr<Driver> qg_make_ps_driver();

}  // namespace kesta
