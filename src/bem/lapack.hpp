#pragma once

#include <complex>
#include <cstddef>

// The few LAPACK and BLAS routines the solver calls, declared with the Fortran calling
// convention of the linked OpenBLAS (32-bit integers, everything by reference, and one
// hidden length argument per character argument, appended in order, as gfortran passes
// them). Complex*16 has the layout of std::complex<double>.
extern "C" {

// LU factorisation with partial pivoting of an m x n matrix; pivots are 1-based.
void zgetrf_(const int* m, const int* n, std::complex<double>* a, const int* lda, int* ipiv,
             int* info);

// Solves with the factors of zgetrf_ for nrhs right-hand sides at once.
void zgetrs_(const char* trans, const int* n, const int* nrhs, const std::complex<double>* a,
             const int* lda, const int* ipiv, std::complex<double>* b, const int* ldb, int* info,
             std::size_t transLength);

// Applies the row exchanges ipiv[k1-1 .. k2-1] to the n columns of a.
void zlaswp_(const int* n, std::complex<double>* a, const int* lda, const int* k1, const int* k2,
             const int* ipiv, const int* incx);

// B := alpha * op(A)^-1 * B (side "L") with A triangular.
void ztrsm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m,
            const int* n, const std::complex<double>* alpha, const std::complex<double>* a,
            const int* lda, std::complex<double>* b, const int* ldb, std::size_t sideLength,
            std::size_t uploLength, std::size_t transaLength, std::size_t diagLength);

// C := alpha * op(A) * op(B) + beta * C.
void zgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const std::complex<double>* alpha, const std::complex<double>* a, const int* lda,
            const std::complex<double>* b, const int* ldb, const std::complex<double>* beta,
            std::complex<double>* c, const int* ldc, std::size_t transaLength,
            std::size_t transbLength);

// OpenBLAS extensions: the size of its thread pool for the calls that follow.
int openblas_get_num_threads(void);
void openblas_set_num_threads(int threads);

}  // extern "C"
