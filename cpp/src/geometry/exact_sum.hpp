// Exact signs of sums of doubles, for predicates that must not round.
#pragma once

namespace quarvo {

// a + b = s + e exactly.
inline void two_sum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bv = s - a, av = s - bv;
    e = (a - av) + (b - bv);
}

// Sign of the exact sum of at most 32 terms, by growing a non-overlapping
// expansion (Shewchuk); the largest nonzero component decides.
inline int sign_of_sum(const double* terms, int n) {
    double e[32];
    int m = 0;
    for (int k = 0; k < n; ++k) {
        double q = terms[k];
        for (int i = 0; i < m; ++i) {
            double s, err;
            two_sum(q, e[i], s, err);
            e[i] = err;
            q = s;
        }
        e[m++] = q;
    }
    for (int i = m - 1; i >= 0; --i)
        if (e[i] != 0.0) return e[i] > 0 ? 1 : -1;
    return 0;
}

}  // namespace quarvo
