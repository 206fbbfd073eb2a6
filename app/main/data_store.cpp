#include "app/main/data_store.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Code 1008 of the application module: the program arrays are not in the
// state the routine needs.
constexpr Status kKztBadState = kBaseApp + 1008;

std::span<float> float_span(float* address, Index count) {
  if (address == nullptr || count < 1) return {};
  return {address, static_cast<std::size_t>(count)};
}

Index image_elements(const KztArrays& arrays) {
  Index count = 0;
  if (!checked_product(arrays.xmaxdat, arrays.ymaxdat, count)) return 0;
  return count;
}

template <typename T>
void free_block(T*& address, Status& status) {
  if (address == nullptr) return;
  void* block = address;
  IO_FREE(block, status);
  address = nullptr;
}

// A block of COUNT elements of T, every one 0; false (status bad) on
// failure. A result that writes only its region leaves the rest of its
// array as it was: 0.0 on every machine until the array is first written,
// never what the allocator happened to leave there. The zeros come from the
// system's fresh pages, so large arrays cost nothing until they are used.
template <typename T>
bool allocate(Index count, T*& address, Status& status) {
  void* block = nullptr;
  io_calloc_array(count, sizeof(T), block, status);
  address = static_cast<T*>(block);
  return status == kStatusGood && address != nullptr;
}

// The memory described as holding the current data's active data region,
// title and labels, defined up to MXNUMDAT x MYNUMDAT.
void describe_memory(KztDataSets& sets, Index mxnumdat, Index mynumdat) {
  const KztArrays& a = vosq_kzt_arrays;
  sets.mxnumdat = mxnumdat;
  sets.mynumdat = mynumdat;
  sets.mxstrelm = a.xstrelm;
  sets.mystrelm = a.ystrelm;
  sets.mxendelm = a.xendelm;
  sets.myendelm = a.yendelm;
  sets.mtitle = sets.title;
  sets.mxlabel = sets.xlabel;
  sets.mylabel = sets.ylabel;
  sets.mzlabel = sets.zlabel;
  sets.memory_defined = true;
}

std::string cut_text(std::string text, std::size_t length) {
  if (text.size() > length) text.resize(length);
  return text;
}

}  // namespace

std::span<float> kzt_image(float* address) {
  return float_span(address, image_elements(vosq_kzt_arrays));
}

std::span<float> kzt_xline(float* address) { return float_span(address, vosq_kzt_arrays.xmaxdat); }

std::span<float> kzt_yline(float* address) { return float_span(address, vosq_kzt_arrays.ymaxdat); }

std::span<std::uint8_t> kzt_mask() {
  const Index count = image_elements(vosq_kzt_arrays);
  if (vosq_kzt_arrays.mask == nullptr || count < 1) return {};
  return {vosq_kzt_arrays.mask, static_cast<std::size_t>(count)};
}

bool kzt_arrays_bytes(Index xmaxdat, Index ymaxdat, bool memory_exist, bool variances_exist,
                      Index& bytes) {
  // Images of floats: the data and the copy a read is staged in, the
  // memory's, the variances and their staged copy, the memory's variances.
  const Index images = 2 + (memory_exist ? 1 : 0) + (variances_exist ? 2 : 0) +
                       (variances_exist && memory_exist ? 1 : 0);
  const Index axis_sets = memory_exist ? 2 : 1;
  Index elements = 0, image_bytes = 0, axis_bytes = 0;
  if (xmaxdat < 0 || ymaxdat < 0 || !checked_product(xmaxdat, ymaxdat, elements) ||
      !checked_product(elements, images * Index{sizeof(float)} + 1, image_bytes) ||
      !checked_product(xmaxdat + ymaxdat, axis_sets * Index{sizeof(float)}, axis_bytes) ||
      image_bytes > std::numeric_limits<Index>::max() - axis_bytes)
    return false;
  bytes = image_bytes + axis_bytes;
  return true;
}

