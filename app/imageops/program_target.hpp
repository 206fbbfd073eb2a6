#pragma once
// The program arrays as the target of an image read, for every command and
// menu that reads a file into the current data.

#include "app/main/data_store.hpp"
#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The reader reports through its own flag whether the file held variances.
// A file without them leaves the program's variance arrays in use, so after
// the read `clear_unread_variances` sets them to zero over the new image
// rather than leaving the old image's values there.
class ProgramImageTarget {
 public:
  explicit ProgramImageTarget(KztDataSets& sets);
  ProgramImageTarget(const ProgramImageTarget&) = delete;
  ProgramImageTarget& operator=(const ProgramImageTarget&) = delete;

  const ImageTarget& target() const { return target_; }
  void clear_unread_variances(Status& status) const;

 private:
  KztDataSets& sets_;
  bool variances_read_;
  ImageTarget target_;
};

}  // namespace kesta
