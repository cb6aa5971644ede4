#pragma once
// The process-wide random generator behind the host's rand and randn. Unseeded it starts
// from the system's entropy, so every frame gets fresh noise; tests and the command line
// seed it for repeatable results.

#include <cstdint>
#include <random>

namespace host {

void seedRandom(std::uint64_t seed);
std::mt19937_64& randomEngine();
double randn();  // standard normal
double rand();   // uniform on (0, 1)

}  // namespace host
