#pragma once
// The program's two data sets of identical shape (current data and memory),
// the program arrays behind them, the vector arrays of the multiple 1-D
// interfaces, and the routines that work on the data sets as wholes:
// EXCHANGE, STORE and RECALL, the internal stores and the INFORMATION report.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/types.hpp"

namespace kesta {

// Status codes of the application module (base 110000).
inline constexpr Status kKztBadXDimension = kBaseApp + 1;
inline constexpr Status kKztBadYDimension = kBaseApp + 2;

// VOSQ_KZT_ARRAYS: the declared dimensions of every data-set array, the
// defined extent of the current data, the active data region, and the
// addresses of the program arrays (nullptr while not allocated).
struct KztArrays {
  Index xmaxdat = 0;
  Index ymaxdat = 0;
  Index xnumdat = 0;
  Index ynumdat = 0;
  Index xstrelm = 1;
  Index ystrelm = 1;
  Index xendelm = 1;
  Index yendelm = 1;
  float* data = nullptr;
  float* variances = nullptr;
  std::uint8_t* mask = nullptr;
  float* xaxis = nullptr;
  float* yaxis = nullptr;
  float* mdata = nullptr;
  float* mvariances = nullptr;
  float* mxaxis = nullptr;
  float* myaxis = nullptr;
  // DIMENSIONS took away the variance arrays that the run had (from -var or
  // the start-up form), so advice to start with -var would be wrong.
  bool variances_removed = false;
};
inline KztArrays vosq_kzt_arrays;

// Views of the program arrays of the block: an image array (XMAXDAT x
// YMAXDAT), an X axis (XMAXDAT) or a Y axis (YMAXDAT). Empty for a null address.
std::span<float> kzt_image(float* address);
std::span<float> kzt_xline(float* address);
std::span<float> kzt_yline(float* address);
std::span<std::uint8_t> kzt_mask();

// The vector arrays: 50 vectors of 500 values (one block, vector after
// vector), their start and end indices (empty: start 501, end 0) and titles.
inline constexpr int kMaxVecValues = 500;
inline constexpr int kMaxVectors = 50;
struct KztVectors {
  int max_vec_values = kMaxVecValues;
  int max_vectors = kMaxVectors;
  int num_vectors = 0;
  std::array<int, kMaxVectors> str_vectors{};
  std::array<int, kMaxVectors> end_vectors{};
  float* vectors = nullptr;  // max_vec_values x max_vectors reals
  std::array<std::string, kMaxVectors> titles{};
};

// The data-set argument list that the main program hands to the keyboard
// loop and to the graphical interface. The declared dimensions, the current
// extent and the active data region are the words of vosq_kzt_arrays.
struct KztDataSets {
  std::string version;
  bool graphics_on = false;
  std::string input_file = "no_data.dat";
  bool data_defined = false;
  bool memory_exist = true;
  bool memory_defined = false;
  bool variances_exist = false;
  bool mask_exist = false;
  bool log_file_open = false;
  // Current data description (texts of at most 80 characters).
  std::string title;
  std::string xlabel;
  std::string ylabel;
  std::string zlabel;
  float x_pixel_size = 1.0e-4f;
  float y_pixel_size = 1.0e-4f;
  // Memory description, meaningful while memory_defined.
  Index mxnumdat = 0;
  Index mynumdat = 0;
  Index mxstrelm = 0;
  Index mystrelm = 0;
  Index mxendelm = 0;
  Index myendelm = 0;
  std::string mtitle;
  std::string mxlabel;
  std::string mylabel;
  std::string mzlabel;
  float mx_pixel_size = 1.0e-4f;
  float my_pixel_size = 1.0e-4f;
  KztVectors vectors;
};

// Length of titles and labels.
inline constexpr std::size_t kKztTextLength = 80;

// The bytes the program arrays of XMAXDAT x YMAXDAT take at work: the data,
// its axes and, as asked, the memory's and the variances, with the mask
// (made on first use) and the copy an image is read into before it becomes
// the data (and its variances). False when the count overflows.
bool kzt_arrays_bytes(Index xmaxdat, Index ymaxdat, bool memory_exist, bool variances_exist,
                      Index& bytes);

// Allocates a complete set of program arrays of XMAXDAT x YMAXDAT in the
// start-up order (DATA, XAXIS, YAXIS, then the memory arrays, the variance
// arrays and the mask as asked; the mask cleared). Sizes are checked for
// overflow, and arrays whose bytes at work (kzt_arrays_bytes) are more than
// the process can hold (io_memory_limit) are refused before any is
// allocated: they would be promised and then fail the machine when written.
// On success ARRAYS receives the dimensions and the addresses (its other
// words untouched); on failure a message names the sizes, everything got so
// far is freed, ARRAYS is left as it was and STATUS is 11002.
void kzt_allocate_arrays(Index xmaxdat, Index ymaxdat, bool memory_exist, bool variances_exist,
                         bool mask_exist, KztArrays& arrays, Status& status);
// Frees every allocated array of ARRAYS and clears its address (the other
// words stay).
void kzt_free_arrays(KztArrays& arrays, Status& status);

// While no data is defined: the extent is the whole arrays and the active
// data region lies inside them.
void kzt_undefined_extent(KztArrays& arrays);

// The mask on first use: allocated and cleared (nothing masked) when it does
// not exist yet; MASK_EXIST becomes true only when that succeeded.
void kzt_create_mask(bool& mask_exist, Status& status);

// The vector arrays: allocated, zeroed and marked empty; freed.
void kzt_allocate_vectors(KztVectors& vectors, Status& status);
void kzt_free_vectors(KztVectors& vectors, Status& status);

// Swaps the current data and the memory: addresses, extents, regions, titles,
// labels, pixel sizes and defined flags. Nothing is copied; the mask, the
// variance flag and the declared dimensions stay.
void KZT_EXCHANGE(KztDataSets& sets, Status& status);

// STORE: the current data set (its whole defined extent, axes, variances and
// description) into the memory; MEMORY_DEFINED true.
void kzt_store(KztDataSets& sets, Status& status);
// RECALL: the memory into the current data; DATA_DEFINED true.
void kzt_recall(KztDataSets& sets, Status& status);
// The description of a result that an operation wrote into the memory over
// the active data region: extent and region from the active data region,
// titles and labels from the current data, axes copied, MEMORY_DEFINED true.
void kzt_memory_result(KztDataSets& sets, Status& status);

// A work image of the program arrays' shape for a result written over part
// of it: allocated without being written, so that only the pages the result
// writes become resident and a result over a small region of large arrays
// costs that region, never the whole arrays. Its values are undefined until
// written: a user zeroes what it reads before writing it. Throws
// std::bad_alloc when the memory cannot be had.
class KztWorkImage {
 public:
  KztWorkImage(Index xmaxdat, Index ymaxdat);
  std::span<float> pixels() const { return {values_.get(), size_}; }

 private:
  std::unique_ptr<float[]> values_;
  std::size_t size_;
};

// INTERNAL MEMORY: saves the active data region into one of 10 stores or
// brings a stored region back.
void KZT_INTERNALMEMORY(KztDataSets& sets, Status& status);

// INFORMATION: the array sizes, extents, regions and flags.
void KZT_INFORMATION(const KztDataSets& sets, Status& status);

// The internal stores of INTERNAL MEMORY, kept for the whole run.
inline constexpr int kMaxStores = 10;
struct KztBlockFree {
  void operator()(float* block) const;
};
using KztBlock = std::unique_ptr<float, KztBlockFree>;
struct KztStore {
  KztBlock data;       // the saved region, column after column; empty when none
  KztBlock variances;  // only when variances existed at saving
  Index xstrelm = 0;
  Index ystrelm = 0;
  Index xendelm = 0;
  Index yendelm = 0;
  std::string title;  // at most 132 characters
};
struct KztInternalStores {
  int num_store = 0;  // the highest store number in use
  std::array<KztStore, kMaxStores> stores;
};
inline KztInternalStores kzt_internal_stores;

}  // namespace kesta
