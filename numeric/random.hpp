#pragma once
// Uniform random deviates from three congruential generators with a shuffle
// table, Poisson deviates built on them, and Poisson noise over an image
// region. The generator's state lives for the run, so the same calls give the
// same sequence in every run.

#include <span>

#include "core/types.hpp"

namespace kesta {

// A uniform deviate in 0..1. IDUM < 0, or the first call of the run, re-seeds
// the generator from IDUM and sets IDUM to 1. Entered with a bad STATUS: -1.0.
float MA_RAND1(int& idum, Status& status);

// A Poisson deviate of the given MEAN (MEAN < 0 or not a number gives 20021).
// Means beyond the integer range are clamped so that the result fits.
// Entered with a bad STATUS: -1.
int MA_POISSON(float mean, Status& status);

// MODE < 0: replaces every element of the region by a Poisson deviate whose
// mean is the element. A negative (or not-a-number) element anywhere in the
// region gives 20021 before anything is written. MODE >= 0 writes
// "NOT IMPLEMENTED YET" and changes nothing.
void MA_2DPOISSON(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float mode, std::span<float> array, Status& status);

}  // namespace kesta
