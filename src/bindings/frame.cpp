// The host forms of the frame builder and the application's Calculate: each unpacks and checks
// its arrays, calls the typed function and packs the result (argument counts are checked from
// functions.def before it runs).
#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "OneX/common_channels.h"
#include "OneX/frame_builder.h"
#include "OneX/packets.h"
#include "OneX/parameters.h"
#include "OneX/phase_equaliser.h"
#include "OneX/pn_spreading.h"
#include "OneX/slot_layout.h"
#include "OneX/traffic_modulation.h"
#include "OneX/traffic_source.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/parallel.h"
#include "host/records.h"
#include "host/text.h"

// ---- frame builder

namespace brevia::bind {

using host::Arguments;
using host::Array;

namespace {

host::RealVector slotValues(const Array& a, const char* name) {
    if (a.numel() != onex::kFrameSlots)
        throw host::Error(std::string("OneX_FwdChnFrame: ") + name + " must hold 16 values (one per slot), not " +
                          std::to_string(a.numel()) + ".");
    return host::realVector(a, {"OneX_FwdChnFrame", name});
}

host::RealMatrix slotMatrixValues(const Array& a, const char* name) {
    if (a.rows() != onex::kFrameSlots || a.cols() != onex::kRpcChannels)
        throw host::Error(std::string("OneX_FwdChnFrame: ") + name + " must be 16 x 59, not " + std::to_string(a.rows()) +
                          " x " + std::to_string(a.cols()) + ".");
    return host::realMatrix(a, {"OneX_FwdChnFrame", name});
}

}  // namespace

std::vector<Array> OneX_FwdChnFrame(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdChnFrame";
    onex::FrameInputs in;
    in.mode = onex::frameMode(host::realScalar(*args[0], {fn, "Mode"}));
    in.pilotOffsetIndex = host::realScalar(*args[1], {fn, "PilotOffsetIndex"});
    in.dataActive = slotValues(*args[2], "DATAactive");
    in.dataFormat = slotValues(*args[3], "DATAformat");
    in.dataBits = host::realVector(*args[4], {fn, "DATAbits"});
    in.raActive = slotValues(*args[5], "RAactive");
    in.raBit = slotValues(*args[6], "RAbit");
    in.raGain = slotValues(*args[7], "RAgain");
    in.rpcChnActive = slotValues(*args[8], "RPCchnActive");
    in.rpcActive = slotMatrixValues(*args[9], "RPCactive");
    in.rpcBits = slotMatrixValues(*args[10], "RPCbits");
    in.rpcGains = slotMatrixValues(*args[11], "RPCgains");
    in.idleSlotGainActive = host::realScalar(*args[12], {fn, "IdleSlotGainActive"});
    in.idleSlotGain = host::realScalar(*args[13], {fn, "IdleSlotGain"});
    in.oversampling = static_cast<int>(host::integerScalar(*args[14], {fn, "oversamplingRate"}, 1, 64));
    in.filter = args[15]->isChar() ? onex::basebandFilterChoice(args[15]->text())
                                   : onex::basebandFilterChoice(host::realScalar(*args[15], {fn, "filterType"}));
    in.phaseEqActive = host::realScalar(*args[16], {fn, "phaseEqActive"}) == 1;
    in.mirrorSpectrum = host::realScalar(*args[17], {fn, "mirrorSpectrum"}) != 0;
    onex::FrameArrays f = onex::OneX_FwdChnFrameArrays(in);
    return {std::move(f.waveform), std::move(f.markers)};
}

std::vector<host::Array> OneX_FwdChnFrames(int, host::Arguments args) {
    constexpr const char* fn = "OneX_FwdChnFrames";
    const host::Array parameters = onex::completedParameters(*args[0], fn);  // the defaults for what it leaves out
    // The phase equaliser follows the filter choice of the application's record: for these
    // samples that is this record, put in its place while they are made.
    struct Lend {
        host::Array saved;
        bool had;
        explicit Lend(const host::Array& p) : had(host::hasRecord("parameters")) {
            if (had) saved = host::record("parameters");
            host::record("parameters") = p;
        }
        ~Lend() { host::record("parameters") = had ? std::move(saved) : host::Array(); }
    } lend(parameters);
    onex::FrameArrays f = onex::OneX_FwdChnFrameArrays(onex::frameInputsFromParameters(parameters));
    return {std::move(f.waveform), std::move(f.markers)};
}

}  // namespace brevia::bind
