#include "ext/visa_impl.h"

#include "ext/host_hooks.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "ext/io_manager.h"

namespace vesk {

namespace {

// Process-wide state of the loaded library. Kept trivially destructible so that sessions
// closed late at process exit still find it intact.
struct VisaLibrary {
    void* handle = nullptr;
    ViOpenDefaultRMFn openDefaultRM = nullptr;
    ViOpenFn open = nullptr;
    ViCloseFn close = nullptr;
    ViScanfFn scanf = nullptr;
    ViPrintfFn printf = nullptr;
    ViBufWriteFn bufWrite = nullptr;
    ViBufReadFn bufRead = nullptr;
    ViStatusDescFn statusDesc = nullptr;
    ViGpibControlRENFn gpibControlREN = nullptr;
    ViSetAttributeFn setAttribute = nullptr;
    ViGetAttributeFn getAttribute = nullptr;
    ViFlushFn flush = nullptr;
    ViSetBufFn setBuf = nullptr;
    ViSession resourceManager = 0;
    int objects = 0;
};

VisaLibrary visa;

template <class Fn>
bool resolve(void* handle, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(dlsym(handle, name));
    return out != nullptr;
}

// Loads one candidate; it is kept only when all thirteen entry points resolve.
bool loadFrom(const std::string& name) {
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    VisaLibrary lib;
    lib.handle = handle;
    const bool complete = resolve(handle, "viOpenDefaultRM", lib.openDefaultRM) &&
                          resolve(handle, "viOpen", lib.open) && resolve(handle, "viClose", lib.close) &&
                          resolve(handle, "viScanf", lib.scanf) && resolve(handle, "viPrintf", lib.printf) &&
                          resolve(handle, "viBufWrite", lib.bufWrite) && resolve(handle, "viBufRead", lib.bufRead) &&
                          resolve(handle, "viStatusDesc", lib.statusDesc) &&
                          resolve(handle, "viGpibControlREN", lib.gpibControlREN) &&
                          resolve(handle, "viSetAttribute", lib.setAttribute) &&
                          resolve(handle, "viGetAttribute", lib.getAttribute) && resolve(handle, "viFlush", lib.flush) &&
                          resolve(handle, "viSetBuf", lib.setBuf);
    if (!complete) {
        dlclose(handle);
        return false;
    }
    lib.objects = visa.objects;
    visa = lib;
    return true;
}

bool loadLibrary() {
    if (visa.handle) return true;
    for (const std::string& name : visaLibraryCandidates())
        if (loadFrom(name)) return true;
    IOManager::instance().setStatusText(kNoVisaLibraryText);
    return false;
}

void unloadLibrary() {
    if (!visa.handle) return;
    if (visa.resourceManager) visa.close(visa.resourceManager);
    dlclose(visa.handle);
    const int objects = visa.objects;
    visa = VisaLibrary{};
    visa.objects = objects;
}

}  // namespace

std::vector<std::string> visaLibraryCandidates() {
    std::vector<std::string> names;
    if (const char* chosen = std::getenv("VESK_VISA_LIBRARY"); chosen && *chosen) names.emplace_back(chosen);
    for (const char* name : {"libaltvisa32.so", "libvisa32.so", "libvisa.so.7", "libvisa.so"}) names.emplace_back(name);
    return names;
}

VISAImpl::VISAImpl() { ++visa.objects; }

VISAImpl::~VISAImpl() {
    if (--visa.objects == 0) unloadLibrary();
}

bool VISAImpl::libraryLoaded() { return visa.handle != nullptr; }

int VISAImpl::objectCount() { return visa.objects; }

bool VISAImpl::statusCheck(ViStatus status) {
    if (status == VI_SUCCESS) return true;
    char description[1024];
    std::strncpy(description, "Invaid default session", sizeof description);
    if (visa.statusDesc) visa.statusDesc(visa.resourceManager, status, description);
    description[sizeof description - 1] = '\0';
    IOManager::instance().setStatusText(description);
    return false;
}

bool VISAImpl::openResource(const std::string& resource) {
    if (!visa.resourceManager) {
        if (!loadLibrary()) return false;
        ViSession manager = 0;
        if (!statusCheck(visa.openDefaultRM(&manager))) return false;
        visa.resourceManager = manager;
    }
    ViSession opened = 0;
    std::string name = resource;  // viOpen takes a mutable pointer
    if (!statusCheck(visa.open(visa.resourceManager, name.data(), VI_NULL, 0, &opened))) {
        session_ = 0;
        return false;
    }
    session_ = opened;
    return true;
}

void VISAImpl::closeResource() {
    if (session_ && visa.close) visa.close(session_);
    session_ = 0;
}

bool VISAImpl::visaWriteText(const std::string& text) {
    if (!visa.printf) return statusCheck(VI_ERROR_INV_OBJECT);
    // Through "%s", so that a '%' in a command goes out as it is.
    char format[] = "%s";
    return statusCheck(visa.printf(session_, format, text.c_str()));
}

bool VISAImpl::visaReadText(std::string& reply, int limit) {
    if (limit <= 0) {
        // No VISA call is made, so there is no VISA status to describe the failure.
        IOManager::instance().setStatusText("The reply limit must be at least 1 character, not " + std::to_string(limit));
        return false;
    }
    if (!visa.scanf) return statusCheck(VI_ERROR_INV_OBJECT);
    std::vector<char> buffer(static_cast<std::size_t>(limit), '\0');
    std::string format = "%" + std::to_string(limit - 1) + "t";
    if (!statusCheck(visa.scanf(session_, format.data(), buffer.data()))) {
        reply.clear();
        return false;
    }
    buffer.back() = '\0';
    reply.assign(buffer.data());
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return true;
}

bool VISAImpl::visaReadBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) {
    received = 0;
    if (count == 0) return true;
    if (!visa.bufRead) return statusCheck(VI_ERROR_INV_OBJECT);
    ViUInt32 got = 0;
    const ViStatus status = visa.bufRead(session_, buffer, static_cast<ViUInt32>(count), &got);
    received = got;
    if (status == VI_SUCCESS || status == VI_SUCCESS_TERM_CHAR || status == VI_SUCCESS_MAX_CNT) return true;
    return statusCheck(status);
}

