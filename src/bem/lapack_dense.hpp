#pragma once

#include <complex>
#include <cstddef>

// The LAPACK drivers of the small dense problems beside the BEM system (the electrostatic
// system and the line's modes), with the calling convention of lapack.hpp.
extern "C" {

// Solves A X = B for nrhs right-hand sides by LU with partial pivoting (A is overwritten
// by its factors, B by X).
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info);
void zgesv_(const int* n, const int* nrhs, std::complex<double>* a, const int* lda, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);

// LU with partial pivoting of a real matrix, and the solve with its factors.
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, std::size_t transLength);

// Eigenvalues (ascending) and orthonormal eigenvectors of a real symmetric matrix.
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t jobzLength,
            std::size_t uploLength);

// Eigenvalues and right eigenvectors of a general complex matrix.
void zgeev_(const char* jobvl, const char* jobvr, const int* n, std::complex<double>* a,
            const int* lda, std::complex<double>* w, std::complex<double>* vl, const int* ldvl,
            std::complex<double>* vr, const int* ldvr, std::complex<double>* work, const int* lwork,
            double* rwork, int* info, std::size_t jobvlLength, std::size_t jobvrLength);

}  // extern "C"
