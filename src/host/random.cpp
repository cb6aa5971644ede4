#include "host/random.h"

namespace host {

namespace {
struct Generator {
    std::mt19937_64 engine{std::random_device{}()};
    std::normal_distribution<double> normal{0.0, 1.0};
};

Generator& generator() {
    static Generator g;
    return g;
}
}  // namespace

void seedRandom(std::uint64_t seed) {
    Generator& g = generator();
    g.engine.seed(seed);
    g.normal.reset();  // drop a cached second value so the seed alone fixes the sequence
}

std::mt19937_64& randomEngine() { return generator().engine; }

double randn() {
    Generator& g = generator();
    return g.normal(g.engine);
}

double rand() {
    Generator& g = generator();
    double u;
    do {
        u = std::generate_canonical<double, 53>(g.engine);
    } while (u == 0.0);
    return u;
}

}  // namespace host
