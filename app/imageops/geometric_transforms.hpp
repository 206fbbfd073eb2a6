#pragma once
// Operations that move image content between pixels: rotation and
// translation, re-binning by whole or real factors, reflection in a line and
// transposition into the memory; left/right or top/bottom flips and the
// extension of the defined data size in place.
//
// Pixel I of an axis covers pixel coordinates I - 1 to I; data (axis)
// coordinates typed by the user become pixel coordinates through the axis
// values.
//
// GUI true (the graphical interfaces) asks on the terminal too until the
// graphical prompts, clicks and forms exist.

#include <span>
#include <string>

#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// What a memory writer leaves in the memory's description: its defined size
// and its region. A writer that did not write the memory leaves it alone
// (a fresh one stays at zero size).
struct KztMemoryExtent {
  bool written() const { return xnumdat > 0 && ynumdat > 0; }
  Index xnumdat = 0;
  Index ynumdat = 0;
  Index xstrelm = 0;
  Index ystrelm = 0;
  Index xendelm = 0;
  Index yendelm = 0;
};

// The step of AXIS at element START of a region ending at END: between START
// and the next element, or the previous one for a one-element region; 1.0
// for a one-element axis (and for a zero step, which no division survives).
float kzt_axis_step(std::span<const float> axis, Index start, Index end);

// Data coordinate VALUE on AXIS(1..NUM) as a pixel coordinate: interpolated
// between the axis values inside their span, extrapolated with the end step
// outside it (a centre or a line may lie beyond the data).
float kzt_pixel_coordinate(std::span<const float> axis, Index num, float value);

// MOVE/ROTATE: asks either the angle, centre and translation or two input
// and two output points, the sub-pixel choice (1: centre mapping, else exact
// area) and the output region, then rotates and translates the region of
// DATA (and VARIANCES) into MDATA (MVARIANCES) with memory axes of the same
// step. MEMORY receives the output region (its size is the caller's).
void KZT_MOVE(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
              std::span<const float> yaxis, std::span<const float> data,
              std::span<const float> variances, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, float x_pixel_size, float y_pixel_size,
              std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
              std::span<float> mvariances, KztMemoryExtent& memory, Status& status);

// The eleven fields of the TRANSFORM control form: pixel sizes in metres,
// rotation centre in pixel coordinates, angle in degrees (anticlockwise),
// translation in pixels, output pixel limits.
struct KztTransformForm {
  float x_pixel_size = 0.0f;
  float y_pixel_size = 0.0f;
  float xcentre = 0.0f;
  float ycentre = 0.0f;
  float angle = 0.0f;
  float xshift = 0.0f;
  float yshift = 0.0f;
  Index oxstrelm = 1;
  Index oystrelm = 1;
  Index oxendelm = 1;
  Index oyendelm = 1;
};
// Shows the form with FIELDS as the proposed values; the user's values come
// back in FIELDS. A cancelled form leaves STATUS at the user escape.
using KztTransformFormRoutine = void (*)(KztTransformForm& fields, Status& status);

// The control form of TRANSFORM in the graphics window ("ROTATION
// PARAMETER"): pixel sizes shown in microns, the other fields as held. CANCEL
// gives the user escape with FIELDS unchanged.
void kzt_transform_form(KztTransformForm& fields, Status& status);

// TRANSFORM, the graphical road of MOVE/ROTATE: FORM (the graphical
// interface's control form) gives the pixel sizes, centre, angle,
// translation and output region; the region of DATA is rotated and
// translated by exact area into MDATA (variances are not transformed), the
// memory axes continue the current axes' first value and step, and the
// pixel sizes become the ones entered. An escape changes nothing.
void KZT_TRANSFORM(KztTransformFormRoutine form, Index xmaxdat, Index ymaxdat,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float& x_pixel_size, float& y_pixel_size, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, KztMemoryExtent& memory,
                   Status& status);

// RE-BIN: whole factors sum blocks of input pixels from a prompted output
// start; real factors rescale about a reference origin into a prompted output
// region. MEMORY_FLAG, MEMORY and the memory pixel sizes are set only when the
// memory was written; an escape resets STATUS to good and changes nothing.
void KZT_REBIN(bool gui, float x_pixel_size, float y_pixel_size, Index xmaxdat, Index ymaxdat,
               std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const float> variances, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, bool variances_exist, bool& memory_flag,
               std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
               std::span<float> mvariances, KztMemoryExtent& memory, float& mx_pixel_size,
               float& my_pixel_size, Status& status);

// REFLECT: asks two points of the line (data coordinates) and the sub-pixels
// (above 4: area re-binning) and reflects the region into the same region of
// MDATA (and MVARIANCES); the memory axes become the current ones. GUI true:
// the two points are clicked on the displayed region and the output region
// comes from a form (area re-binning); CANCEL gives the user escape.
void KZT_REFLECT(bool gui, Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::span<const float> data,
                 std::span<const float> variances, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, bool variances_exist, std::span<float> mxaxis,
                 std::span<float> myaxis, std::span<float> mdata, std::span<float> mvariances,
                 KztMemoryExtent& memory, Status& status);

// TRANSPOSE: DATA(x, y) of the region into MDATA(y, x) with the variances,
// the axes swapped; refused with a warning (REFUSED true, STATUS good,
// nothing changed) when the transposed region does not fit the arrays.
void KZT_TRANSPOSE(bool gui, Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                   std::span<const float> yaxis, std::span<const float> data,
                   std::span<const float> variances, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, bool& refused, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, std::span<float> mvariances,
                   KztMemoryExtent& memory, Status& status);

// FLIP: mirrors the region (and the variances) left to right or top to
// bottom in place.
void KZT_FLIP(bool variances_exist, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<float> data, std::span<float> variances,
              Status& status);

// EXTEND: asks the new defined size (from the current size up to the arrays),
// sets the new elements (and variances) to 0.0, extends the axes with their
// last step and makes the region end at the new size.
void KZT_EXTEND(bool gui, Index xmaxdat, Index ymaxdat, bool variances_exist, Index& xnumdat,
                Index& ynumdat, Index xstrelm, Index ystrelm, Index& xendelm, Index& yendelm,
                std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                std::span<float> variances, Status& status);

// The memory written by one of these operations (its extent in MEMORY)
// described: regions, current texts, MEMORY_DEFINED true.
void kzt_describe_memory(KztDataSets& sets, const KztMemoryExtent& memory);

// TRANSPOSE of the program arrays' active region into the memory, through
// the window's boxes (GUI) or the terminal: the memory described, its X and
// Y texts and pixel sizes changed over. Without data (the arrays hold
// nothing read) it is refused as when the arrays cannot hold the result.
// False when it was refused.
bool kzt_transpose_to_memory(bool gui, KztDataSets& sets, Status& status);

// Keyboard branches on the program arrays.
void kzt_move_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_rebin_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_reflect_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_transpose_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_flip_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_extend_command(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
