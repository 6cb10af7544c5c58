#include "platform/linux/FileUserDefaults.h"

#include "foundation/FileIO.h"
#include "foundation/Json.h"
#include "foundation/RunLoop.h"
#include "platform/linux/LinuxFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace orvel {

namespace {

constexpr const char* kFileName = "defaults.json";

Json toJson(const DefaultsValue& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Data>) {
                return Json{{"$data", base64Encode(v)}};
            } else if constexpr (std::is_same_v<T, Date>) {
                return Json{{"$date", v.secondsSinceReferenceDate}};
            } else if constexpr (std::is_same_v<T, DefaultsArray>) {
                Json array = Json::array();
                for (const auto& element : v) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, DefaultsDictionary>) {
                Json object = Json::object();
                for (const auto& [key, element] : v) {
                    object[key] = toJson(element);
                }
                return Json{{"$dict", object}};
            } else {
                return Json(v);
            }
        },
        value.storage);
}

// Settings nest a few levels; the limit keeps the decoding's recursion far from the stack's end.
constexpr int kMaxNesting = 64;

// The stored value, or nothing; `tooDeep` tells which nothing was for nesting beyond the limit.
std::optional<DefaultsValue> fromJson(const Json& json, bool* tooDeep, int depth = 0) {
    if ((json.is_array() || json.is_object()) && depth >= kMaxNesting) {
        *tooDeep = true;
        return std::nullopt;
    }
    if (json.is_boolean())
        return DefaultsValue(json.get<bool>());
    if (json.is_number_unsigned()) {
        const auto u = json.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return DefaultsValue(static_cast<std::int64_t>(u));
    }
    if (json.is_number_integer())
        return DefaultsValue(json.get<std::int64_t>());
    if (json.is_number_float())
        return DefaultsValue(json.get<double>());
    if (json.is_string())
        return DefaultsValue(json.get<std::string>());
    if (json.is_array()) {
        DefaultsArray array;
        for (const auto& element : json) {
            auto value = fromJson(element, tooDeep, depth + 1);
            if (!value)
                return std::nullopt;
            array.push_back(std::move(*value));
        }
        return DefaultsValue(std::move(array));
    }
    if (json.is_object() && json.size() == 1) {
        // Straight from the iterator: a binding to *items().begin() would outlive the proxy.
        const auto only = json.begin();
        const std::string& tag = only.key();
        const Json& inner = only.value();
        if (tag == "$data" && inner.is_string()) {
            Data data;
            if (!base64Decode(inner.get_ref<const std::string&>(), data))
                return std::nullopt;
            return DefaultsValue(std::move(data));
        }
        if (tag == "$date" && inner.is_number())
            return DefaultsValue(Date{inner.get<double>()});
        if (tag == "$dict" && inner.is_object()) {
            DefaultsDictionary dictionary;
            for (const auto& [key, element] : inner.items()) {
                auto value = fromJson(element, tooDeep, depth + 1);
                if (!value)
                    return std::nullopt;
                dictionary.emplace(key, std::move(*value));
            }
            return DefaultsValue(std::move(dictionary));
        }
    }
    return std::nullopt;
}

// An exclusive advisory lock, held while it lives.
class FileLock {
  public:
    FileLock(const std::string& path, const Logger& log) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            log.error("Could not open the settings lock file " + path + ": " +
                      std::strerror(errno) + "; going on without it.");
            return;
        }
        int result = 0;
        while ((result = ::flock(fd_, LOCK_EX)) < 0 && errno == EINTR) {
        }
        if (result < 0) {
            log.error("Could not lock the settings lock file " + path + ": " +
                      std::strerror(errno) + "; going on without it.");
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // closing releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

std::string utcStamp() {
    const double unix = RunLoop::hasMain() ? RunLoop::main().now().unixTime() : 0.0;
    const std::time_t seconds = static_cast<std::time_t>(unix);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
    return buffer;
}

}  // namespace

// Encoding -------------------------------------------------------------------------------------

std::string FileUserDefaults::encode(const DefaultsDictionary& domain) {
    Json object = Json::object();
    for (const auto& [key, value] : domain) {
        Json encoded = toJson(value);
        // A number JSON cannot spell (not finite) leaves its key out rather than turn it into
        // null, which would read back as a different value.
        if (auto refused = dumpJson(encoded); !refused) {
            Logger("defaults")
                .error("The setting \"" + key + "\" was not saved: " + refused.error().message);
            continue;
        }
        object[key] = std::move(encoded);
    }
    return dumpJson(object, 2).value() + "\n";
}