namespace {

// The one line of program arrays that could not be allocated.
void arrays_not_allocated(Index xmaxdat, Index ymaxdat) {
  Status local = kStatusGood;
  IO_WRITE("ERROR: The program arrays of " + std::to_string(xmaxdat) + " by " +
               std::to_string(ymaxdat) + " elements could not be allocated",
           local);
}

// Whether arrays of XMAXDAT x YMAXDAT can be held at work.
bool arrays_held(Index xmaxdat, Index ymaxdat, bool memory_exist, bool variances_exist) {
  Index bytes = 0;
  return kzt_arrays_bytes(xmaxdat, ymaxdat, memory_exist, variances_exist, bytes) &&
         static_cast<std::uint64_t>(bytes) <= io_memory_limit()();
}

}  // namespace

void kzt_allocate_arrays(Index xmaxdat, Index ymaxdat, bool memory_exist, bool variances_exist,
                         bool mask_exist, KztArrays& arrays, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_ALLOCATE V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status code = dimension_error(xmaxdat, ymaxdat, kBaseApp); code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  if (!arrays_held(xmaxdat, ymaxdat, memory_exist, variances_exist)) {
    arrays_not_allocated(xmaxdat, ymaxdat);
    st_fail(status, kBaseCore + 1002, kPosition);
    return;
  }
  KztArrays fresh;
  fresh.xmaxdat = xmaxdat;
  fresh.ymaxdat = ymaxdat;
  Index elements = 0;
  bool ok = checked_product(xmaxdat, ymaxdat, elements);
  if (ok) {
    ok = allocate(elements, fresh.data, status) && allocate(xmaxdat, fresh.xaxis, status) &&
         allocate(ymaxdat, fresh.yaxis, status);
    if (ok && memory_exist)
      ok = allocate(elements, fresh.mdata, status) && allocate(xmaxdat, fresh.mxaxis, status) &&
           allocate(ymaxdat, fresh.myaxis, status);
    if (ok && variances_exist) {
      ok = allocate(elements, fresh.variances, status);
      if (ok && memory_exist) ok = allocate(elements, fresh.mvariances, status);
    }
    if (ok && mask_exist) ok = allocate(elements, fresh.mask, status);
  }
  if (ok && status == kStatusGood) {
    arrays.xmaxdat = fresh.xmaxdat;
    arrays.ymaxdat = fresh.ymaxdat;
    arrays.data = fresh.data;
    arrays.variances = fresh.variances;
    arrays.mask = fresh.mask;
    arrays.xaxis = fresh.xaxis;
    arrays.yaxis = fresh.yaxis;
    arrays.mdata = fresh.mdata;
    arrays.mvariances = fresh.mvariances;
    arrays.mxaxis = fresh.mxaxis;
    arrays.myaxis = fresh.myaxis;
    return;
  }
  // A size whose byte count overflows is refused before any allocation.
  if (status == kStatusGood) st_fail(status, kBaseCore + 1002, kPosition);
  Status local = kStatusGood;
  kzt_free_arrays(fresh, local);
  arrays_not_allocated(xmaxdat, ymaxdat);
}

void kzt_free_arrays(KztArrays& arrays, Status& status) {
  if (st_bad(status, "Subroutine KZT_FREE_ARRAYS V0.1")) return;
  free_block(arrays.data, status);
  free_block(arrays.xaxis, status);
  free_block(arrays.yaxis, status);
  free_block(arrays.mdata, status);
  free_block(arrays.mxaxis, status);
  free_block(arrays.myaxis, status);
  free_block(arrays.variances, status);
  free_block(arrays.mvariances, status);
  free_block(arrays.mask, status);
}

void kzt_undefined_extent(KztArrays& arrays) {
  arrays.xnumdat = arrays.xmaxdat;
  arrays.ynumdat = arrays.ymaxdat;
  arrays.xstrelm = 1;
  arrays.ystrelm = 1;
  arrays.xendelm = arrays.xmaxdat;
  arrays.yendelm = arrays.ymaxdat;
}

