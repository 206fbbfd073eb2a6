#pragma once
// Two Fourier operations on the active data region, each writing a new data
// set into the memory: the 2-D power spectrum and the circular
// autocorrelation. Both need sides that are powers of two.

#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// The memory a Fourier operation writes: its defined flag, extent, region,
// axes, data and texts.
struct KztMemoryOut {
  bool& defined;
  Index& xnumdat;
  Index& ynumdat;
  Index& xstrelm;
  Index& ystrelm;
  Index& xendelm;
  Index& yendelm;
  std::span<float> xaxis;
  std::span<float> yaxis;
  std::span<float> data;
  std::string& title;
  std::string& xlabel;
  std::string& ylabel;
  std::string& zlabel;
};

// MDATA(u + 1, v + 1) = |F(u, v)|^2 of the region for every frequency pair,
// the zero frequency at (1, 1). Sides that are not powers of two, or a NaN
// or infinite element in the region, are warned about and leave the memory
// as it was.
void KZT_POWERSPEC(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, const KztMemoryOut& memory, Status& status);

// The power spectrum of the NX x NY block at (1, 1) of DATA (declared
// XMAXDAT x YMAXDAT), in place; NX and NY powers of two.
void kzt_power_spectrum(Index xmaxdat, Index ymaxdat, Index nx, Index ny, std::span<float> data,
                        Status& status);

// The circular autocorrelation, the zero shift optionally moved to the
// centre (asked, remembered); refused as the power spectrum is.
void KZT_AUTOCORRELATION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                         std::span<const float> data, const KztMemoryOut& memory, Status& status);

// The keyboard branches (see KztCommand).
void kzt_command_powerspec(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_autocorrelation(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
