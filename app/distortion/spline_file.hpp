#pragma once
// The spline file: a text file holding the valid region, grid spacing, pixel
// sizes and the knots and coefficients of the X and Y distortion splines.

#include <string>

#include "app/distortion/spline.hpp"
#include "core/types.hpp"

namespace kesta {

// Asks for the output file (default the last name written in the run, first
// "spatial.spline") and writes SET to it. The file is replaced only when the
// whole of it was written. Knot counts outside 1..XMAXKNOTS (YMAXKNOTS) give
// 110005 (110006).
void KZT_OUT_SPATIAL(const SplineSet& set, Index xmaxknots, Index ymaxknots, Status& status);

// Reads a spline file into SET. Without NAME_GIVEN the name is asked for,
// FILE_NAME being the default (and receiving the name used). RETSTAT: 0 read;
// 1 a knot count outside 8..XMAXKNOTS (YMAXKNOTS); 2 not a distorted-to-ideal
// spline file, or knots or valid region out of order; 3 not opened or ended
// early. A value that does not convert gives STATUS 111008. SET changes only
// when the whole file was accepted; every refusal names the file and fault.
void KZT_IN_SPATIAL(bool name_given, Index xmaxknots, Index ymaxknots, std::string& file_name,
                    int& retstat, SplineSet& set, Status& status);

}  // namespace kesta
