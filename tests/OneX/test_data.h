#pragma once
// Reference vectors kept under tests/data (made by the scripts in tests/tools).

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Reads "OS <key> <count>" headed blocks of one value per line.
inline std::map<int, std::vector<double>> readReferenceBlocks(const std::string& name) {
    std::ifstream in(std::string(BREVIA_TEST_DATA_DIR) + "/" + name);
    std::map<int, std::vector<double>> blocks;
    std::string tag;
    int key = 0;
    std::size_t count = 0;
    while (in >> tag >> key >> count) {
        std::vector<double>& v = blocks[key];
        v.resize(count);
        for (double& x : v) in >> x;
    }
    return blocks;
}
