#pragma once
// Images made from a numbered file series: the pixel sum or average of the
// members, and a montage of the members side by side (cut to a region,
// background-subtracted and re-binned as asked).

#include <memory>
#include <span>
#include <string>

#include "app/imageops/series_definition.hpp"
#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "formats/gui_input.hpp"
#include "formats/row_blocks.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

struct KztDataSets;

// How series members (and the background of a montage) are read: the
// graphical file input's signature, FIO_GUI_INPUT unless replaced.
using KztSeriesReader = void (*)(TextLines title, int sequence, const ImageTarget& target,
                                 bool& data_defined, std::string& file_name, Status& status);
KztSeriesReader& kzt_series_reader();
// How members are opened for reading block by block, each block used while
// it is in the cache: the graphical input's block road (fio_gui_rows_input)
// unless replaced. WHOLE sends a member to the series reader above.
using KztSeriesRowReader = std::unique_ptr<RowSource> (*)(std::string& file_name, bool& whole,
                                                          Status& status);
KztSeriesRowReader& kzt_series_row_reader();

// Reads the members of SERIES after the first (the first is in DATA, read as
// XNUMDAT x YNUMDAT pixels of an image of FIRST_SIZE in its file: cut where
// that is larger; 0 x 0 when not known, for an image read whole) and adds
// the same part of each member into DATA, writing "INFO: Input " or
// "WARNING: File not input: " and the name; a member whose image is not, in
// its file, of the first one's size is not input ("WARNING: File not the
// size of the first file: " and its name first). Returns the number of
// images in the sum, the first included. A member whose read fails after
// part of it was added ends the sum with STATUS 110020 (the data then hold a
// partial sum).
Index kzt_series_sum(const KztFileSeries& series, FioImageSize first_size, Index xmaxdat,
                     Index ymaxdat, Index xnumdat, Index ynumdat, std::span<float> data,
                     Status& status);

// The montage layout: per-image width and height (the region re-binned by
// REBIN, integer division), images per row and rows, montage size.
struct MontageGeometry {
  Index per_row = 1, rebin = 1;
  Index width = 0, height = 0, rows = 0;
  Index xsize = 0, ysize = 0;
};
MontageGeometry kzt_montage_geometry(Index members, Index region_width, Index region_height,
                                     Index per_row, Index rebin);
// The proposed images per row, INT(SQRT(0.5 N) + 0.99), and re-bin factor,
// at most 8.
void kzt_montage_defaults(Index members, Index& per_row, Index& rebin);
// The first element (X, Y) of tile K (0-based): rows of tiles fill from the
// top of the montage down, each from left to right.
void kzt_montage_tile(const MontageGeometry& geometry, Index k, Index& x, Index& y);

// The file-series operations on the program's current data set. AVERAGE
// divides the sum by the number of images read. Refused: XMAXDAT < 1
// (110001), YMAXDAT < 1 (110002).
void KZT_AVERAGE(bool average, KztDataSets& sets, Status& status);
// May re-allocate the program arrays (after asking) when the montage does
// not fit; the memory data set is then lost.
void KZT_COMPOSITE(KztDataSets& sets, Status& status);

}  // namespace kesta