std::optional<DefaultsDictionary> FileUserDefaults::decode(std::string_view text,
                                                           std::string* fault) {
    auto parsed = parseJson(text);
    if (!parsed) {
        *fault = parsed.error().message;
        return std::nullopt;
    }
    if (!parsed->is_object()) {
        *fault = "the file does not hold a JSON object";
        return std::nullopt;
    }
    DefaultsDictionary domain;
    for (const auto& [key, json] : parsed->items()) {
        bool tooDeep = false;
        auto value = fromJson(json, &tooDeep);
        if (!value) {
            *fault =
                "the value of \"" + key + "\" " +
                (tooDeep ? "is nested more than " + std::to_string(kMaxNesting) + " levels deep"
                         : std::string("is not a stored setting"));
            return std::nullopt;
        }
        domain.emplace(key, std::move(*value));
    }
    return domain;
}

// Life cycle -----------------------------------------------------------------------------------

FileUserDefaults::FileUserDefaults(std::string folder, Writes writes)
    : folder_(std::move(folder)),
      path_(folder_ + "/" + kFileName),
      lockPath_(folder_ + "/.defaults.lock"),
      writes_(writes) {
    if (auto made = makeDirectories(folder_); made) {
        loadAtStart();
    } else {
        log_.error(made.error().message + "; starting from the default settings.");
    }
    if (writes_ == Writes::Background) {
        writer_ = std::thread([this] { writerLoop(); });
    }
}

FileUserDefaults::~FileUserDefaults() {
    synchronize();
    if (writer_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        writer_.join();
    }
}

void FileUserDefaults::loadAtStart() {
    FileLock lock(lockPath_, log_);
    // Leftovers of a writer that was killed before its rename; no writer runs while we hold the
    // lock, so none of them is in use. Without the lock one of them might be.
    if (lock.held()) {
        const std::string prefix = std::string(kFileName) + ".tmp-";
        for (const std::string& name : listFolder(folder_).names) {
            if (name.starts_with(prefix)) {
                ::unlink((folder_ + "/" + name).c_str());
            }
        }
    }
    std::string unusable;
    auto read = readDomain(&unusable);
    if (!read) {
        becomeReadOnly(read.error().message);
        log_.error(read.error().message +
                   ". Running on the default settings; the file is left as it is and changes "
                   "are not saved until Orvel starts again.");
        return;
    }
    if (*read) {
        memory_.replacePersistentDomain(std::move(**read));
        return;
    }
    if (unusable.empty()) {
        return;  // no file yet
    }
    if (auto aside = moveAside()) {
        log_.error("The settings file " + path_ + " is " + unusable + "; moved it to " + *aside +
                   " and started from the default settings.");
    } else {
        // Writing now would replace the damaged file, and whatever can still be saved from it.
        const std::string why =
            "The settings file " + path_ + " is " + unusable + " and " + aside.error().message;
        becomeReadOnly(why);
        log_.error(why + ". Running on the default settings; the file is left as it is.");
    }
}

Result<std::optional<DefaultsDictionary>> FileUserDefaults::readDomain(
    std::string* unusable) const {
    auto read = readFileIfPresent(path_, kMaxFileSize);
    if (!read) {
        if (read.error().tooLarge.empty()) {
            return Error{read.error().message};
        }
        *unusable = "too large (" + read.error().tooLarge + ")";
        return std::optional<DefaultsDictionary>();
    }
    if (!*read) {
        return std::optional<DefaultsDictionary>();
    }
    std::string fault;
    auto domain = decode(viewOfData(**read), &fault);
    if (!domain) {
        *unusable = "damaged (" + fault + ")";
    }
    return domain;
}

void FileUserDefaults::becomeReadOnly(const std::string& why) {
    std::lock_guard lock(mutex_);
    readOnlyReason_ = why;
    readOnly_ = true;
}

bool FileUserDefaults::isReadOnly() const {
    return readOnly_;
}

std::string FileUserDefaults::readOnlyReason() const {
    std::lock_guard lock(mutex_);
    return readOnlyReason_;
}

Result<std::string> FileUserDefaults::moveAside() {
    const std::string base = path_ + ".damaged-" + utcStamp();
    std::string target = base;
    for (int n = 2; ::access(target.c_str(), F_OK) == 0; ++n) {
        target = base + "-" + std::to_string(n);
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        return Error{"it could not be moved aside (" + std::string(std::strerror(errno)) + ")"};
    }
    return target;
}

