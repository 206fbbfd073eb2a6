// The one place where the program tells the operation libraries which routine
// of a higher subsystem serves each of their upward calls. A slot left out
// stays empty until its subsystem is built.

#include "app/imageops/upcalls.hpp"
#include "app/main/program/program.hpp"

namespace kesta {

void kzt_fill_upcalls() {
  imageops_upcalls = ImageopsUpcalls{
      .inq_geometry = nullptr,  // the experiment geometry is not built yet
  };
}

}  // namespace kesta
