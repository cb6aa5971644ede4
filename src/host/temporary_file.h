#pragma once
// Replacing a file safely: the new contents go to a temporary file beside the target,
// which is renamed over the target only when complete, so a failed save never destroys
// the previous file and readers never see half of the new one.
//
// What is replaced is the file the user means: a symbolic link is followed and its target
// replaced (the link stays a link); a file with other hard links is rewritten in place once
// the new contents are complete, so that every name sees them; a read-only file is refused.
// A temporary file is removed when the process is stopped by SIGINT, SIGTERM or SIGHUP (as
// long as nothing else handles them), and ones left beside a target by processes of ours
// that have ended are cleaned up when that target is next saved.

#include <cstdint>
#include <span>
#include <string>

namespace host {

class TemporaryBeside {
public:
    // Creates an empty, uniquely named file in the folder of the file `target` stands for;
    // throws host::Error (without naming the target: callers say what was being saved).
    explicit TemporaryBeside(const std::string& target);
    TemporaryBeside(const TemporaryBeside&) = delete;
    TemporaryBeside& operator=(const TemporaryBeside&) = delete;
    // Removes the file unless it was committed.
    ~TemporaryBeside();

    const std::string& name() const { return name_; }
    // Open for writing at offset 0 until commit().
    int fd() const { return fd_; }

    // Flushes the file to disk and puts it in place of the target; throws host::Error.
    void commit();

private:
    std::string target_;  // the file itself, links followed
    std::string name_;
    int fd_ = -1;
    bool pending_ = false;
    bool inPlace_ = false;  // the target has other hard links: rewrite it rather than rename
    int slot_ = -1;         // in the table the signal handler removes files from
};

// Writes `bytes` as the whole new contents of `path` through a TemporaryBeside; throws
// host::Error with the reason.
void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes);

// The temporary name a save of `target` by process `pid` uses, without its random part:
// ".<file>.<pid>." (exposed for tests).
std::string temporaryPrefix(const std::string& fileName, long pid);

}  // namespace host
