#pragma once
// Text helpers of the extension, which has only the C++ library to lean on: the names and
// flags its callers give are compared regardless of case, and instrument catalogues are
// matched in upper case.

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace vesk {

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

inline std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace vesk
