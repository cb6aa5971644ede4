#pragma once
// The library's instrument commands: the connection record in its two forms and the thin
// wrappers that turn it into the extension's connection structure and run the extension
// by name. The wrappers add no checks of their own: a failure comes back as status -1 with
// the extension's message, and a usage error of the extension arrives as a host error.

#include <optional>
#include <string>
#include <vector>

#include "host/array.h"

namespace mexio {

inline constexpr const char* kExtensionName = "vesk";

// The connection record as start-up creates it (Connection 2 = GPIB, board 0, primary 19,
// no secondary, serial port 1 at 9600 baud, hand-shake index 1, no last parameter file).
host::Array initialConfiguration();

// The structure form the wrappers consume, from the initial form: `type`, `GPIB`, `RS232`
// and `TCPIP` sub-records; the initial fields are removed, LastParameterFilename stays.
// `handshakeText` is the hand-shake list's entry for the record's index when the dialog
// offers one; without it the hand-shake is "Xon/Xoff". A record already in structure form
// (no `Connection` field) comes back unchanged.
host::Array reStructureConfig(const host::Array& initial, const std::optional<std::string>& handshakeText = {});

// The hand-shake list of the I/O dialog, in order: an initial-form `HandShake` is an index into
// it from 0.
inline constexpr const char* kHandShakeNames[] = {"None", "Xon/Xoff", "RTS/CTS"};
// The structure form of a record in either form, the initial form's hand-shake index read
// through that list (an index outside it gives "Xon/Xoff"). The application's `configuration`
// is always held in this form, so that the wrappers can use it before the dialog has run.
host::Array structuredConfiguration(const host::Array& config);

// The extension's connection structure: the numeric fields of GPIB, RS232 and TCPIP as int32.
host::Array formatconfig(const host::Array& configIn);

// Runs the extension with these arguments and result count.
std::vector<host::Array> vesk(int nargout, const std::vector<host::Array>& args);
std::vector<host::Array> vesk(int nargout, std::vector<host::Array>&& args);

struct Reply {
    double status = -1;    // 0 success, -1 failure
    host::Array response;  // "Succeed", a query's reply, or the failure message
};
Reply hwPing(const host::Array& config);
Reply hwSend(const host::Array& config, const std::string& command);
Reply hwQuery(const host::Array& config, const std::string& query);
Reply hwSetTimeout(const host::Array& config, double milliseconds);
Reply hwReturnLocal(const host::Array& config);
// Always with peak normalisation on and gain 1.
Reply hwDownload(const host::Array& config, const host::Array& data, const host::Array& markers, const std::string& filename);

}  // namespace mexio
