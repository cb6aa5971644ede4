#include "OneX/baseband_filter.h"

#include <map>
#include <mutex>
#include <numeric>
#include <string>

#include "OneX/filter_design.h"
#include "host/error.h"
#include "host/parallel.h"
#include "host/text.h"

namespace onex {

namespace {


void checkDesignOversampling(int os, const char* function) {
    if (os < 2 || os > kMaxDesignOversampling)
        throw host::Error(std::string(function) + ": oversampling must be a whole number from 2 to " +
                          std::to_string(kMaxDesignOversampling) + ", got " + std::to_string(os) + ".");
}

// Designs cached per oversampling ratio: they depend on nothing else. The build has
// computed them for every ratio a frame can have; others are designed on first use.
template <class Design>
const RealVector& cached(std::map<int, RealVector>& cache, std::mutex& m, int os, Design design) {
    std::lock_guard lock(m);
    auto it = cache.find(os);
    if (it == cache.end()) it = cache.emplace(os, design(os)).first;
    return it->second;
}

RealVector fromTable(std::span<const double> taps) { return RealVector(taps.begin(), taps.end()); }

// Outputs handled together: their accumulators and the chips they read stay in the
// first-level cache while every tap of a phase passes over them.
constexpr std::size_t kBlock = 256;

// acc[q] = sum_t h[t * stride] x[q + last - t] for one block: a sum of shifted rows with a
// fixed trip count, so that the compiler vectorises it (AVX2 where the processor has it).
__attribute__((target_clones("avx2", "default"))) void accumulateBlock(const double* h, std::size_t taps,
                                                                       std::size_t stride, const double* re,
                                                                       const double* im, std::size_t last,
                                                                       double* __restrict ar, double* __restrict ai) {
    for (std::size_t q = 0; q < kBlock; ++q) ar[q] = ai[q] = 0.0;
    for (std::size_t t = 0; t < taps; ++t) {
        const double c = h[t * stride];
        const double* __restrict xr = re + (last - t);
        const double* __restrict xi = im + (last - t);
        for (std::size_t q = 0; q < kBlock; ++q) {
            ar[q] += c * xr[q];
            ai[q] += c * xi[q];
        }
    }
}

// Multiply-adds (samples x taps per phase) from which a second thread pays for itself.
constexpr std::size_t kParallelWork = std::size_t{1} << 22;

bool zeroOffLattice(const ComplexVector& x, std::size_t stuffing) {
    if (stuffing <= 1 || x.size() % stuffing != 0) return false;
    for (std::size_t k = 0; k < x.size(); ++k)
        if (k % stuffing != 0 && x[k] != Complex(0, 0)) return false;
    return true;
}

}  // namespace

BasebandFilterChoice basebandFilterChoice(double filterType) {
    if (filterType == 1) return BasebandFilterChoice::Rectangular;
    if (filterType == 3) return BasebandFilterChoice::Acp;
    if (filterType == 4) return BasebandFilterChoice::Evm;
    return BasebandFilterChoice::Standard;
}

BasebandFilterChoice basebandFilterChoice(std::string_view key) {
    if (key == "IS95-STD") return BasebandFilterChoice::Standard;
    if (key == "IS95-ACP") return BasebandFilterChoice::Acp;
    if (key == "IS95-EVM") return BasebandFilterChoice::Evm;
    return BasebandFilterChoice::Rectangular;
}

RealVector upsampleMarker(const RealVector& in, std::size_t ratio) {
    RealVector out;
    out.reserve(in.size() * ratio);
    for (double v : in) out.insert(out.end(), ratio, v);
    return out;
}

const RealVector& FilterCoeff_IS95_Std(int os) {
    checkDesignOversampling(os, "FilterCoeff_IS95_Std");
    static std::map<int, RealVector> cache;
    static std::mutex m;
    return cached(cache, m, os, [](int o) {
        const design::Tabled* t = design::tabled(o);
        return t ? fromTable(t->standard) : design::standardFilter(o);
    });
}

const RealVector& acpShapingFactor(int os) {
    checkDesignOversampling(os, "FilterCoeff_IS95_Acp");
    static std::map<int, RealVector> cache;
    static std::mutex m;
    return cached(cache, m, os, [](int o) {
        const design::Tabled* t = design::tabled(o);
        return t ? fromTable(t->acpFactor) : design::acpShapingFactor(o);
    });
}

const RealVector& FilterCoeff_IS95_Acp(int os) {
    checkDesignOversampling(os, "FilterCoeff_IS95_Acp");
    static std::map<int, RealVector> cache;
    static std::mutex m;
    return cached(cache, m, os, [](int o) {
        const design::Tabled* t = design::tabled(o);
        return t ? fromTable(t->acp) : design::acpFilter(o);
    });
}

ComplexVector circularFir(const ComplexVector& x, const RealVector& h, std::size_t advance, std::size_t stuffing) {
    if (!zeroOffLattice(x, stuffing)) return circularFirChips(x.data(), x.size(), 1, h, advance);
    ComplexVector chips(x.size() / stuffing);
    for (std::size_t q = 0; q < chips.size(); ++q) chips[q] = x[q * stuffing];
    return circularFirChips(chips.data(), chips.size(), stuffing, h, advance);
}

namespace {

// The circular FIR of the chips zero-stuffed by p, each output handed to store(k, re, im)
// exactly once; phases without taps (fewer taps than p) are not stored at all.
template <class Store>
void circularFirChipsTo(const Complex* chipValues, std::size_t chips, std::size_t p, const RealVector& h,
                        std::size_t advance, Store store) {
    const std::size_t n = chips * p;
    // The outputs fall into p phases; phase rho of output q only meets taps rho, rho + p, ...
    // and chips q, q - 1, ... (cyclically), so each phase is a short convolution over the
    // non-zero samples, computed as a sum of shifted rows (vectorisable, no reductions).
    const std::size_t phases = std::min(p, h.size());
    const std::size_t maxTaps = (h.size() + p - 1) / p;
    // ext[i] = chip (i - (maxTaps - 1)) mod chips, padded to whole blocks.
    const std::size_t blocks = (chips + kBlock - 1) / kBlock;
    // Frame-sized when the input is not zero-stuffed: kept in the sample cache like the frame.
    std::vector<double, host::SampleAllocator<double>> extRe(blocks * kBlock + maxTaps - 1), extIm(extRe.size());
    const std::size_t back = (maxTaps - 1) % chips;
    for (std::size_t i = 0, q = (chips - back) % chips; i < extRe.size(); ++i) {
        extRe[i] = chipValues[q].real();
        extIm[i] = chipValues[q].imag();
        if (++q == chips) q = 0;
    }
    const std::size_t shift = (n - advance % n) % n;
    // Blocks write disjoint outputs, so they can be shared out between threads; each is
    // computed the same way wherever it runs.
    auto filterBlocks = [&](std::size_t firstBlock, std::size_t endBlock) {
        alignas(64) double accRe[kBlock], accIm[kBlock];
        for (std::size_t b = firstBlock; b < endBlock; ++b) {
            const std::size_t q0 = b * kBlock;
            const std::size_t count = std::min(kBlock, chips - q0);
            for (std::size_t rho = 0; rho < phases; ++rho) {
                const std::size_t taps = (h.size() - rho + p - 1) / p;
                accumulateBlock(h.data() + rho, taps, p, extRe.data() + q0, extIm.data() + q0, maxTaps - 1, accRe, accIm);
                // Output k = q p + rho - advance (mod n), stepping by p without a division per sample.
                std::size_t k = (q0 * p + rho + shift) % n;
                for (std::size_t q = 0; q < count; ++q) {
                    store(k, accRe[q], accIm[q]);
                    k += p;
                    if (k >= n) k -= n;
                }
            }
        }
    };
    if (n * maxTaps >= kParallelWork && blocks >= 2)
        host::inParallel([&] { filterBlocks(blocks / 2, blocks); }, [&] { filterBlocks(0, blocks / 2); });
    else
        filterBlocks(0, blocks);
}

// The baseband filter's taps for a choice, checked against the frame length.
const RealVector& filterTaps(std::size_t samples, int os, BasebandFilterChoice choice) {
    const RealVector& h = choice == BasebandFilterChoice::Acp ? FilterCoeff_IS95_Acp(os) : FilterCoeff_IS95_Std(os);
    if (samples + 1 < h.size())
        throw host::Error("OneX_BasebandFilter: the frame holds " + std::to_string(samples) +
                          " samples; the circular filter of " + std::to_string(h.size()) + " taps needs at least " +
                          std::to_string(h.size() - 1) + ".");
    return h;
}

void checkFilterOversampling(int os) {
    if (os < 1) throw host::Error("OneX_BasebandFilter: oversamplingRate must be at least 1, got " + std::to_string(os) + ".");
}

}  // namespace

ComplexVector circularFirChips(const Complex* chipValues, std::size_t chips, std::size_t p, const RealVector& h,
                               std::size_t advance) {
    const std::size_t n = chips * p;
    if (n == 0 || h.empty()) return ComplexVector(n);
    ComplexVector out;
    if (p <= h.size()) {
        // Every output is stored: no zero fill first.
        host::SkipZeroFill skip;
        out.resize(n);
    } else {
        out.resize(n);  // phases without taps stay zero
    }
    circularFirChipsTo(chipValues, chips, p, h, advance, [&](std::size_t k, double re, double im) { out[k] = Complex(re, im); });
    return out;
}

void basebandFilterChipsInto(const ComplexVector& chips, int os, BasebandFilterChoice choice, SplitSamples out) {
    checkFilterOversampling(os);
    const auto ratio = static_cast<std::size_t>(os);
    if (out.size != chips.size() * ratio)
        throw host::Error("OneX_BasebandFilter: the output holds " + std::to_string(out.size) + " samples, not " +
                          std::to_string(chips.size() * ratio) + ".");
    switch (choice) {
    case BasebandFilterChoice::Rectangular:
    case BasebandFilterChoice::Evm:
        // Held for the whole chip, or only at its first sample (the rest stays as it is: zero).
        for (std::size_t q = 0; q < chips.size(); ++q)
            for (std::size_t j = 0; j < (choice == BasebandFilterChoice::Evm ? 1 : ratio); ++j) {
                out.re[q * ratio + j] = chips[q].real();
                out.im[q * ratio + j] = chips[q].imag();
            }
        return;
    default: break;
    }
    const RealVector& h = filterTaps(out.size, os, choice);
    if (out.size == 0 || h.empty()) return;
    circularFirChipsTo(chips.data(), chips.size(), ratio, h, h.size() / 2, [&](std::size_t k, double re, double im) {
        out.re[k] = re;
        out.im[k] = im;
    });
}

ComplexVector basebandFilterChips(const ComplexVector& chips, int os, BasebandFilterChoice choice) {
    checkFilterOversampling(os);
    const auto ratio = static_cast<std::size_t>(os);
    switch (choice) {
    case BasebandFilterChoice::Rectangular: {
        ComplexVector out(chips.size() * ratio);
        for (std::size_t q = 0; q < chips.size(); ++q) std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(q * ratio), ratio, chips[q]);
        return out;
    }
    case BasebandFilterChoice::Evm: return upsample(chips, ratio);
    default: break;
    }
    const RealVector& h = filterTaps(chips.size() * ratio, os, choice);
    return circularFirChips(chips.data(), chips.size(), ratio, h, h.size() / 2);
}

ComplexVector OneX_BasebandFilter(const ComplexVector& frame, int os, BasebandFilterChoice choice) {
    checkFilterOversampling(os);
    const auto ratio = static_cast<std::size_t>(os);
    if (choice == BasebandFilterChoice::Rectangular) {
        // conv(ones(1, os), frame) cut to the frame: each sample held for os samples, no wrap.
        ComplexVector out(frame.size());
        for (std::size_t m = 0; m < frame.size(); ++m) {
            if (frame[m] == Complex(0, 0)) continue;
            for (std::size_t j = 0; j < ratio && m + j < frame.size(); ++j) out[m + j] += frame[m];
        }
        return out;
    }
    if (choice == BasebandFilterChoice::Evm) return frame;
    const RealVector& h = filterTaps(frame.size(), os, choice);
    return circularFir(frame, h, h.size() / 2, ratio);
}

}  // namespace onex
