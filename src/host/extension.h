#pragma once
// Extensions by name: modules (shared objects with a MEX entry point) that the host opens
// on first use and keeps open until the library terminates.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"

namespace host {

// Calls the entry point of extension `module` with copies of `args` and returns its outputs:
// `nlhs` of them, or when nlhs is 0 the one value the module left for ans (if any). The module
// is looked for as <module>.so in $BREVIA_EXTENSION_PATH (a ':'-separated list of folders),
// then beside libbrevia, then through the dynamic loader's own search, and opened once; its
// mexAtExit function runs and the module is closed at terminateLibrary, so the next call
// opens it afresh. Errors the module raises (mexErrMsgTxt) and failures to find or open it
// are thrown as host::Error.
std::vector<Array> mexCallByName(std::string_view module, int nlhs, const std::vector<Array>& args);
// The same with arguments the caller gives up: no copy is made (a frame is 16 MB).
std::vector<Array> mexCallByName(std::string_view module, int nlhs, std::vector<Array>&& args);
// The same reading the caller's arrays in place, for a module trusted to treat its inputs
// as the read-only values they are declared to be (the instrument extension).
std::vector<Array> mexCallByNameReadOnly(std::string_view module, int nlhs, std::span<const Array* const> args);

// The folder libbrevia was loaded from ("" when the loader cannot say): extensions and the
// window library are looked for beside it.
std::string libraryDirectory();

// Whether `module` is open now.
bool extensionLoaded(std::string_view module);

}  // namespace host
