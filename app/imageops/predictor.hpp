#pragma once
// Lossless predictor transforms: each pixel of the active data region is
// replaced, in the memory, by the integer difference between the pixel and a
// prediction from neighbours already seen (left a, below b, below-left c,
// below-right d), or by an iterated pairwise mean/difference pyramid. The
// entropy of the result shows how well the image would compress.

#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// The predictor choices: 1..7 and 9..11 predict from neighbours, 8 is the
// pyramid of ITERATIONS pair passes.
inline constexpr int kPyramidPredictor = 8;

// Asks the predictor (and for the pyramid the iterations), then writes the
// residuals of the region into MDATA at the same places and copies the axes.
// GUI is for the graphical interface, which asks the same questions.
void KZT_PREDICTOR(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<const float> xaxis,
                   std::span<const float> yaxis, std::span<const float> data, Index& mxstrelm,
                   Index& mystrelm, Index& mxendelm, Index& myendelm, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, Status& status);

// The transform itself, without questions or checks (the region lies inside
// both arrays, CHOICE is 1..11, ITERATIONS 1..12 for the pyramid).
void kzt_predict(int choice, int iterations, Index xmaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<const float> data, std::span<float> mdata);

// The keyboard branch (see KztCommand).
void kzt_command_predictor(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
