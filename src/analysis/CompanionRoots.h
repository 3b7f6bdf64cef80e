#pragma once
// The roots of a polynomial as the eigenvalues of its companion matrix, to
// the bits of Eigen's EigenSolver without eigenvectors, but without its
// reduction to Hessenberg form, which a companion matrix already has (the
// all-pole fits take thousands of roots a second).
#include <array>
#include <complex>

namespace quenvis {

inline constexpr int MaxCompanionOrder = 14;

// A: 1, a1 ... ap of z^p + a1 z^(p-1) + ... + ap, p in 1..MaxCompanionOrder.
// Roots: in the order Eigen gives them (by their place on the diagonal of
// the Schur form; a complex pair with the positive imaginary part first).
// False where Eigen reports no convergence or a non-finite root.
bool CompanionRoots(const double* A, int P,
                    std::array<std::complex<double>, MaxCompanionOrder>& Roots) noexcept;

}  // namespace quenvis
