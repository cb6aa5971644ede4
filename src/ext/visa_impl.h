#pragma once
// The VISA library behind the GPIB, serial and TCPIP transports: loaded at run time when the
// first VISA session opens, shared by all of them with one default resource manager, and
// unloaded when the last VISA session object goes away.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ext/visa_api.h"

namespace vesk {

// The library names tried in order: the one named by VESK_VISA_LIBRARY first, then the
// usual file names of an alternative VISA and of the standard one.
std::vector<std::string> visaLibraryCandidates();

// Message when none of the candidates is a usable VISA library.
inline constexpr const char* kNoVisaLibraryText = "fail loading both visa32.dll and altvisa32.dll";

class VISAImpl {
public:
    VISAImpl();
    virtual ~VISAImpl();

    VISAImpl(const VISAImpl&) = delete;
    VISAImpl& operator=(const VISAImpl&) = delete;

    // Whether a library is loaded now; the tests use it to see the unload.
    static bool libraryLoaded();
    // Number of live VISA session objects.
    static int objectCount();

protected:
    // Opens `resource` through the default resource manager, loading the library and
    // opening the manager as needed.
    bool openResource(const std::string& resource);
    void closeResource();

    // A zero status passes; any other sets the status text to the library's description of
    // it and fails.
    bool statusCheck(ViStatus status);
    // One viBufWrite. It counts only when the library took every byte it was given: a short
    // count under a success status would leave the instrument with a cut block.
    bool bufferedWrite(const std::uint8_t* bytes, std::size_t count);

    bool visaWriteText(const std::string& text);
    bool visaReadText(std::string& reply, int limit);
    bool visaReadBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received);
    // pieceSize < 0 writes the block in one piece; otherwise piece by piece, each flushed.
    bool visaWriteBytes(const std::uint8_t* bytes, std::size_t count, long pieceSize);
    bool visaPrepareRead();
    bool visaSetTimeout(int milliseconds);
    bool visaSetAttribute(ViAttr attribute, ViAttrState value);
    // For settings whose outcome does not matter: no status check, no message.
    void visaSetAttributeQuietly(ViAttr attribute, ViAttrState value);
    void visaGoToLocal();

    ViSession session_ = 0;
};

}  // namespace vesk
