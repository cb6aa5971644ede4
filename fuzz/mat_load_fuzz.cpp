// Arbitrary bytes read as a MAT file: loading must give values or a host error, never
// crash, read out of bounds, hang or allocate without bound. Whatever loads must also save
// and load again to the same variables.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/error.h"
#include "host/mat_file.h"

namespace {

// The two files one fuzzing process reuses, removed when it exits.
struct ScratchFiles {
    std::string input = name("input");
    std::string copy = name("copy");
    ~ScratchFiles() {
        std::remove(input.c_str());
        std::remove(copy.c_str());
    }
    static std::string name(const char* what) {
        return "/tmp/mat_load_fuzz." + std::to_string(::getpid()) + "." + what + ".mat";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFiles files;
    const std::string& input = files.input;
    const std::string& copy = files.copy;
    if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
        const bool written = std::fwrite(data, 1, size, f) == size;
        if (std::fclose(f) != 0 || !written) return 0;
    } else {
        return 0;
    }

    host::Array loaded;
    try {
        loaded = host::loadMatFile(input);
    } catch (const host::Error&) {
        return 0;
    }
    host::MatVariables variables;
    for (std::size_t f = 0; f < loaded.fieldCount(); ++f)
        variables.emplace_back(loaded.fieldNames()[f], loaded.fieldAt(static_cast<int>(f), 0));
    try {
        host::saveMatFile(copy, variables);
    } catch (const host::Error&) {
        return 0;  // names or nesting that a file of ours may not hold
    }
    // What we wrote ourselves must read back whole.
    const host::Array again = host::loadMatFile(copy);
    if (again.fieldNames() != loaded.fieldNames()) __builtin_trap();
    return 0;
}
