#pragma once
// Reading the call log that libsimvisa writes when SIMVISA_LOG names a file.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The log's lines split into words; only those whose first word is `kind` when one is given.
inline std::vector<std::vector<std::string>> readSimvisaLog(const std::string& path, const char* kind = nullptr) {
    std::vector<std::vector<std::string>> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) fields.push_back(word);
        if (!fields.empty() && (!kind || fields[0] == kind)) lines.push_back(fields);
    }
    return lines;
}