void kzt_create_mask(bool& mask_exist, Status& status) {
  if (st_bad(status, "Subroutine KZT_CREATE_MASK V0.1")) return;
  if (mask_exist && vosq_kzt_arrays.mask != nullptr) return;
  KztArrays& a = vosq_kzt_arrays;
  std::uint8_t* mask = nullptr;
  if (!allocate(image_elements(a), mask, status)) return;
  a.mask = mask;  // cleared: every pixel used
  mask_exist = true;
}

void kzt_allocate_vectors(KztVectors& vectors, Status& status) {
  if (st_bad(status, "Subroutine KZT_ALLOCATE_VECTORS V0.1")) return;
  float* block = nullptr;
  const Index count = Index{vectors.max_vec_values} * vectors.max_vectors;
  if (!allocate(count, block, status)) return;
  vectors.vectors = block;
  MA_RVALUE(vectors.max_vec_values, vectors.max_vectors, 1, 1, vectors.max_vec_values,
            vectors.max_vectors, 0.0f, float_span(block, count), status);
  vectors.num_vectors = 0;
  vectors.str_vectors.fill(vectors.max_vec_values + 1);
  vectors.end_vectors.fill(0);
  for (std::string& title : vectors.titles) title.clear();
}

void kzt_free_vectors(KztVectors& vectors, Status& status) {
  if (st_bad(status, "Subroutine KZT_FREE_VECTORS V0.1")) return;
  free_block(vectors.vectors, status);
}

void KZT_EXCHANGE(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_EXCHANGE V0.2";
  if (st_bad(status, kPosition)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (const Status code = dimension_error(a.xmaxdat, a.ymaxdat, kBaseApp); code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  std::swap(a.data, a.mdata);
  std::swap(a.xaxis, a.mxaxis);
  std::swap(a.yaxis, a.myaxis);
  std::swap(a.variances, a.mvariances);
  std::swap(a.xnumdat, sets.mxnumdat);
  std::swap(a.ynumdat, sets.mynumdat);
  std::swap(a.xstrelm, sets.mxstrelm);
  std::swap(a.ystrelm, sets.mystrelm);
  std::swap(a.xendelm, sets.mxendelm);
  std::swap(a.yendelm, sets.myendelm);
  std::swap(sets.title, sets.mtitle);
  std::swap(sets.xlabel, sets.mxlabel);
  std::swap(sets.ylabel, sets.mylabel);
  std::swap(sets.zlabel, sets.mzlabel);
  std::swap(sets.x_pixel_size, sets.mx_pixel_size);
  std::swap(sets.y_pixel_size, sets.my_pixel_size);
  std::swap(sets.data_defined, sets.memory_defined);
}

void kzt_store(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_STORE V0.1";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = vosq_kzt_arrays;
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    st_fail(status, kKztBadState, kPosition);
    return;
  }
  MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.data), 1, 1, a.xnumdat, a.ynumdat, a.xmaxdat,
           a.ymaxdat, kzt_image(a.mdata), status);
  MA_RCOPY(a.xmaxdat, 1, kzt_xline(a.xaxis), 1, 1, a.xnumdat, 1, a.xmaxdat, 1, kzt_xline(a.mxaxis),
           status);
  MA_RCOPY(a.ymaxdat, 1, kzt_yline(a.yaxis), 1, 1, a.ynumdat, 1, a.ymaxdat, 1, kzt_yline(a.myaxis),
           status);
  if (sets.variances_exist && a.variances != nullptr && a.mvariances != nullptr)
    MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.variances), 1, 1, a.xnumdat, a.ynumdat, a.xmaxdat,
             a.ymaxdat, kzt_image(a.mvariances), status);
  if (status != kStatusGood) return;
  describe_memory(sets, a.xnumdat, a.ynumdat);
  sets.mx_pixel_size = sets.x_pixel_size;
  sets.my_pixel_size = sets.y_pixel_size;
}

