#pragma once
// Block-wise reading of an image file's pixels, for work that uses each
// block of rows while it is still in the cache (the sum or montage of a file
// series) instead of reading the whole image into memory and passing over it
// again. A reader that offers it checks the whole file when opening it, as
// its whole read does, so that a file refused is refused before any of its
// pixels is used.

#include <span>

#include "core/types.hpp"

namespace kesta {

class RowSource {
 public:
  RowSource(Index xnumdat, Index ynumdat) : xnumdat_(xnumdat), ynumdat_(ynumdat) {}
  virtual ~RowSource() = default;
  RowSource(const RowSource&) = delete;
  RowSource& operator=(const RowSource&) = delete;

  // The image's extent.
  Index xnumdat() const { return xnumdat_; }
  Index ynumdat() const { return ynumdat_; }
  // COUNT rows from row Y on (within 1..YNUMDAT) into VALUES, XNUMDAT values
  // a row, one row after another; false after the line naming the file when
  // a read fails.
  virtual bool rows(Index y, Index count, std::span<float> values, Status& status) = 0;

 private:
  Index xnumdat_, ynumdat_;
};

}  // namespace kesta
