#pragma once
// Bit rows for the traffic-chain tests.

#include <numeric>
#include <random>
#include <vector>

namespace testbits {

inline std::vector<double> randomBits(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::bernoulli_distribution coin(0.5);
    std::vector<double> v(n);
    for (double& b : v) b = coin(gen) ? 1.0 : 0.0;
    return v;
}

// 0, 1, 2, ...: a row whose permutations show where each element went.
inline std::vector<double> counting(std::size_t n) {
    std::vector<double> v(n);
    std::iota(v.begin(), v.end(), 0.0);
    return v;
}

}  // namespace testbits
