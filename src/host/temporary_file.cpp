#include "host/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <system_error>

#include "host/error.h"

namespace host {

namespace {

std::string systemMessage(int error) { return std::system_category().message(error); }

// ---- removal on a stopping signal ---------------------------------------------------------
// The handler may only call what is safe in a signal handler: it reads fixed buffers whose
// slot is published by an atomic flag, unlinks, and re-raises with the default action.

constexpr int kSlots = 16;
constexpr std::size_t kNameCapacity = 4096;
char pendingNames[kSlots][kNameCapacity];
std::atomic<bool> slotTaken[kSlots];
std::atomic<bool> slotReady[kSlots];
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removePendingThenStop(int signal) {
    for (int i = 0; i < kSlots; ++i)
        if (slotReady[i].load()) ::unlink(pendingNames[i]);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Once per process, for the stopping signals nothing else handles.
void installSignalCleanup() {
    static const bool installed = [] {
        for (int s : kStopSignals) {
            struct sigaction current {};
            if (::sigaction(s, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = removePendingThenStop;
            sigemptyset(&action.sa_mask);
            ::sigaction(s, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

int registerPending(const std::string& name) {
    if (name.size() >= kNameCapacity) return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!slotTaken[i].compare_exchange_strong(expected, true)) continue;
        std::memcpy(pendingNames[i], name.c_str(), name.size() + 1);
        slotReady[i].store(true);
        return i;
    }
    return -1;  // more saves at once than the table holds: these go without signal cleanup
}

void unregisterPending(int slot) {
    if (slot < 0) return;
    slotReady[slot].store(false);
    slotTaken[slot].store(false);
}

// ---- what is saved -------------------------------------------------------------------------

// The file a name stands for: symbolic links followed (to a file that may not exist yet).
std::filesystem::path followLinks(std::filesystem::path p) {
    std::error_code ec;
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(p, ec); ++hop) {
        const std::filesystem::path to = std::filesystem::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p;
}

long pidOf(std::string_view text) {
    long pid = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return ec == std::errc() && end == text.data() + text.size() ? pid : 0;
}

// Temporary files of earlier saves of this file that their processes left behind: of a
// process that has ended, or (names without a process, from older versions) older than ten
// minutes. Another live process's save is never touched.
void removeStaleTemporaries(const std::filesystem::path& dir, const std::string& fileName) {
    const std::string start = "." + fileName + ".";
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    const std::time_t now = std::time(nullptr);
    int looked = 0;
    while (const dirent* e = ::readdir(d)) {
        if (++looked > 100000) break;
        const std::string_view n(e->d_name);
        if (n.size() <= start.size() + 4 || n.substr(0, start.size()) != start || n.substr(n.size() - 4) != ".tmp") continue;
        const std::string_view middle = n.substr(start.size(), n.size() - start.size() - 4);
        const std::filesystem::path full = dir / std::string(n);
        const std::size_t dot = middle.find('.');
        bool stale = false;
        if (dot != std::string_view::npos) {
            const long pid = pidOf(middle.substr(0, dot));
            stale = pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
        } else {
            struct stat st {};
            stale = ::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > 600;
        }
        if (stale) ::unlink(full.c_str());
    }
    ::closedir(d);
}

}  // namespace

std::string temporaryPrefix(const std::string& fileName, long pid) { return "." + fileName + "." + std::to_string(pid) + "."; }

TemporaryBeside::TemporaryBeside(const std::string& target) {
    if (std::filesystem::path(target).filename().empty()) throw Error("no file name was given");
    const std::filesystem::path t = followLinks(target);
    target_ = t.string();
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) throw Error("it is a folder");
    // Write permission bits, not only access(): a privileged user may write anything, and a
    // file made read-only is still not to be replaced under its owner.
    if (exists && S_ISREG(st.st_mode) && ((st.st_mode & 0222) == 0 || ::access(target_.c_str(), W_OK) != 0))
        throw Error("it is read-only");
    inPlace_ = exists && S_ISREG(st.st_mode) && st.st_nlink > 1;

    const std::filesystem::path dir = t.has_parent_path() ? t.parent_path() : std::filesystem::path(".");
    removeStaleTemporaries(dir, t.filename().string());
    installSignalCleanup();
    std::random_device random;
    const std::string prefix = temporaryPrefix(t.filename().string(), static_cast<long>(::getpid()));
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        name_ = (dir / (prefix + std::to_string(random()) + ".tmp")).string();
        // 0666 so that the umask decides the permissions, as for any new file.
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            throw Error("cannot create a file in '" + dir.string() + "': " + systemMessage(errno));
    }
    if (fd_ < 0) throw Error("cannot find a free temporary name in '" + dir.string() + "'");
    pending_ = true;
    slot_ = registerPending(name_);
    // A replaced file keeps its permissions.
    if (exists && S_ISREG(st.st_mode)) (void)::fchmod(fd_, st.st_mode & 07777);
}

TemporaryBeside::~TemporaryBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (pending_) ::unlink(name_.c_str());
    unregisterPending(slot_);
}

namespace {

// Copies the complete new contents into the target's own inode, so that all its hard links
// see them. Not atomic, so only done once the new contents are whole on disk beside it.
void rewriteInPlace(const std::string& from, const std::string& target) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw Error("the new contents could not be read back: " + systemMessage(errno));
    const int out = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        throw Error("it could not be opened for writing: " + systemMessage(error));
    }
    char buffer[1 << 16];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error = errno;
            break;
        }
        for (ssize_t done = 0; done < n && error == 0;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) error = w < 0 ? errno : EIO;
            else done += w;
        }
        if (error != 0) break;
    }
    if (error == 0 && ::fsync(out) != 0) error = errno;
    ::close(in);
    if (::close(out) != 0 && error == 0) error = errno;
    if (error != 0)
        throw Error("it could not be rewritten (" + systemMessage(error) + "); the complete new contents are in '" + from + "'");
}

}  // namespace

void TemporaryBeside::commit() {
    // On disk before the rename, so that a crash cannot leave an empty file under the old name.
    if (::fsync(fd_) != 0) throw Error("the file could not be flushed to disk: " + systemMessage(errno));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw Error("the file could not be closed: " + systemMessage(errno));
    if (inPlace_) {
        try {
            rewriteInPlace(name_, target_);
        } catch (const Error&) {
            pending_ = false;  // the new contents stay where the message says
            throw;
        }
        ::unlink(name_.c_str());
    } else if (::rename(name_.c_str(), target_.c_str()) != 0) {
        throw Error("it could not be replaced: " + systemMessage(errno));
    }
    pending_ = false;
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    TemporaryBeside temporary(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(temporary.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Error("writing failed: " + systemMessage(n < 0 ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
    temporary.commit();
}

}  // namespace host