void kzt_recall(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_RECALL V0.1";
  if (st_bad(status, kPosition)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    st_fail(status, kKztBadState, kPosition);
    return;
  }
  MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.mdata), 1, 1, sets.mxnumdat, sets.mynumdat, a.xmaxdat,
           a.ymaxdat, kzt_image(a.data), status);
  MA_RCOPY(a.xmaxdat, 1, kzt_xline(a.mxaxis), 1, 1, sets.mxnumdat, 1, a.xmaxdat, 1,
           kzt_xline(a.xaxis), status);
  MA_RCOPY(a.ymaxdat, 1, kzt_yline(a.myaxis), 1, 1, sets.mynumdat, 1, a.ymaxdat, 1,
           kzt_yline(a.yaxis), status);
  if (sets.variances_exist && a.variances != nullptr && a.mvariances != nullptr)
    MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.mvariances), 1, 1, sets.mxnumdat, sets.mynumdat,
             a.xmaxdat, a.ymaxdat, kzt_image(a.variances), status);
  if (status != kStatusGood) return;
  a.xnumdat = sets.mxnumdat;
  a.ynumdat = sets.mynumdat;
  a.xstrelm = sets.mxstrelm;
  a.ystrelm = sets.mystrelm;
  a.xendelm = sets.mxendelm;
  a.yendelm = sets.myendelm;
  sets.title = sets.mtitle;
  sets.xlabel = sets.mxlabel;
  sets.ylabel = sets.mylabel;
  sets.zlabel = sets.mzlabel;
  sets.x_pixel_size = sets.mx_pixel_size;
  sets.y_pixel_size = sets.my_pixel_size;
  sets.data_defined = true;
}

void kzt_memory_result(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_MEMORY_RESULT V0.1";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = vosq_kzt_arrays;
  if (a.mxaxis == nullptr || a.myaxis == nullptr) {
    st_fail(status, kKztBadState, kPosition);
    return;
  }
  MA_RCOPY(a.xmaxdat, 1, kzt_xline(a.xaxis), 1, 1, a.xnumdat, 1, a.xmaxdat, 1, kzt_xline(a.mxaxis),
           status);
  MA_RCOPY(a.ymaxdat, 1, kzt_yline(a.yaxis), 1, 1, a.ynumdat, 1, a.ymaxdat, 1, kzt_yline(a.myaxis),
           status);
  if (status != kStatusGood) return;
  describe_memory(sets, a.xendelm, a.yendelm);
}

KztWorkImage::KztWorkImage(Index xmaxdat, Index ymaxdat) : size_(0) {
  Index count = 0;
  if (xmaxdat < 1 || ymaxdat < 1 || !checked_product(xmaxdat, ymaxdat, count))
    throw std::bad_alloc();
  size_ = static_cast<std::size_t>(count);
  values_ = std::make_unique_for_overwrite<float[]>(size_);
}

void KztBlockFree::operator()(float* block) const {
  void* address = block;
  Status local = kStatusGood;
  IO_FREE(address, local);
}

