#pragma once
// The message of the host error a call raises, or "(no error)".

#include <string>

#include "host/error.h"

template <class Call>
std::string errorMessageOf(Call&& call) {
    try {
        call();
    } catch (const host::Error& e) {
        return e.what();
    }
    return "(no error)";
}
