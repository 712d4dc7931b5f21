#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "model/constants.hpp"

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
  struct FreeDeleter {
    void operator()(Complex* p) const { std::free(p); }
  };
  std::int64_t rows_ = 0;
  std::int64_t cols_ = 0;
  std::unique_ptr<Complex[], FreeDeleter> data_;
};

}  // namespace qbr
