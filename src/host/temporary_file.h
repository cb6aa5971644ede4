#pragma once
// Replacing a file safely: the new contents go to a temporary file beside the target,
// which is renamed over the target only when complete, so a failed save never destroys
// the previous file and readers never see half of the new one.

#include <cstdint>
#include <span>
#include <string>

namespace host {

class TemporaryBeside {
public:
    // Creates an empty, uniquely named file in the target's folder; throws host::Error
    // (without naming the target: callers say what was being saved).
    explicit TemporaryBeside(const std::string& target);
    TemporaryBeside(const TemporaryBeside&) = delete;
    TemporaryBeside& operator=(const TemporaryBeside&) = delete;
    // Removes the file unless it was committed.
    ~TemporaryBeside();

    const std::string& name() const { return name_; }
    // Open for writing at offset 0 until commit().
    int fd() const { return fd_; }

    // Flushes the file to disk and renames it over the target; throws host::Error.
    void commit();

private:
    std::string target_;
    std::string name_;
    int fd_ = -1;
    bool pending_ = false;
};

// Writes `bytes` as the whole new contents of `path` through a TemporaryBeside; throws
// host::Error with the reason.
void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace host
