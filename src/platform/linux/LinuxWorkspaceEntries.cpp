// Desktop entries: the index of the programs they run, made again when their folders change, the
// installed applications, and the bundle an entry or a program makes.

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform/linux/DesktopApplications.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/LinuxWorkspaceProc.h"
#include "platform/linux/Xdg.h"

namespace orvel {

namespace fs = std::filesystem;
using namespace procread;

namespace {

// Whether a TryExec program is installed: an absolute path, or a name found on PATH.
bool programInstalled(const std::string& program) {
    return !xdg::findProgram(program, programPath(), [](const std::string& file) {
                return ::access(file.c_str(), X_OK) == 0;
            }).empty();
}

// What changes a folder of desktop entries: names coming and going, files written, the folder
// itself going away.
constexpr std::uint32_t kEntryFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                              IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                              IN_ONLYDIR;

}  // namespace

bool LinuxWorkspace::refreshDesktopEntries() {
    if (!entriesIndexed_ || desktopEntriesChanged()) {
        loadDesktopEntries();
        return true;
    }
    return false;
}

bool LinuxWorkspace::desktopEntriesChanged() {
    if (!entriesWatched_) {
        return true;
    }
    // Read here rather than on the loop: a reading must not miss a change the loop has not
    // delivered yet. Which change it was does not matter; the whole index is made again.
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(entryChanges_.get(), buffer, sizeof buffer);
        if (n > 0) {
            changed = true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            changed = changed || (n < 0 && errno != EAGAIN);
            break;
        }
    }
    for (const auto& folder : missingFolders_) {
        std::error_code error;
        changed = changed || fs::is_directory(folder, error);
    }
    return changed;
}

// Watched before it is read, so that a change during the reading makes the next one index again.
bool LinuxWorkspace::watchEntryFolder(const std::string& folder) {
    if (entriesWatched_ &&
        ::inotify_add_watch(entryChanges_.get(), folder.c_str(), kEntryFolderChanges) < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return false;
        }
        entriesUnwatched(folder + " cannot be watched: " + std::strerror(errno));
    }
    return true;
}

void LinuxWorkspace::entriesUnwatched(const std::string& why) {
    entriesWatched_ = false;
    if (!entryWatchFailureLogged_) {
        log_.error("Desktop entries are read again at every look for launched applications (" +
                   why + ").");
        entryWatchFailureLogged_ = true;
    }
}

void LinuxWorkspace::loadDesktopEntries() {
    entriesIndexed_ = true;
    entriesByProgram_.clear();
    entriesById_.clear();
    programsById_.clear();
    missingFolders_.clear();
    // A fresh set of watches for the folders as they are now: none left over from folders gone.
    entryChanges_ = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    entriesWatched_ = true;
    if (!entryChanges_) {
        entriesUnwatched(std::string("no inotify: ") + std::strerror(errno));
    }
    std::set<std::string> ids;
    for (const auto& listed : options_.applicationFolders) {
        const std::string folder = xdg::normalFolder(listed);
        if (!watchEntryFolder(folder)) {
            missingFolders_.push_back(folder);
            continue;
        }
        for (const auto& [id, file] : xdg::entryFiles(
                 folder, [this](const std::string& subfolder) { watchEntryFolder(subfolder); })) {
            if (!ids.insert(id).second) {
                continue;  // a more preferred folder has this id
            }
            const auto keys = xdg::readDesktopEntry(file);
            const auto value = [&keys](const char* key) {
                auto it = keys.find(key);
                return it == keys.end() ? std::string() : it->second;
            };
            DesktopEntry entry{id, value("Name"), value("NoDisplay") == "true", file, {}};
            const std::string exec = value("Exec");
            const std::string type = value("Type");
            const bool hidden = value("Hidden") == "true";
            const std::string program = execProgram(exec);
            if (hidden || type != "Application" || program.empty() || entry.name.empty()) {
                continue;
            }
            for (const std::string& word : xdg::launchWords(exec)) {
                if (word.size() > 1 && word.front() == '-') {
                    entry.arguments.push_back(word);
                }
            }
            // An entry whose TryExec program is not installed is not shown; one that is also
            // names its program.
            const std::string tryExec = value("TryExec");
            if (!tryExec.empty()) {
                if (!programInstalled(tryExec)) {
                    continue;
                }
                entriesByProgram_[baseName(tryExec)].push_back(entry);
                programsById_[id].push_back(baseName(tryExec));
            }
            programsById_[id].push_back(program);
            entriesById_.emplace(entry.id, entry);
            if (baseName(tryExec) != program) {
                entriesByProgram_[program].push_back(std::move(entry));
            }
        }
    }
}

std::vector<std::string> LinuxWorkspace::applicationFolders() {
    std::vector<std::string> folders;
    for (auto it = options_.applicationFolders.rbegin(); it != options_.applicationFolders.rend();
         ++it) {
        std::error_code error;
        if (fs::is_directory(*it, error)) {
            folders.push_back(fs::path(*it).lexically_normal().string());
        }
    }
    return folders;
}

void LinuxWorkspace::installedApplications(ApplicationsCompletion completion) {
    xdg::ApplicationListing listing{options_.applicationFolders, options_.iconFolders,
                                    options_.desktop, *options_.locales, programPath()};
    if (!listingQueue_) {
        listingQueue_ = RunLoop::main().makeSerialQueue("orvel.applications");
    }
    listingQueue_->post([listing = std::move(listing), completion = std::move(completion),
                         alive = weakRef(*this)]() mutable {
        auto apps = xdg::listApplications(listing);
        RunLoop::main().async(
            [alive, apps = std::move(apps), completion = std::move(completion)]() mutable {
                if (alive.get() != nullptr) {
                    completion(std::move(apps));
                }
            });
    });
}

std::string LinuxWorkspace::entryID(const std::string& path) const {
    const fs::path file(path);
    for (const auto& listed : options_.applicationFolders) {
        const fs::path relative = file.lexically_relative(fs::path(listed).lexically_normal());
        if (!relative.empty() && *relative.begin() != "..") {
            std::string id = fs::path(relative).replace_extension().string();
            std::replace(id.begin(), id.end(), '/', '-');
            return id;
        }
    }
    return file.stem().string();
}

// Bundles -------------------------------------------------------------------------------------

std::optional<ApplicationBundle> LinuxWorkspace::bundle(std::string_view url) {
    std::string path(url);
    if (path.rfind("file://", 0) == 0) {
        path.erase(0, 7);
    }
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::nullopt;
    }
    ApplicationBundle found;
    found.url = std::string(url);
    const fs::path file(path);
    if (file.extension() == ".desktop") {
        const auto keys = xdg::readDesktopEntry(path);
        const auto value = [&keys](const char* key) {
            auto it = keys.find(key);
            return it == keys.end() ? std::string() : it->second;
        };
        if (value("Type") != "Application") {
            return std::nullopt;
        }
        found.info["CFBundleIdentifier"] = entryID(path);
        found.info["CFBundleName"] = value("Name");
        if (auto name = xdg::localizedValue(keys, "Name", *options_.locales);
            !name.empty() && name != value("Name")) {
            found.info["CFBundleDisplayName"] = name;
        }
        found.info["LSUIElement"] = value("NoDisplay") == "true";
        return found;
    }
    if (::access(path.c_str(), X_OK) != 0) {
        return std::nullopt;
    }
    found.info["CFBundleIdentifier"] = file.filename().string();
    found.info["CFBundleName"] = file.filename().string();
    found.info["LSBackgroundOnly"] = true;
    return found;
}

}  // namespace orvel
