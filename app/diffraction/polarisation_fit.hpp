#pragma once
// The polarisation factor from the azimuthal variation of the integrated
// intensities of ring coordinates: the factor that makes the corrected
// intensity constant around every ring.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

// The ring coordinates a polarisation fit reads, in the layout of the ring
// coordinate block: column k (MAX_COORDINATES values) of INTENSITIES and
// AZIMUTHS (radians, anticlockwise from +X) belongs to ring k, whose search
// radius (metres) is RADII(k) and whose count is NUM_COORDINATES(k).
struct PolarisationRings {
  Index max_coordinates = 0;
  std::span<const int> num_coordinates;
  std::span<const float> intensities;
  std::span<const float> azimuths;
  std::span<const float> radii;
};

// Fits the factor P (the polarisation divisor 0.5 ((1 + C) - (1 - C)
// cos(2 azimuth) P), C = D^2 / (R^2 + D^2)) over rings 1 .. NUM_RINGS.
// POLARISATION in and out, unchanged when the fit fails (a warning). Codes
// (+110000): 1 MAX_RINGS < 1 or spans shorter than the rings; 5 NUM_RINGS
// outside 0 .. MAX_RINGS or a count outside 0 .. MAX_COORDINATES; 9999 with
// "ERROR: There are no coordinates to fit !" when there are none.
void KZT_LSQPOLARISATION(float sample_distance, int max_rings, int num_rings,
                         const PolarisationRings& rings, float& polarisation, Status& status);

// The model function (argument list of MA_MODELFIT's callback): parameters
// (P, distance), PASS_1 the PolarisationRings, PASS_2 the number of rings.
// Each coordinate's residual is its corrected intensity minus the mean of its
// ring's corrected intensities.
void KZT_FUNPOLARISATION(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                         std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, void* pass_1, void* pass_2, void* pass_3,
                         void* pass_4, int num_parameters, std::span<const float> params,
                         Index xmaxmod, Index ymaxmod, bool model_in_data_frame, int& terminate,
                         std::span<float> model, Status& status);

}  // namespace kesta
