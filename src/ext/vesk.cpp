// The extension's entry point: one int32 command code, a connection structure, a status
// and, on request, a message.
//
// The host's error call may leave this function without unwinding it (it does under some
// hosts), so a usage error is only raised once every object of the command is gone: each
// command runs in its own function and hands back the usage text, which mexFunction raises
// after that function has returned.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <dlfcn.h>

#include "ext/hardware_io.h"
#include "ext/host_hooks.h"
#include "ext/io_config.h"
#include "ext/io_manager.h"
#include "ext/mx_values.h"
#include "ext/parse_config.h"
#include "ext/signal_generator.h"
#include "ext/text.h"
#include "mex.h"

namespace vesk {

namespace {

constexpr const char* kUsage = "Usage: vesk( function, ... )";
constexpr const char* kUsagePing = "Usage: vesk( ping, config )";
constexpr const char* kUsageSend = "Usage: vesk( send, config, command )";
constexpr const char* kUsageQuery = "Usage: response = vesk( query, config, command,buffersize )";
constexpr const char* kUsageDownload =
    "Usage: response = vesk( download, config, w, markers, flag_norm, gain, filename )";
constexpr const char* kUsageReturnControl = "Usage: vesk( returnControl, config )";
constexpr const char* kUsageSendBinary = "Usage: response = vesk( sendbinaryfile, config, filename,data )";
constexpr const char* kUsageSendBinaryClass =
    "Usage: only support input type : double[], int8[], uint8[] and char[]";
constexpr const char* kUsageUpload = "Usage: response = vesk( int32(8), config, filename, expected_data_type )";
constexpr const char* kUsageUploadClass = "Usage: only support data type : double[], int8[], uint8[] and char[]";
constexpr const char* kUsageTimeout = "Usage: vesk( 50, config, timeout value (double) )";

constexpr int kDefaultReplyLimit = 65535;
// A reply limit is a buffer taken before the read; a caller's limit beyond this would only
// risk memory, no instrument reply is that long.
constexpr int kLargestReplyLimit = 16 << 20;

enum Command : std::int32_t {
    kPing = 1,
    kSend = 2,
    kQuery = 3,
    kDownload = 4,
    kReturnControl = 5,
    kSendBinaryFile = 7,
    kUpload = 8,
    kSetTimeout = 50,
    kReleaseAll = 999,
};

// When a command's message is a second result: commands 1 to 5 and 50 give it for exactly
// two requested results, 7 and 8 for two or more.
enum class SecondResult { ExactlyTwo, TwoOrMore };

struct Call {
    int nlhs;
    mxArray** plhs;
    int nrhs;
    const mxArray** prhs;

