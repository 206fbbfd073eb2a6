#pragma once
// Detector formats of a fixed binary header (or none) and a plain pixel
// array: Hamamatsu (128 bytes of little-endian 16-bit words, an "IM" variant
// and another; the file's first pixel the image's top right), Photometrics
// (172 bytes; a stack of unsigned 16-bit images, top row first), Princeton
// (4100 bytes; a stack of 2- or 4-byte images, top row first), DIP-2000
// (2500 x 2500 16-bit values in 5000-byte records, negative values folded)
// and WESS (1-byte pixels, the size given by the user, read in bins).

#include <string>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"
#include "formats/tiff_format.hpp"

namespace kesta {

// The file routines: PATH into a scratch image, refused with a message
// naming the file when a header cannot be read, sizes are below 1, a stack
// cannot be divided into frames, an image is not in the file or the file
// cannot hold the data. IMAGE numbers count from 1.
ImageRead read_hamamatsu_file(const std::string& path, const ReadRequest& request,
                              Status& status);
ImageRead read_photometrics_file(const std::string& path, const ReadRequest& request,
                                 Index image, Status& status);
ImageRead read_princeton_file(const std::string& path, const ReadRequest& request, Index image,
                              Status& status);
ImageRead read_dip2000_file(const std::string& path, const ReadRequest& request, bool swap,
                            Status& status);
// WESS: a file of rows of X_SIZE bytes; REGION summed in bins (counted from
// the file's first row and column).
ImageRead read_wess_file(const std::string& path, const ReadRequest& request, Index x_size,
                         Index y_size, const TiffRegion& region, Status& status);

// The number of images of a Photometrics or Princeton stack (0 after a
// message when the header cannot be read).
Index photometrics_images(const std::string& path, Status& status);
Index princeton_images(const std::string& path, Status& status);

// Keyboard roads: "DATA FILE NAME" until it opens, then the format's
// questions (image number of a stack, byte swapping, WESS sizes and region).
ImageRead hamamatsu_keyboard_read(const ReadRequest& request, std::string& file_name,
                                  Status& status);
ImageRead photometrics_keyboard_read(const ReadRequest& request, std::string& file_name,
                                     Status& status);
ImageRead princeton_keyboard_read(const ReadRequest& request, std::string& file_name,
                                  Status& status);
ImageRead dip2000_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status);
ImageRead wess_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

}  // namespace kesta
