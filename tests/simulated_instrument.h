#pragma once
// A simulated signal generator on loopback behind every VISA address (libsimvisa routes them
// to it) and the build's extension module, for as long as the object lives; the tests that
// download to "GPIB0::19" and the like share this set-up.

#include <chrono>
#include <cstdlib>
#include <string>

#include "sim/simulated_generator.h"

class SimulatedInstrument {
public:
    explicit SimulatedInstrument(sim::Model model = sim::Model::Corvane) : generator(options(model)) {
#ifdef VESK_MODULE_DIR
        setenv("BREVIA_EXTENSION_PATH", VESK_MODULE_DIR, 1);
#endif
        setenv("VESK_VISA_LIBRARY", SIMVISA_LIBRARY, 1);
        generator.start();
        setenv("SIMVISA_TARGET", ("127.0.0.1:" + std::to_string(generator.port())).c_str(), 1);
    }
    ~SimulatedInstrument() {
        generator.stop();
        unsetenv("SIMVISA_TARGET");
        unsetenv("VESK_VISA_LIBRARY");
    }
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

    sim::SimulatedGenerator generator;

private:
    static sim::Options options(sim::Model model) {
        sim::Options o;
        o.model = model;
        o.idleTimeout = std::chrono::seconds(60);  // a test that hangs still lets the server end
        return o;
    }
};
