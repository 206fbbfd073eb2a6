#include "formats/reader_support.hpp"

#include <algorithm>

#include "core/region.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

bool fio_open_input(const std::string& path, int& stream, Status& status) {
  std::string problem;
  if (!open_input_file(path, problem)) {
    report_unread_file(path, problem, status);
    return false;
  }
  int open = 0;
  FIO_FILEOPEN(path, "READ", open, stream, status);
  if (status != kStatusGood) return false;
  if (open != 0) {
    report_unread_file(path, "cannot be opened", status);
    return false;
  }
  return true;
}

FioInputClose::~FioInputClose() {
  int closed = 0;
  FIO_FILECLOSEC(stream_, closed);
}

void read_into_target(ImageRead (*read)(const ReadRequest&, std::string&, Status&),
                      const ImageTarget& target, std::string& file_name, int& retstat,
                      std::string_view position, Status& status) {
  if (st_bad(status, position)) return;
  retstat = 1;
  if (const Status e = dimension_error(target.xmaxdat, target.ymaxdat, kBaseFormats); e != 0) {
    st_fail(status, e, position);
    return;
  }
  if (!target_holds(target)) {
    st_fail(status, kBaseFormats + 1, position);
    return;
  }
  ImageRead image = read({target.xmaxdat, target.ymaxdat, target.variances_exist}, file_name,
                         status);
  retstat = image.retstat;
  if (!image.ok() || status != kStatusGood) return;
  commit_image(image.image, target);
}

void variances_from_data(ScratchImage& image) {
  if (!image.variances) return;
  for (Index y = 1; y <= image.ynumdat; ++y) {
    const Index at = element(1, y, image.xmaxdat);
    std::copy_n(image.data.get() + at, image.xnumdat, image.variances.get() + at);
  }
}

void describe_raw_image(ScratchImage& image, const std::string& title) {
  image.title = title;
  image.xlabel = "Columns";
  image.ylabel = "Rows";
  image.zlabel = "Intensity";
}

}  // namespace kesta