    bool isStruct(int k) const { return k < nrhs && prhs[k] && mxIsStruct(prhs[k]); }
    bool isChar(int k) const { return k < nrhs && prhs[k] && mxIsChar(prhs[k]); }
    std::string text(int k) const {
        std::string value;
        charText(prhs[k], value);
        return value;
    }
};

// Status and, when asked for, "Succeed" (or a query's reply) or the message of the failure.
void setResults(const Call& call, bool ok, SecondResult rule, const std::string& success = "Succeed") {
    call.plhs[0] = mxCreateDoubleScalar(ok ? 0.0 : -1.0);
    const bool second = rule == SecondResult::ExactlyTwo ? call.nlhs == 2 : call.nlhs >= 2;
    if (!second) return;
    // The message is taken only when it is handed out: a failure that sets none reports the
    // text that is still waiting.
    const std::string text = ok ? success : IOManager::instance().takeStatusText();
    call.plhs[1] = mxCreateString(text.c_str());
}

// A command's configuration, alive until the command ends, and its session: nullptr when
// the structure or the open failed (the reason is in the status text).
struct Connection {
    std::unique_ptr<IOConfig> config;
    HardwareIO* session = nullptr;
};

Connection connect(const mxArray* structure) {
    Connection connection;
    connection.config = parseConfig(structure);
    if (connection.config) connection.session = IOManager::instance().openSession(*connection.config);
    return connection;
}

// The model of the connected instrument. A session whose identification query failed is
// forgotten like that of any failed command, so that the next one opens it anew.
std::unique_ptr<SignalGenerator> identify(const Connection& c) {
    if (!c.session) return nullptr;
    bool unanswered = false;
    std::unique_ptr<SignalGenerator> generator = selectModel(*c.session, &unanswered);
    if (unanswered) IOManager::instance().removeSession(c.session);
    return generator;
}

const char* ping(const Call& call) {
    if (call.nrhs != 2 || !call.isStruct(1)) return kUsagePing;
    bool ok = false;
    if (Connection c = connect(call.prhs[1]); c.session) {
        std::string reply;
        ok = c.session->queryText(reply, "*IDN?", kDefaultReplyLimit);
        if (!ok) IOManager::instance().removeSession(c.session);
    }
    setResults(call, ok, SecondResult::ExactlyTwo);
    return nullptr;
}

const char* send(const Call& call) {
    if (call.nrhs != 3 || !call.isStruct(1) || !call.isChar(2)) return kUsageSend;
    bool ok = false;
    if (Connection c = connect(call.prhs[1]); c.session) {
        ok = c.session->sendCommand(call.text(2));
        if (!ok) IOManager::instance().removeSession(c.session);
    }
    setResults(call, ok, SecondResult::ExactlyTwo);
    return nullptr;
}

const char* query(const Call& call) {
    if (call.nrhs < 3 || !call.isStruct(1) || !call.isChar(2)) return kUsageQuery;
    // Any argument after the buffer size turns the size off.
    const int limit = call.nrhs == 4
                          ? truncateToInt(firstAsDouble(call.prhs[3], 0.0), 0, kLargestReplyLimit)
                          : kDefaultReplyLimit;
    bool ok = false;
    std::string reply;
    if (Connection c = connect(call.prhs[1]); c.session) {
        ok = c.session->queryText(reply, call.text(2), limit);
        if (!ok) IOManager::instance().removeSession(c.session);
    }
    setResults(call, ok, SecondResult::ExactlyTwo, reply);
    return nullptr;
}

// Peak normalisation is on unless the flag says "no_norm", in any case.
bool isNoNorm(const std::string& flag) { return equalsIgnoringCase(flag, "no_norm"); }

bool isNumericData(const mxArray* array) { return array && !mxIsStruct(array) && !mxIsCell(array); }

const char* download(const Call& call) {
    if (call.nrhs != 7 || !call.isStruct(1) || !call.isChar(4) || !call.isChar(6)) return kUsageDownload;
    const mxArray* w = call.prhs[2];
    const mxArray* markers = call.prhs[3];
    bool ok = false;
    if (Connection c = connect(call.prhs[1]); c.session) {
        if (std::unique_ptr<SignalGenerator> generator = identify(c)) {
            if (!isNumericData(w)) {
                IOManager::instance().setStatusText("The waveform has to be a numeric row vector");
            } else if (!isNumericData(markers)) {
                IOManager::instance().setStatusText("The markers have to be a numeric matrix");
            } else {
                // One sample per column; a part the array does not have is all zeros.
                const std::size_t count = mxGetN(w);
                std::vector<double> iScratch, qScratch, marksScratch;
                const double* i = partView(w, count, false, iScratch);
                const double* q = partView(w, count, true, qScratch);
                const std::size_t rows = mxGetM(markers);
                const std::size_t columns = mxGetN(markers);
                const double* marks = partView(markers, rows * columns, false, marksScratch);
                generator->setNormalize(!isNoNorm(call.text(4)));
                generator->setGain(firstAsDouble(call.prhs[5], 0.0));
                ok = generator->download(count, i, q, rows, columns, marks, call.text(6));
                if (!ok) IOManager::instance().removeSession(c.session);
            }
        }
    }
    setResults(call, ok, SecondResult::ExactlyTwo);
    return nullptr;
}

const char* returnControl(const Call& call) {
    if (call.nrhs != 2 || !call.isStruct(1)) return kUsageReturnControl;
    const Connection c = connect(call.prhs[1]);
    // Handing the panel back cannot be checked on every transport; an open session is
    // success. It ends a caller's sequence, so a socket first has the instrument confirm
    // that all of it arrived.
    bool ok = c.session != nullptr && c.session->confirmWrites();
    if (ok) c.session->goToLocal();
    if (c.session && !ok) IOManager::instance().removeSession(c.session);
    setResults(call, ok, SecondResult::ExactlyTwo);
    return nullptr;
}

const char* setTimeout(const Call& call) {
    if (call.nrhs != 3 || !call.isStruct(1) || !call.prhs[2] || !mxIsDouble(call.prhs[2])) return kUsageTimeout;
    const Connection c = connect(call.prhs[1]);
    if (c.session) c.session->setTimeout(truncateToInt(firstAsDouble(call.prhs[2], 0.0), INT32_MIN, INT32_MAX));
    setResults(call, c.session != nullptr, SecondResult::ExactlyTwo);
    return nullptr;
}

// Bytes per element of a block's data by the class of the array: 1 for char, int8 and uint8,
// 8 for double; 0 for any other class.
std::size_t blockElementSize(const mxArray* array) {
    if (!array) return 0;
    switch (mxGetClassID(array)) {
        case mxCHAR_CLASS:
        case mxINT8_CLASS:
        case mxUINT8_CLASS: return 1;
        case mxDOUBLE_CLASS: return 8;
        default: return 0;
    }
}

// The block of a sendbinaryfile: doubles as IEEE little-endian, characters one byte each.
std::vector<std::uint8_t> blockBytes(const mxArray* data, std::size_t elementSize, std::size_t count) {
    std::vector<std::uint8_t> bytes(count * elementSize);
    if (count == 0) return bytes;
    if (mxGetClassID(data) == mxDOUBLE_CLASS) {
        const double* values = mxGetPr(data);
        for (std::size_t k = 0; k < count; ++k) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &values[k], sizeof bits);
            for (std::size_t b = 0; b < 8; ++b) bytes[k * 8 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
        }
    } else if (mxIsChar(data)) {
        std::string text;
        charText(data, text);
        std::memcpy(bytes.data(), text.data(), count);
    } else {
        std::memcpy(bytes.data(), mxGetData(data), count);
    }
    return bytes;
}

const char* sendBinaryFile(const Call& call) {
    if (call.nrhs != 4 || !call.isStruct(1) || !call.isChar(2)) return kUsageSendBinary;
    bool ok = false;
    {
        Connection c = connect(call.prhs[1]);
        std::unique_ptr<SignalGenerator> generator = identify(c);
        if (generator) {
            const mxArray* data = call.prhs[3];
            const std::size_t elementSize = blockElementSize(data);
            if (elementSize == 0) return kUsageSendBinaryClass;  // everything above is released on return
            const std::size_t count = mxGetM(data) * mxGetN(data);
            if ((count * elementSize) % 2 != 0) {
                IOManager::instance().setStatusText("Binary buffer size has to be even");
            } else {
                const std::vector<std::uint8_t> bytes = blockBytes(data, elementSize, count);
                ok = generator->sendBinaryBlock(call.text(2), bytes.data(), bytes.size());
                if (!ok) IOManager::instance().removeSession(c.session);
            }
        }
    }
    setResults(call, ok, SecondResult::TwoOrMore);
    return nullptr;
}

// An array returned to the caller, destroyed unless it is handed over.
class OwnedArray {
public:
    explicit OwnedArray(mxArray* array = nullptr) : array_(array) {}
    ~OwnedArray() {
        if (array_) mxDestroyArray(array_);
    }
    OwnedArray(const OwnedArray&) = delete;
    OwnedArray& operator=(const OwnedArray&) = delete;
    mxArray* get() const { return array_; }
    void reset(mxArray* array) {
        if (array_) mxDestroyArray(array_);
        array_ = array;
    }
    mxArray* release() {
        mxArray* out = array_;
        array_ = nullptr;
        return out;
    }

private:
    mxArray* array_;
};

// A 1 x n array of the class of `like` for an uploaded block of n elements.
mxArray* createUploadArray(const mxArray* like, std::size_t n) {
    const mxClassID id = mxGetClassID(like);
    if (id != mxCHAR_CLASS) return mxCreateNumericMatrix(1, n, id, mxREAL);
    // The standard way to a char array of a given length; the characters are overwritten.
    const std::string blanks(n, ' ');
    const char* rows[] = {blanks.c_str()};
    return mxCreateCharMatrixFromStrings(1, rows);
}

// Reads the block into the array; a host with wider characters gets one byte per character.
bool readUploadData(SignalGenerator& generator, mxArray* array, std::size_t byteCount) {
    auto* storage = static_cast<std::uint8_t*>(mxGetData(array));
    if (!storage) {
        IOManager::instance().setStatusText("Not enough memory for the uploaded data");
        return false;
    }
    if (!mxIsChar(array) || mxGetElementSize(array) == 1) return generator.readBlockData(storage, byteCount);
    std::vector<std::uint8_t> bytes(byteCount);
    if (!generator.readBlockData(bytes.data(), byteCount)) return false;
    const std::size_t width = mxGetElementSize(array);
    std::memset(storage, 0, byteCount * width);
    for (std::size_t k = 0; k < byteCount; ++k) storage[k * width] = bytes[k];  // little-endian hosts
    return true;
}

const char* upload(const Call& call) {
    if (call.nrhs != 4 || !call.isStruct(1) || !call.isChar(2)) return kUsageUpload;
    bool ok = false;
    OwnedArray data;
    {
        Connection c = connect(call.prhs[1]);
        std::unique_ptr<SignalGenerator> generator = identify(c);
        if (generator) {
            const std::size_t elementSize = blockElementSize(call.prhs[3]);
            if (elementSize == 0) return kUsageUploadClass;
            std::size_t byteCount = 0;
            if (generator->readBlockHeader(call.text(2), byteCount)) {
                if (byteCount % elementSize != 0) {
                    IOManager::instance().setStatusText("The data file size does not fit the required data type");
                } else if (byteCount == 0) {
                    IOManager::instance().setStatusText("Error when uploading data. No data in the read buffer");
                } else {
                    data.reset(createUploadArray(call.prhs[3], byteCount / elementSize));
                    if (!data.get())
                        IOManager::instance().setStatusText("Not enough memory for the uploaded data");
                    else
                        ok = readUploadData(*generator, data.get(), byteCount);
                }
            }
            if (!ok) IOManager::instance().removeSession(c.session);
        }
    }
    setResults(call, ok, SecondResult::TwoOrMore);
    if (call.nlhs >= 3) call.plhs[2] = ok ? data.release() : mxCreateDoubleScalar(0.0);
    return nullptr;
}

const char* dispatch(const Call& call) {
    if (call.nrhs < 1 || !call.prhs[0] || !mxIsInt32(call.prhs[0]) || mxIsEmpty(call.prhs[0])) return kUsage;
    switch (static_cast<std::int32_t>(firstAsDouble(call.prhs[0], 0.0))) {
        case kPing: return ping(call);
        case kSend: return send(call);
        case kQuery: return query(call);
        case kDownload: return download(call);
        case kReturnControl: return returnControl(call);
        case kSendBinaryFile: return sendBinaryFile(call);
        case kUpload: return upload(call);
        case kSetTimeout: return setTimeout(call);
        case kReleaseAll: IOManager::releaseAll(); return nullptr;
        default: return nullptr;  // unknown codes are ignored
    }
}

// Text of an unexpected failure, kept where it outlives the call that raises it.
char failureText[512];

}  // namespace

}  // namespace vesk

