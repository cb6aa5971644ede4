#include "ext/io_manager.h"

#include "ext/hardware_io.h"
#include "ext/io_config.h"

namespace vesk {

namespace {

// A plain pointer rather than a static object: sessions may be closed from the host's exit
// hook, and a static with a destructor could already be gone by then.
IOManager* theManager = nullptr;

constexpr std::size_t kSessionBuckets = 17;

}  // namespace

IOManager::IOManager() : sessions_(kSessionBuckets) {
    // A fixed table of chained buckets: a handful of instruments never warrants a rehash.
    sessions_.max_load_factor(static_cast<float>(1u << 20));
}

IOManager::~IOManager() = default;

IOManager& IOManager::instance() {
    if (!theManager) theManager = new IOManager();
    return *theManager;
}

void IOManager::releaseAll() {
    if (!theManager) return;
    // Sessions are closed while the manager still exists: a close may report a failure
    // through the status text.
    auto sessions = std::move(theManager->sessions_);
    theManager->sessions_.clear();
    for (auto& entry : sessions) {
        entry.second->close();
        entry.second.reset();
    }
    delete theManager;
    theManager = nullptr;
}

HardwareIO* IOManager::openSession(const std::string& key,
                                   const std::function<std::unique_ptr<HardwareIO>()>& create) {
    if (auto found = sessions_.find(key); found != sessions_.end()) return found->second.get();
    std::unique_ptr<HardwareIO> session = create ? create() : nullptr;
    if (!session) return nullptr;
    session->setSessionKey(key);
    if (!session->open()) return nullptr;
    HardwareIO* opened = session.get();
    sessions_.emplace(key, std::move(session));
    return opened;
}

HardwareIO* IOManager::openSession(const IOConfig& config) {
    HardwareIO* session = openSession(sessionKey(config), [&config] { return createSession(config); });
    if (session && config.kind() == IOConfig::kRS232) {
        const auto& serial = static_cast<const IOConfigRS232&>(config);
        session->setSerialParameter(0, serial.baudrate);
        session->setSerialParameter(1, static_cast<int>(serial.handshake));
    }
    return session;
}

void IOManager::removeSession(HardwareIO* session) {
    if (!session) return;
    std::unique_ptr<HardwareIO> owned;
    if (auto found = sessions_.find(session->sessionKey()); found != sessions_.end() && found->second.get() == session) {
        owned = std::move(found->second);
        sessions_.erase(found);
    }
    session->close();
    // A session that was never entered stays the caller's to delete.
    owned.reset();
}

HardwareIO* IOManager::findSession(const std::string& key) const {
    const auto found = sessions_.find(key);
    return found == sessions_.end() ? nullptr : found->second.get();
}

std::string IOManager::takeStatusText() {
    std::string text = std::move(statusText_);
    statusText_ = "Succeeded";
    return text;
}

}  // namespace vesk
