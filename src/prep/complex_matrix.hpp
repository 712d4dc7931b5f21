#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "model/constants.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qbr {

// A dense complex matrix, column-major and contiguous (the layout LAPACK and BLAS
// work on), addressed with 1-based indices. Created all zero; the zero pages come
// from the operating system, so a large matrix costs nothing until it is written.
class ComplexMatrix {
 public:
  ComplexMatrix() = default;
  // Throws std::bad_alloc when the memory cannot be had.
  ComplexMatrix(std::int64_t rows, std::int64_t cols) : rows_(rows), cols_(cols) {
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (count > 0) {
      if (count > SIZE_MAX / sizeof(Complex)) throw std::bad_alloc();
      data_.reset(static_cast<Complex*>(std::calloc(count, sizeof(Complex))));
      if (!data_) throw std::bad_alloc();
      adviseHugePages(data_.get(), count * sizeof(Complex));
    }
  }

  std::int64_t rows() const { return rows_; }
  std::int64_t cols() const { return cols_; }
  bool empty() const { return !data_; }

  Complex& operator()(std::int64_t row, std::int64_t col) {
    return data_[static_cast<std::size_t>((col - 1) * rows_ + (row - 1))];
  }
  const Complex& operator()(std::int64_t row, std::int64_t col) const {
    return data_[static_cast<std::size_t>((col - 1) * rows_ + (row - 1))];
  }
  // First entry of column col (1-based); columns are contiguous.
  Complex* column(std::int64_t col) { return data_.get() + (col - 1) * rows_; }
  const Complex* column(std::int64_t col) const { return data_.get() + (col - 1) * rows_; }
  Complex* data() { return data_.get(); }
  const Complex* data() const { return data_.get(); }

  void release() {
    data_.reset();
    rows_ = 0;
    cols_ = 0;
  }

 private:
  // The fill writes a fresh matrix all over; on 2 MiB pages its first touch costs one
  // page fault per 2 MiB instead of one per 4 KiB, a quarter of the fill time at nd of a
  // few thousand. Only a hint: the kernel may decline it.
  static void adviseHugePages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = (begin + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t last = (begin + bytes) / kHugePage * kHugePage;
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  }

  struct FreeDeleter {
    void operator()(Complex* p) const { std::free(p); }
  };
  std::int64_t rows_ = 0;
  std::int64_t cols_ = 0;
  std::unique_ptr<Complex[], FreeDeleter> data_;
};

}  // namespace qbr