extern "C" {
static void releaseSessionsAtExit(void) { vesk::IOManager::releaseAll(); }
}

namespace {

// The host's stop request and progress display, when the library that gives this module its
// MEX functions has them (looked up there: it may not have been loaded for all to see).
void findHostHooks() {
    static const bool found = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&mexErrMsgTxt), &info) == 0 || !info.dli_fname) return false;
        void* host = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
        if (!host) return false;
        vesk::setHostHooks(reinterpret_cast<vesk::InterruptQuery>(::dlsym(host, "BreviaInterruptPending")),
                           reinterpret_cast<vesk::ProgressReport>(::dlsym(host, "BreviaReportProgress")));
        ::dlclose(host);  // still loaded: the host holds it
        return true;
    }();
    (void)found;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Registered on every call: the host may have forgotten an earlier registration.
    mexAtExit(releaseSessionsAtExit);
    findHostHooks();
    const char* error = nullptr;
    try {
        error = vesk::dispatch(vesk::Call{nlhs, plhs, nrhs, prhs});
    } catch (const std::exception& e) {
        // Nothing may escape into a host that does not know C++ exceptions.
        std::snprintf(vesk::failureText, sizeof vesk::failureText, "vesk: %s", e.what());
        error = vesk::failureText;
    }
    if (error) mexErrMsgTxt(error);
}
