#pragma once
// Two pieces of work on the machine's two processors. A frame at high oversampling is a few
// milliseconds of arithmetic over 16 MB buffers; where two independent parts of it can run
// side by side, this runs `side` on a second thread while `main` runs on this one. Without
// a second processor, or when no thread can be started, both run here, one after the
// other. Exceptions from either reach the caller once both have finished.

#include <exception>
#include <system_error>
#include <thread>

namespace host {

inline bool secondProcessor() {
    static const bool present = std::thread::hardware_concurrency() >= 2;
    return present;
}

template <class Side, class Main>
void inParallel(Side&& side, Main&& main) {
    if (!secondProcessor()) {
        main();
        side();
        return;
    }
    std::exception_ptr sideFailure;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                side();
            } catch (...) {
                sideFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        main();
        side();
        return;
    }
    std::exception_ptr mainFailure;
    try {
        main();
    } catch (...) {
        mainFailure = std::current_exception();
    }
    helper.join();
    if (mainFailure) std::rethrow_exception(mainFailure);
    if (sideFailure) std::rethrow_exception(sideFailure);
}

}  // namespace host
