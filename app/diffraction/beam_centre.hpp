#pragma once
// Where the direct beam meets the detector: the beam-centre menu (2-D
// Gaussian fit of the direct-beam mark, averaged symmetric pairs, circle or
// ellipse through ring points, one clicked point, the keyboard, no change)
// and the 2-D Gaussian fit itself.

#include <cstdint>
#include <span>

#include "app/main/data_store.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// Method codes the menu returns.
inline constexpr int kBeamNoChange = 0;
inline constexpr int kBeamKeyboard = 1;
inline constexpr int kBeamGraphical = 2;
inline constexpr int kBeamAveraged = 3;
inline constexpr int kBeamCircle = 4;
inline constexpr int kBeamEllipse = 5;
inline constexpr int kBeamGaussian = 6;
inline constexpr int kBeamProjection = 7;
inline constexpr int kBeamGaussianFailed = -1;

// The menu. IMAGE is the displayed data (dimensions, region, arrays, texts;
// its mask_data is handed to the display). GUI selects the window's menu,
// else the terminal's (with the image shown while the window exists).
// X_BEAM, Y_BEAM in and out (metres, pixel (i, j) centred at ((i - 0.5) x
// X_PIXEL_SIZE, (j - 0.5) x Y_PIXEL_SIZE)); RADIUS_1, RADIUS_2, ANGLE, ERROR
// out from the circle and ellipse methods (metres, radians). With METHOD 1 or
// more the centre is also stored under the beam-centre keys (pixels).
void KZT_BEAMCENTRE(bool gui, const GsDisplayedImage& image, float x_pixel_size, float y_pixel_size,
                    bool info, int& method, float& x_beam, float& y_beam, float& radius_1,
                    float& radius_2, float& angle, float& error, Status& status);

void KZT_BEAMCENTREHELP(bool gui, Status& status);

// The two lines of the radial position error of fitted ring points (metres
// in, millimetres and X pixels out), or the line saying it is undetermined
// with fewer than UNDETERMINED_BELOW points, or that it could not be
// estimated where ERROR is no finite, non-negative number.
void kzt_radial_error_lines(Index num_points, Index undetermined_below, float error,
                            float x_pixel_size, Status& status);

// The current data of the program arrays as the image the menus show (the
// texts stay SETS' own, so SETS must outlive the result): with the mask when
// there is one, or, given MASK_DATA, only while MASK_DATA (an interface's
// flag of whether the current data are shown and treated with the mask).
GsDisplayedImage kzt_current_image(const KztDataSets& sets);
GsDisplayedImage kzt_current_image(const KztDataSets& sets, bool mask_data);

// The direct-beam mark near the clicked pixel (X_PIXEL, Y_PIXEL): start
// values, then the Gaussian fit. RETSTAT 0 found (centre in pixel
// coordinates), 1 no peak stands out within the active region, above 1 the
// fit's failure code.
void KZT_BEAMGAUSSIAN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, Index x_pixel, Index y_pixel,
                      int& retstat, float& x_centre, float& y_centre, Status& status);

// The 2-D Gaussian (X centre, Y centre, height, sigma 1, sigma 2, angle of
// axis 1, background; pixel units and radians) fitted to the region; all in
// and out. MEAN_SQUARE is the sum of squares per region pixel.
void KZT_LSQGAUSSIAN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm, float& x_centre, float& y_centre,
                     float& height, float& sigma_1, float& sigma_2, float& angle, float& background,
                     int& end_code, float& mean_square, Status& status);

// Its model function (argument list of MA_MODELFIT's callback), in the model
// array sized to the region.
void KZT_FUNGAUSSIAN(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                     std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, void* pass_1, void* pass_2, void* pass_3,
                     void* pass_4, int num_parameters, std::span<const float> params, Index xmaxmod,
                     Index ymaxmod, bool model_in_data_frame, int& terminate,
                     std::span<float> model, Status& status);

}  // namespace kesta
