// Arbitrary arrays passed to every function of the table by name: each call must return
// or raise a host error, never crash, read out of bounds or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <memory>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "brevia.h"
#include "host/error.h"
#include "host/dialogs.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

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

// Some functions write files (the waveform export) into the working folder: each call runs
// in a scratch folder, and the fuzzer's own folder is back before it saves a corpus entry
// under a relative path.
class InScratchFolder {
public:
    InScratchFolder() {
        if (::fchdir(folder().fd) != 0) std::abort();
    }
    InScratchFolder(const InScratchFolder&) = delete;
    InScratchFolder& operator=(const InScratchFolder&) = delete;
    ~InScratchFolder() {
        if (::fchdir(folder().home) != 0) std::abort();
    }

private:
    static std::string& scratchPath() {
        static std::string path;
        return path;
    }
    struct Folders {
        int home = -1, fd = -1;
    };
    static const Folders& folder() {
        static const Folders folders = [] {
            char scratch[] = "/tmp/brevia_fuzz_XXXXXX";
            Folders f;
            f.home = ::open(".", O_RDONLY | O_DIRECTORY);
            if (f.home < 0 || ::mkdtemp(scratch) == nullptr) std::abort();
            f.fd = ::open(scratch, O_RDONLY | O_DIRECTORY);
            if (f.fd < 0) std::abort();
            scratchPath() = scratch;
            // What the calls wrote goes with the process, unless it ends in a finding.
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(scratchPath(), ignored);
            });
            return f;
        }();
        return folders;
    }
};

// Stands in for a user who closes whatever window a call waits on (a message box, a file
// dialog, a dialog window, the application's window) the moment it waits.
void closeWhatWaits() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        return;
    }
    const host::Array figures = windows::gui::get(windows::gui::kRoot, "Children");
    for (std::size_t i = 0; i < figures.numel(); ++i) {
        const windows::gui::Handle figure = figures.realAt(i);
        if (windows::gui::isValid(figure) && windows::gui::get(figure, "Visible").text() == "on")
            windows::gui::windowOf(figure)->close();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the plot functions open windows
    if (!BreviaInitialize()) std::abort();
    windows::gui::ensureApplication();
    // Runs only while a call waits in an event loop of its own.
    auto* user = new QTimer;
    QObject::connect(user, &QTimer::timeout, [] {
        try {
            closeWhatWaits();
        } catch (const host::Error&) {
            // A window that went while being looked at: the next tick sees the rest.
        }
    });
    user->start(5);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const InScratchFolder scratch;
    // Questions are answered as a closed box would be, whichever provider the last call set.
    host::setDialogProvider(std::make_shared<host::ScriptedDialogs>());
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
    // Windows the calls opened go, so that millions of calls do not pile them up.
    windows::gui::closeAllFigures();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
