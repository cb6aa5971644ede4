#include "host/records.h"

#include <map>
#include <string>

namespace host {

namespace {
std::map<std::string, Array, std::less<>>& table() {
    static std::map<std::string, Array, std::less<>> records;
    return records;
}
}  // namespace

Array& record(std::string_view name) {
    auto& t = table();
    auto it = t.find(name);
    if (it == t.end()) it = t.emplace(std::string(name), Array()).first;
    return it->second;
}

bool hasRecord(std::string_view name) { return table().find(name) != table().end(); }

void clearRecords() { table().clear(); }

}  // namespace host