namespace {

// Extends an axis whose defined extent NUM ends before END: from a constant
// step taken from the last two values, or as pixel centres i - 0.5 when fewer
// than two values are defined; NUM becomes END.
void extend_axis(std::span<float> axis, Index& num, Index end) {
  if (end <= num) return;
  if (num < 2) {
    for (Index i = 1; i <= end; ++i)
      axis[static_cast<std::size_t>(i - 1)] = static_cast<float>(i) - 0.5f;
  } else {
    const float step =
        axis[static_cast<std::size_t>(num - 1)] - axis[static_cast<std::size_t>(num - 2)];
    for (Index i = num + 1; i <= end; ++i)
      axis[static_cast<std::size_t>(i - 1)] = axis[static_cast<std::size_t>(i - 2)] + step;
  }
  num = end;
}

void save_region(KztDataSets& sets, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KztInternalStores& s = kzt_internal_stores;
  if (!sets.data_defined) {
    IO_WRITE("WARNING: No data exists in the program array at present", status);
    return;
  }
  const int proposal = std::min(s.num_store + 1, kMaxStores);
  int number = proposal;
  IO_INPI(true, 1, proposal, true, "INTERNAL STORE NUMBER",
          {"Enter number of internal memory  to  use  to  store  active data region.",
           "By default a new memory will be used,  unless they are  all  being used,",
           "however each time a new memory is used more virtual memory is necessary."},
          {"Enter integer within given range"}, number, status);
  if (status != kStatusGood) return;
  if (const Status code =
          region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kBaseApp);
      code != 0) {
    st_fail(status, code, "Subroutine KZT_INTERNALMEMORY V0.2");
    return;
  }
  KztStore& store = s.stores[static_cast<std::size_t>(number - 1)];
  // The old blocks go first, so that a failed allocation leaves the store empty.
  store.data.reset();
  store.variances.reset();
  const Index nx = a.xendelm - a.xstrelm + 1;
  const Index ny = a.yendelm - a.ystrelm + 1;
  Index count = 0;
  if (!checked_product(nx, ny, count)) {
    st_fail(status, kBaseCore + 1002, "Subroutine KZT_INTERNALMEMORY V0.2");
    return;
  }
  float* data_block = nullptr;
  if (!allocate(count, data_block, status)) return;
  KztBlock data(data_block);
  KztBlock variances;
  if (sets.variances_exist && a.variances != nullptr) {
    float* variance_block = nullptr;
    if (!allocate(count, variance_block, status)) return;
    variances.reset(variance_block);
  }
  MA_RMOVE(a.xmaxdat, a.ymaxdat, kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, nx,
           ny, 1, 1, float_span(data.get(), count), status);
  if (variances)
    MA_RMOVE(a.xmaxdat, a.ymaxdat, kzt_image(a.variances), a.xstrelm, a.ystrelm, a.xendelm,
             a.yendelm, nx, ny, 1, 1, float_span(variances.get(), count), status);
  if (status != kStatusGood) return;
  store.data = std::move(data);
  store.variances = std::move(variances);
  store.xstrelm = a.xstrelm;
  store.ystrelm = a.ystrelm;
  store.xendelm = a.xendelm;
  store.yendelm = a.yendelm;
  store.title = cut_text(sets.title, 132);
  s.num_store = std::max(s.num_store, number);
}

void recover_region(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_INTERNALMEMORY V0.2";
  KztArrays& a = vosq_kzt_arrays;
  KztInternalStores& s = kzt_internal_stores;
  if (s.num_store == 0) {
    IO_WRITE("WARNING: No active data regions are presently stored internally", status);
    return;
  }
  int number = s.num_store;
  IO_INPI(true, 1, s.num_store, true, "INTERNAL STORE NUMBER",
          {"Enter number of internal memory to recover a previously stored active", "data region."},
          {"Enter integer within given range"}, number, status);
  if (status != kStatusGood) return;
  const KztStore& store = s.stores[static_cast<std::size_t>(number - 1)];
  if (!store.data) {
    IO_WRITE("WARNING: Internal store " + std::to_string(number) + " holds no data", status);
    return;
  }
  // After DIMENSIONS has made the arrays smaller a stored region may not fit.
  if (const Status code = region_error(a.xmaxdat, a.ymaxdat, store.xstrelm, store.ystrelm,
                                       store.xendelm, store.yendelm, kBaseApp);
      code != 0) {
    IO_WRITE("WARNING: The stored region does not fit into the present program arrays", status);
    st_fail(status, code, kPosition);
    return;
  }
  const Index nx = store.xendelm - store.xstrelm + 1;
  const Index ny = store.yendelm - store.ystrelm + 1;
  const Index count = nx * ny;
  MA_RMOVE(nx, ny, float_span(store.data.get(), count), 1, 1, nx, ny, a.xmaxdat, a.ymaxdat,
           store.xstrelm, store.ystrelm, kzt_image(a.data), status);
  if (sets.variances_exist && store.variances && a.variances != nullptr)
    MA_RMOVE(nx, ny, float_span(store.variances.get(), count), 1, 1, nx, ny, a.xmaxdat, a.ymaxdat,
             store.xstrelm, store.ystrelm, kzt_image(a.variances), status);
  if (status != kStatusGood) return;
  a.xstrelm = store.xstrelm;
  a.ystrelm = store.ystrelm;
  a.xendelm = store.xendelm;
  a.yendelm = store.yendelm;
  sets.title = cut_text(store.title, kKztTextLength);
  sets.data_defined = true;
  extend_axis(kzt_xline(a.xaxis), a.xnumdat, a.xendelm);
  extend_axis(kzt_yline(a.yaxis), a.ynumdat, a.yendelm);
}

}  // namespace

