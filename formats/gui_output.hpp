#pragma once
// The graphical road out of the image formats: the menu "CHOOSE OUTPUT FILE
// FORMAT" and the call of the writer its button names, through the same
// writers as the keyboard OUTPUT DATA menu.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Shows the menu and returns the chosen button's text in FORMAT; "CANCEL"
// gives the user escape. "?" and "HELP" show their texts and ask again.
void FIO_INP_OUTPUT(std::string& format, Status& status);

// Writes the active data region in FORMAT (a button of FIO_INP_OUTPUT; any
// other name writes nothing) with the writer's graphical dialogue. With
// FILE_SERIES every writer writes to OUTPUT_FILE without asking, taking the
// proposed answers to its other questions (TIFF: the bits of its button and
// the proposed range); "BSL/OTOKO", whose data file would take the next
// member's name, writes nothing and says so (RETSTAT 1, no box). RETSTAT (0 first) is the
// writer's: 1 shows "OUTPUT FILE COULD NOT BE OPENED", 2 "ERROR OCCURRED
// DURING FILE OUTPUT".
// XMAXDAT < 1 gives 180001, YMAXDAT < 1 180002.
void FIO_GUI_OUT(std::string_view input_file, std::string_view format, bool file_series,
                 Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                 std::span<const float> data, std::span<const float> variances,
                 std::string_view title, std::string_view xlabel, std::string_view ylabel,
                 std::string_view zlabel, bool variances_exist, float x_pixel_size,
                 float y_pixel_size, std::string& output_file, int& retstat, Status& status);

// One graphical output: the menu, then the writer. Cancelling is no error.
void FIO_GUI_OUTPUT(std::string_view input_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, std::span<const float> xaxis,
                    std::span<const float> yaxis, std::span<const float> data,
                    std::span<const float> variances, std::string_view title,
                    std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                    bool variances_exist, float x_pixel_size, float y_pixel_size,
                    Status& status);

}  // namespace kesta
