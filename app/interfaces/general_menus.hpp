#pragma once
// The general interfaces of the top menu and their sub-menus: image
// processing, maths with the interactive scaled subtraction, filters and
// geometric operations, file series, and macros / log file.

#include <span>
#include <string>
#include <string_view>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// IMAGE PROCESSING (GENERAL): input, display, arithmetic, filters,
// geometric transforms and output of the current data.
void KZT_GUI_IP(KztDataSets& sets, Status& status);

// The maths sub-menu on the active data region of the current data
// (variances follow when they exist). Entered only with data defined.
void KZT_GUI_MATHS(KztDataSets& sets, Status& status);

// DATA - factor x MDATA shown live over the active data region while the
// factor is adjusted; O.K. writes it into DATA and stores the factor under
// "MATHS_SUB_SCALE_FACTOR", CANCEL changes nothing.
void KZT_GUI_SCALEDSUB(KztDataSets& sets, Status& status);

// WORK (WORK_X x WORK_Y, element (i, j) for data element (XSTRELM + i,
// YSTRELM + j)) = DATA - FACTOR x MDATA over the region. An empty region
// leaves WORK untouched.
void KZT_SCALEDBIS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float factor, std::span<const float> data,
                   std::span<const float> mdata, Index work_x, Index work_y,
                   std::span<float> work);

// The factor after one step button of the scaled subtraction ("INCREASE 1%"
// ...); the decreases divide by the increases' factors, so each undoes its
// increase. FALSE for any other button.
bool kzt_scaled_step(std::string_view button, float& factor);

// The filter and geometric sub-menus of the image processing interface:
// their operations' results come back as the current data, the input kept
// in the memory.
void KZT_GUI_FILTER(KztDataSets& sets, Status& status);
void KZT_GUI_GEOMETRIC(KztDataSets& sets, Status& status);

// FILE SERIES: average, sum and composite of numbered file series.
void KZT_GUI_FS(KztDataSets& sets, Status& status);

// MACROS / LOG FILE: record, run and repeat macros, open and close the log.
void KZT_GUI_MACROS(KztDataSets& sets, Status& status);

// The file dialogues of the macro menu: the file proposed (YES) or another
// chosen, then opened; a failure shows its warning box and leaves STATUS
// good. A cancelled selection changes nothing.
void KZT_OPEN_OUTMACRO(std::string& file_name, Status& status);
void KZT_OPEN_INMACRO(std::string& file_name, Status& status);
void KZT_OPEN_LOG(bool& log_file_open, Status& status);

// RUN SEQUENCE: the first call sets a sequence up; every later call while it
// runs starts the macro for the next file, or ends the sequence.
void KZT_GUI_SEQUENCE(std::string& macro_file, Status& status);

// The help texts of these menus (boxes when GUI, else the terminal pager).
void KZT_GUI_IPHELP(bool gui, Status& status);
void KZT_GUI_FSHELP(bool gui, Status& status);
void KZT_GUI_MACROSHELP(bool gui, Status& status);
void KZT_GUI_SCALEDSUBHELP(bool gui, Status& status);
std::span<const std::string> kzt_iphelp_text();
std::span<const std::string> kzt_fshelp_text();
std::span<const std::string> kzt_macroshelp_text();
std::span<const std::string> kzt_scaledsubhelp_text();

}  // namespace kesta
