#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "foundation/Log.h"
#include "foundation/Result.h"
#include "platform/UserDefaults.h"

namespace orvel {

// User defaults kept in one JSON file, "defaults.json" in the given folder (normally
// $XDG_CONFIG_HOME/orvel). Reads come from memory. Every change is written through to the file
// by a writer thread, so the main thread never waits on the disk: under an exclusive lock
// (".defaults.lock") the writer re-reads the file, applies only the keys this process changed,
// writes a new file beside it, syncs it and renames it over the old one. The file is therefore
// always whole, and two processes sharing it keep each other's changes.
//
// A file that reads but does not decode as settings, or that is larger than any settings Orvel
// writes (32 MiB), is moved aside to "defaults.json.damaged-<UTC time>", with one log line; the
// store then starts empty (the registered values apply); one that cannot be moved aside counts as
// unreadable. A file that is there but cannot be read at all (no permission, a folder in its place)
// is never written: the store runs on what it holds in memory and is read-only until the next
// start, so the user's settings are not replaced by one run's keys.
class FileUserDefaults final : public UserDefaults {
  public:
    enum class Writes { Background, Synchronous };

    // The most the file legitimately holds is an import's worth of rules and drives (an import
    // reads at most 16 MiB) kept in base64, a third longer: 21.3 MiB; the activity log (50
    // entries), the saved session and the preferences add well under 1 MiB. A larger file is set
    // aside as a damaged one is, which also bounds what decoding it costs at start.
    static constexpr std::size_t kMaxFileSize = 32u << 20;

    explicit FileUserDefaults(std::string folder, Writes writes = Writes::Background);
    ~FileUserDefaults() override;

    void registerDefaults(const DefaultsDictionary& defaults) override;
    std::optional<DefaultsValue> persistentValue(std::string_view key) const override;
    std::optional<DefaultsValue> registeredValue(std::string_view key) const override;
    void setObject(std::string_view key, DefaultsValue value) override;
    void removeObject(std::string_view key) override;
    void removePersistentDomain() override;
    DefaultsDictionary persistentDomain() const override { return memory_.persistentDomain(); }
    void synchronize() override;

    const std::string& path() const { return path_; }

    // Whether the file is there but could not be read, so that changes are kept in memory only;
    // and why, in words ready to show (empty while the store is not read-only). Any thread.
    bool isReadOnly() const;
    std::string readOnlyReason() const;

    // For tests: runs in the writer after the new file is complete and synced, just before it
    // replaces the old one.
    void setBeforeReplaceHook(std::function<void()> hook);

    // The domain encoded as the file holds it, and decoded back; exposed for tests.
    static std::string encode(const DefaultsDictionary& domain);
    static std::optional<DefaultsDictionary> decode(std::string_view text, std::string* fault);

  private:
    struct Changes {
        bool clearAll = false;
        std::map<std::string, std::optional<DefaultsValue>, std::less<>> keys;
        bool empty() const { return !clearAll && keys.empty(); }
        void merge(Changes later);
    };

    void record(Changes change);
    void writerLoop();
    bool write(const Changes& changes);
    void loadAtStart();
    // The settings the file holds, or nothing: no file, or one that is damaged or too large, said
    // in `unusable` ("damaged (…)"); an error when it cannot be read at all.
    Result<std::optional<DefaultsDictionary>> readDomain(std::string* unusable) const;
    void becomeReadOnly(const std::string& why);
    // Renames the damaged file beside itself; the new name, or why it stays where it is.
    Result<std::string> moveAside();

    std::string folder_;
    std::string path_;
    std::string lockPath_;
    Writes writes_;
    MemoryUserDefaults memory_;
    Logger log_{"defaults"};

    std::atomic<bool> readOnly_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    Changes pending_;  // changes not yet handed to the writer
    Changes failed_;   // changes whose write failed; retried with the next change
    bool writing_ = false;
    bool stopping_ = false;
    std::function<void()> beforeReplace_;
    std::string readOnlyReason_;
    std::thread writer_;
};

}  // namespace orvel
