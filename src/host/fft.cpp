#include "host/fft.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace host::fft {

namespace {

// Enough for the spectrum and waterfall lengths of a session; a user trying many waterfall
// periods would otherwise keep every plan (a frame-length one is megabytes of twiddles).
constexpr std::size_t kMaxCachedPlans = 16;

struct PlanCache {
    std::mutex mutex;
    std::map<std::pair<std::size_t, Direction>, SharedPlan> plans;
};
// Never destroyed: a plan still held elsewhere at exit takes this lock when released.
PlanCache& planCache() {
    static PlanCache* const instance = new PlanCache;
    return *instance;
}

}  // namespace

SharedPlan plan(std::size_t n, Direction direction) {
    PlanCache& cache = planCache();
    std::vector<SharedPlan> evicted;  // released after the lock below: their deleters take it
    std::lock_guard lock(cache.mutex);
    if (auto it = cache.plans.find({n, direction}); it != cache.plans.end()) return it->second;
    if (cache.plans.size() >= kMaxCachedPlans) {
        for (auto& entry : cache.plans) evicted.push_back(std::move(entry.second));
        cache.plans.clear();
    }
    SharedPlan made(new FftPlan(n, direction), [](const FftPlan* p) {
        std::lock_guard destroyLock(planCache().mutex);
        delete p;
    });
    cache.plans.emplace(std::make_pair(n, direction), made);
    return made;
}

void transform(const ComplexVector& x, FftBuffer& out) {
    const SharedPlan forward = plan(x.size(), Direction::Forward);
    if (fftAligned(x.data())) {
        forward->run(x.data(), out.data());
    } else {
        FftBuffer in(x.size());
        std::copy(x.begin(), x.end(), in.begin());
        forward->run(in.data(), out.data());
    }
}

}  // namespace host::fft
