#pragma once
// The process-wide table of open instrument sessions and the status text that carries the
// last failure message back to the caller.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace vesk {

class HardwareIO;
class IOConfig;

class IOManager {
public:
    // The single manager, created on first use with an empty table and "IO Success".
    static IOManager& instance();

    // Closes and deletes every session and then the manager itself, so that the next call
    // starts afresh. Static because it is also the host's exit hook.
    static void releaseAll();

    // The session under the configuration's key, opened with the transport it names when
    // the table has none. A serial session gets the configuration's baud rate and flow
    // control every time, found or new, so the settings follow the caller's latest structure.
    HardwareIO* openSession(const IOConfig& config);

    // The session stored under `key`; when there is none, `create` builds one, which is
    // opened and, when that succeeds, entered under the key. A failed open deletes the
    // object and returns nullptr, leaving the transport's message in the status text.
    HardwareIO* openSession(const std::string& key, const std::function<std::unique_ptr<HardwareIO>()>& create);

    // Forgets the session, then closes and deletes it.
    void removeSession(HardwareIO* session);

    HardwareIO* findSession(const std::string& key) const;
    std::size_t sessionCount() const { return sessions_.size(); }
    std::size_t bucketCount() const { return sessions_.bucket_count(); }

    void setStatusText(std::string text) { statusText_ = std::move(text); }
    const std::string& statusText() const { return statusText_; }
    // The message for the caller; what is left behind reads "Succeeded".
    std::string takeStatusText();

    IOManager(const IOManager&) = delete;
    IOManager& operator=(const IOManager&) = delete;

private:
    IOManager();
    ~IOManager();

    std::unordered_map<std::string, std::unique_ptr<HardwareIO>> sessions_;
    std::string statusText_ = "IO Success";
};

}  // namespace vesk
