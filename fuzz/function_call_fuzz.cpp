// Arbitrary arrays passed to every function of the table by name: each call must return
// or raise a host error, never crash, read out of bounds or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "brevia.h"
#include "host/error.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"

#include <QCoreApplication>

namespace {

struct Bytes {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    double number() {
        // Mostly small integers (bits, codes, counts), sometimes raw doubles (NaN, Inf, huge).
        const std::uint8_t kind = byte();
        if (kind < 200) return static_cast<double>(static_cast<int>(byte()) - 8) / (kind % 4 == 0 ? 2.0 : 1.0);
        double v = 0;
        std::uint8_t raw[sizeof v];
        for (auto& b : raw) b = byte();
        std::memcpy(&v, raw, sizeof v);
        return v;
    }
};

host::Array makeArray(Bytes& in) {
    const std::uint8_t kind = in.byte() % 8;
    const std::size_t rows = in.byte() % 20, cols = in.byte() % 70;
    switch (kind) {
    case 6: return host::Array::structure();
    case 7: return host::Array::string("text");
    default: break;
    }
    const host::ClassId classes[] = {host::ClassId::Double, host::ClassId::Double, host::ClassId::Int8,
                                     host::ClassId::Logical, host::ClassId::Int32, host::ClassId::Double};
    host::Array a = host::Array::numeric(classes[kind], rows, cols, kind == 5);
    for (std::size_t i = 0; i < a.numel() && in.n > 0; ++i) a.setComplex(i, {in.number(), kind == 5 ? in.number() : 0});
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Some functions write files (the waveform export): keep them in a scratch folder.
    static const bool initialized = [] {
        char scratch[] = "/tmp/brevia_fuzz_XXXXXX";
        if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) std::abort();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the plot functions open windows
        return BreviaInitialize();
    }();
    (void)initialized;
    Bytes in{data, size};
    const auto table = host::functionTable();
    const host::FunctionInfo& f = table[in.byte() % table.size()];
    const int nargin = in.byte() % 6;
    std::vector<host::Array> args;
    for (int i = 0; i < nargin; ++i) args.push_back(makeArray(in));
    try {
        (void)host::callFunction(f.name, in.byte() % 3, args);
    } catch (const host::Error&) {
        // A clear refusal is the expected answer to most of these calls.
    }
    // Windows the plots opened go, so that millions of calls do not pile them up.
    host::gui::closeAllFigures();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