// Domain ---------------------------------------------------------------------------------------

void FileUserDefaults::registerDefaults(const DefaultsDictionary& defaults) {
    memory_.registerDefaults(defaults);
}

std::optional<DefaultsValue> FileUserDefaults::persistentValue(std::string_view key) const {
    return memory_.persistentValue(key);
}

std::optional<DefaultsValue> FileUserDefaults::registeredValue(std::string_view key) const {
    return memory_.registeredValue(key);
}

void FileUserDefaults::setObject(std::string_view key, DefaultsValue value) {
    memory_.setObject(key, value);
    Changes change;
    change.keys.emplace(std::string(key), std::move(value));
    record(std::move(change));
    changed.send(std::string(key));
}

void FileUserDefaults::removeObject(std::string_view key) {
    memory_.removeObject(key);
    Changes change;
    change.keys.emplace(std::string(key), std::nullopt);
    record(std::move(change));
    changed.send(std::string(key));
}

void FileUserDefaults::removePersistentDomain() {
    memory_.removePersistentDomain();
    Changes change;
    change.clearAll = true;
    record(std::move(change));
    changed.send(std::string());
}

// Writing --------------------------------------------------------------------------------------

void FileUserDefaults::Changes::merge(Changes later) {
    if (later.clearAll) {
        clearAll = true;
        keys.clear();
    }
    for (auto& [key, value] : later.keys) {
        keys.insert_or_assign(key, std::move(value));
    }
}

void FileUserDefaults::record(Changes change) {
    if (readOnly_) {
        return;  // kept in memory for this run only
    }
    if (writes_ == Writes::Synchronous) {
        Changes batch;
        {
            std::lock_guard lock(mutex_);
            batch = std::exchange(failed_, {});
        }
        batch.merge(std::move(change));
        if (!write(batch)) {
            std::lock_guard lock(mutex_);
            failed_ = std::move(batch);
        }
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pending_.merge(std::move(change));
    }
    wake_.notify_one();
}

void FileUserDefaults::synchronize() {
    if (writes_ == Writes::Synchronous) {
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_.empty() && !writing_; });
}

void FileUserDefaults::setBeforeReplaceHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    beforeReplace_ = std::move(hook);
}

void FileUserDefaults::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return;  // stopping, and nothing left to write
        }
        // A batch that failed before is retried with the next change, never in a loop.
        Changes batch = std::exchange(failed_, {});
        batch.merge(std::exchange(pending_, {}));
        writing_ = true;
        lock.unlock();
        const bool written = write(batch);
        lock.lock();
        writing_ = false;
        if (!written) {
            failed_ = std::move(batch);
        }
        if (pending_.empty()) {
            idle_.notify_all();
        }
    }
}

bool FileUserDefaults::write(const Changes& changes) {
    if (readOnly_) {
        return true;
    }
    if (auto made = makeDirectories(folder_); !made) {
        log_.error("Settings not saved: " + made.error().message +
                   ". They are saved again with the next change.");
        return false;
    }
    FileLock lock(lockPath_, log_);

    DefaultsDictionary domain;
    std::string unusable;
    auto read = readDomain(&unusable);
    if (!read) {
        // Writing now would replace what the user saved with this run's keys alone.
        becomeReadOnly(read.error().message);
        log_.error(read.error().message +
                   ". Settings are no longer saved until Orvel starts again; the file is left "
                   "as it is.");
        return true;
    }
    if (*read) {
        domain = std::move(**read);
    } else if (!unusable.empty()) {
        if (auto aside = moveAside()) {
            log_.error("The settings file " + path_ + " was " + unusable + "; moved it to " +
                       *aside + " before saving.");
        } else {
            const std::string why =
                "The settings file " + path_ + " is " + unusable + " and " + aside.error().message;
            becomeReadOnly(why);
            log_.error(why + ". Settings are no longer saved until Orvel starts again.");
            return true;
        }
    }
    if (changes.clearAll) {
        domain.clear();
    }
    for (const auto& [key, value] : changes.keys) {
        if (value) {
            domain.insert_or_assign(key, *value);
        } else if (auto it = domain.find(key); it != domain.end()) {
            domain.erase(it);
        }
    }

    std::function<void()> hook;
    {
        std::lock_guard guard(mutex_);
        hook = beforeReplace_;
    }
    if (auto written = writeFileAtomically(path_, encode(domain), hook); !written) {
        log_.error("Settings not saved: " + written.error().message +
                   ". They are saved again with the next change.");
        return false;
    }
    return true;
}

}  // namespace orvel