void KZT_INTERNALMEMORY(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_INTERNALMEMORY V0.2";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = vosq_kzt_arrays;
  if (const Status code = dimension_error(a.xmaxdat, a.ymaxdat, kBaseApp); code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  const KztInternalStores& s = kzt_internal_stores;
  IO_WRITE("INFO: There are currently " + format_i(s.num_store, 2) +
               " active data regions stored internally",
           status);
  for (int i = 1; i <= s.num_store; ++i)
    IO_WRITE("     " + format_i(i, 2) + ": " +
                 cut_text(s.stores[static_cast<std::size_t>(i - 1)].title, 70),
             status);
  bool save = s.num_store == 0;
  IO_INPL(false, false, false, true, "SAVE ACTIVE DATA REGION (\"NO\": TO RECOVER)",
          {"You are given the choice of saving the current active data region (ADR)",
           "or recovering a previously saved region (if one exists). Enter \"YES\" to",
           "save the current ADR within internal program memory, or \"NO\" to recover",
           "a previously saved ADR.  Note:  Each time  an  ADR is saved the program",
           "needs to allocate more dynamic memory,  so  this command should be used",
           "with care,  and  may  fail if  the computer system cannot allocate more", "memory."},
          {"Enter \"YES\" or \"NO\""}, save, status);
  if (status != kStatusGood) return;
  if (save)
    save_region(sets, status);
  else
    recover_region(sets, status);
}

void KZT_INFORMATION(const KztDataSets& sets, Status& status) {
  if (st_bad(status, "Subroutine KZT_INFORMATION V0.1")) return;
  const KztArrays& a = vosq_kzt_arrays;
  IO_WRITE("INFO: Program arrays have " + format_i(a.xmaxdat, 10) + " elements in the X-direction",
           status);
  IO_WRITE("INFO: Program arrays have " + format_i(a.ymaxdat, 10) + " elements in the Y-direction",
           status);
  IO_WRITE(sets.variances_exist
               ? "INFO: Variance arrays exist, error propagation will be performed."
               : "INFO: No variance arrays exist, (no error propagation).",
           status);
  const auto describe = [&status](std::string_view what, std::string_view adr, Index xnum,
                                  Index ynum, Index xs, Index ys, Index xe, Index ye) {
    const std::string set(what);
    const std::string region(adr);
    IO_WRITE(
        "INFO: " + set + "; number of defined elements in the X-direction " + format_i(xnum, 10),
        status);
    IO_WRITE(
        "INFO: " + set + "; number of defined elements in the Y-direction " + format_i(ynum, 10),
        status);
    IO_WRITE("INFO: Start element of " + region + "ADR in the X-direction is " + format_i(xs, 10),
             status);
    IO_WRITE("INFO: Start element of " + region + "ADR in the Y-direction is " + format_i(ys, 10),
             status);
    IO_WRITE("INFO: End element of " + region + "ADR in the X-direction is   " + format_i(xe, 10),
             status);
    IO_WRITE("INFO: End element of " + region + "ADR in the Y-direction is   " + format_i(ye, 10),
             status);
  };
  if (sets.data_defined) {
    IO_WRITE("INFO: Current data is defined", status);
    describe("Current data", "", a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm);
  } else {
    IO_WRITE("INFO: No current data", status);
  }
  if (sets.memory_defined) {
    IO_WRITE("INFO: Memory defined", status);
    describe("Memory", "memory ", sets.mxnumdat, sets.mynumdat, sets.mxstrelm, sets.mystrelm,
             sets.mxendelm, sets.myendelm);
  } else {
    IO_WRITE("INFO: Memory is not defined", status);
  }
}

}  // namespace kesta
