#include "host/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

#include "host/error.h"

namespace host {

namespace {
std::string systemMessage(int error) { return std::system_category().message(error); }
}  // namespace

TemporaryBeside::TemporaryBeside(const std::string& target) : target_(target) {
    const std::filesystem::path t(target);
    if (t.filename().empty()) throw Error("no file name was given");
    const std::filesystem::path dir = t.has_parent_path() ? t.parent_path() : std::filesystem::path(".");
    std::random_device random;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        name_ = (dir / ("." + t.filename().string() + "." + std::to_string(random()) + ".tmp")).string();
        // 0666 so that the umask decides the permissions, as for any new file.
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            throw Error("cannot create a file in '" + dir.string() + "': " + systemMessage(errno));
    }
    if (fd_ < 0) throw Error("cannot find a free temporary name in '" + dir.string() + "'");
    pending_ = true;
    // A replaced file keeps its permissions.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)::fchmod(fd_, st.st_mode & 07777);
}

TemporaryBeside::~TemporaryBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (pending_) ::unlink(name_.c_str());
}

void TemporaryBeside::commit() {
    // On disk before the rename, so that a crash cannot leave an empty file under the old name.
    if (::fsync(fd_) != 0) throw Error("the file could not be flushed to disk: " + systemMessage(errno));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw Error("the file could not be closed: " + systemMessage(errno));
    if (::rename(name_.c_str(), target_.c_str()) != 0)
        throw Error("it could not be replaced: " + systemMessage(errno));
    pending_ = false;
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw Error("it is a folder");
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
