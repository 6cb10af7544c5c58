#include "platform/linux/FileUserDefaults.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "foundation/Json.h"
#include "foundation/RunLoop.h"

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

std::optional<DefaultsValue> fromJson(const Json& json) {
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
            auto value = fromJson(element);
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
            if (!base64Decode(inner.get<std::string>(), data))
                return std::nullopt;
            return DefaultsValue(std::move(data));
        }
        if (tag == "$date" && inner.is_number())
            return DefaultsValue(Date{inner.get<double>()});
        if (tag == "$dict" && inner.is_object()) {
            DefaultsDictionary dictionary;
            for (const auto& [key, element] : inner.items()) {
                auto value = fromJson(element);
                if (!value)
                    return std::nullopt;
                dictionary.emplace(key, std::move(*value));
            }
            return DefaultsValue(std::move(dictionary));
        }
    }
    return std::nullopt;
}

std::optional<std::string> readFile(const std::string& path, int* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = errno;
        return std::nullopt;
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An exclusive advisory lock, held while it lives.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) < 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // closing releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

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

void makeFolders(const std::string& folder) {
    std::string partial;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || (folder[i] == '/' && i > 0)) {
            partial = folder.substr(0, i);
            ::mkdir(partial.c_str(), 0700);
        }
    }
}

}  // namespace

// Encoding -------------------------------------------------------------------------------------

std::string FileUserDefaults::encode(const DefaultsDictionary& domain) {
    Json object = Json::object();
    for (const auto& [key, value] : domain) {
        object[key] = toJson(value);
    }
    return object.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
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
        auto value = fromJson(json);
        if (!value) {
            *fault = "the value of \"" + key + "\" is not a stored setting";
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
    makeFolders(folder_);
    loadAtStart();
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
    FileLock lock(lockPath_);
    // Leftovers of a writer that was killed before its rename; no writer runs while we hold the
    // lock, so none of them is in use.
    if (DIR* dir = ::opendir(folder_.c_str())) {
        const std::string prefix = std::string(kFileName) + ".tmp-";
        while (dirent* entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
                ::unlink((folder_ + "/" + entry->d_name).c_str());
            }
        }
        ::closedir(dir);
    }
    int error = 0;
    auto text = readFile(path_, &error);
    if (!text) {
        if (error != ENOENT) {
            log_.error("Could not read the settings file " + path_ + ": " + std::strerror(error) +
                       ". Starting from the default settings.");
        }
        return;
    }
    std::string fault;
    if (auto domain = decode(*text, &fault)) {
        memory_.replacePersistentDomain(std::move(*domain));
    } else {
        const std::string aside = moveAside(fault);
        log_.error("The settings file " + path_ + " is damaged (" + fault + "); moved it to " +
                   aside + " and started from the default settings.");
    }
}

std::string FileUserDefaults::moveAside(const std::string&) {
    const std::string base = path_ + ".damaged-" + utcStamp();
    std::string target = base;
    for (int n = 2; ::access(target.c_str(), F_OK) == 0; ++n) {
        target = base + "-" + std::to_string(n);
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        return "(nowhere: " + std::string(std::strerror(errno)) + ")";
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
}

void FileUserDefaults::removeObject(std::string_view key) {
    memory_.removeObject(key);
    Changes change;
    change.keys.emplace(std::string(key), std::nullopt);
    record(std::move(change));
}

void FileUserDefaults::removePersistentDomain() {
    memory_.removePersistentDomain();
    Changes change;
    change.clearAll = true;
    record(std::move(change));
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
    FileLock lock(lockPath_);

    DefaultsDictionary domain;
    int error = 0;
    if (auto text = readFile(path_, &error)) {
        std::string fault;
        if (auto onDisk = decode(*text, &fault)) {
            domain = std::move(*onDisk);
        } else {
            const std::string aside = moveAside(fault);
            log_.error("The settings file " + path_ + " was damaged (" + fault + "); moved it to " +
                       aside + " before saving.");
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

    const std::string text = encode(domain);
    std::string temp = path_ + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        log_.error("Could not save settings to " + folder_ + ": " + std::strerror(errno) + ".");
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(temp.c_str());
        log_.error("Could not save settings to " + path_ + ": " + std::strerror(writeError) + ".");
        return false;
    }
    std::function<void()> hook;
    {
        std::lock_guard guard(mutex_);
        hook = beforeReplace_;
    }
    if (hook) {
        hook();
    }
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temp.c_str());
        log_.error("Could not save settings to " + path_ + ": " + std::strerror(renameError) + ".");
        return false;
    }
    // Make the rename itself durable.
    if (const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace orvel