bool VISAImpl::bufferedWrite(const std::uint8_t* bytes, std::size_t wanted) {
    ViUInt32 written = 0;
    if (!statusCheck(visa.bufWrite(session_, const_cast<ViBuf>(bytes), static_cast<ViUInt32>(wanted), &written)))
        return false;
    if (written == wanted) return true;
    IOManager::instance().setStatusText("The VISA library wrote only " + std::to_string(written) + " of " +
                                        std::to_string(wanted) + " bytes");
    return false;
}

bool VISAImpl::visaWriteBytes(const std::uint8_t* bytes, std::size_t count, long pieceSize) {
    if (!visa.bufWrite) return statusCheck(VI_ERROR_INV_OBJECT);
    // Only the last byte of the block may carry END; pieces must not end the message.
    if (!statusCheck(visa.setAttribute(session_, VI_ATTR_SEND_END_EN, VI_FALSE))) return false;
    if (pieceSize < 0) {
        const bool ok = bufferedWrite(bytes, count);
        // Later text commands end with END again, as a listener that waits for it expects.
        visa.setAttribute(session_, VI_ATTR_SEND_END_EN, VI_TRUE);
        return ok;
    }
    const auto piece = static_cast<std::size_t>(pieceSize);
    bool ok = true;
    std::size_t offset = 0;
    // A stop request is looked at between pieces, each a short write on any transport.
    for (std::size_t n = 0; ok && n < count / piece; ++n, offset += piece) {
        if (interruptPending()) {
            IOManager::instance().setStatusText(kCancelledText);
            ok = false;
            break;
        }
        ok = bufferedWrite(bytes + offset, piece) &&
             statusCheck(visa.flush(session_, VI_WRITE_BUF));
        if (ok && count >= piece * 16) reportProgress(offset + piece, count);
    }
    if (ok) {
        ok = bufferedWrite(bytes + offset, count % piece) &&
             statusCheck(visa.flush(session_, VI_WRITE_BUF));
    }
    // Restored even after a failure: the session stays usable for text commands. The first
    // failure's message is the one kept.
    const ViStatus endStatus = visa.setAttribute(session_, VI_ATTR_SEND_END_EN, VI_TRUE);
    const ViStatus discardStatus = visa.flush(session_, VI_READ_BUF_DISCARD);
    if (!ok) return false;
    return statusCheck(endStatus) && statusCheck(discardStatus);
}

bool VISAImpl::visaPrepareRead() {
    if (!visa.flush) return statusCheck(VI_ERROR_INV_OBJECT);
    return statusCheck(visa.flush(session_, VI_READ_BUF));
}

bool VISAImpl::visaSetTimeout(int milliseconds) {
    // A time-out below two seconds would make slow instruments fail; such values are ignored.
    if (milliseconds < 2000) return true;
    return visaSetAttribute(VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(milliseconds));
}

bool VISAImpl::visaSetAttribute(ViAttr attribute, ViAttrState value) {
    if (!visa.setAttribute) return statusCheck(VI_ERROR_INV_OBJECT);
    return statusCheck(visa.setAttribute(session_, attribute, value));
}

void VISAImpl::visaSetAttributeQuietly(ViAttr attribute, ViAttrState value) {
    if (visa.setAttribute) visa.setAttribute(session_, attribute, value);
}

void VISAImpl::visaGoToLocal() {
    if (visa.gpibControlREN) visa.gpibControlREN(session_, VI_GPIB_REN_ADDRESS_GTL);
}

}  // namespace vesk
