#pragma once
// The caller's connection structure turned into the IOConfig of one command.

#include <memory>

#include "ext/io_config.h"
#include "mex.h"

namespace vesk {

// The IOConfig that element 1 of `structure` describes, or nullptr with the reason in the
// IOManager's status text.
std::unique_ptr<IOConfig> parseConfig(const mxArray* structure);

}  // namespace vesk
