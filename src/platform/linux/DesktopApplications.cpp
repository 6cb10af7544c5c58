#include "platform/linux/DesktopApplications.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/linux/Xdg.h"

namespace orvel::xdg {

namespace fs = std::filesystem;

namespace {

// A desktop entry's list value ("GNOME;XFCE;") holds one of the colon-separated desktops.
bool listsAnyOf(const std::string& list, const std::string& desktops) {
    std::size_t start = 0;
    while (start < desktops.size()) {
        const std::size_t end = std::min(desktops.find(':', start), desktops.size());
        const std::string desktop = desktops.substr(start, end - start);
        start = end + 1;
        if (desktop.empty()) {
            continue;
        }
        std::size_t from = 0;
        while (from < list.size()) {
            const std::size_t to = std::min(list.find(';', from), list.size());
            if (list.compare(from, to - from, desktop) == 0) {
                return true;
            }
            from = to + 1;
        }
    }
    return false;
}

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool isExecutableProgram(const std::string& path) {
    return isFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> launchWords(const std::string& exec) {
    std::vector<std::string> words;
    for (const std::string& word : execWords(exec)) {
        std::string kept;
        bool hadCode = false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size()) {
                if (word[i + 1] == '%') {
                    kept += '%';
                } else {
                    hadCode = true;
                }
                ++i;
            } else {
                kept += word[i];
            }
        }
        if (!kept.empty() || !hadCode) {
            words.push_back(std::move(kept));
        }
    }
    return words;
}

std::string findProgram(const std::string& word, const std::string& path,
                        const ExecutableTest& isExecutable) {
    if (word.find('/') != std::string::npos) {
        return isExecutable(word) ? word : std::string();
    }
    std::string_view folders =
        path.empty() ? std::string_view("/usr/local/bin:/usr/bin:/bin") : std::string_view(path);
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') {
            continue;
        }
        const std::string candidate = std::string(folder) + "/" + word;
        if (isExecutable(candidate)) {
            return candidate;
        }
    }
    return {};
}

std::string findIconFile(const std::string& icon, const std::vector<std::string>& iconFolders) {
    if (icon.empty()) {
        return {};
    }
    if (icon.front() == '/') {
        return isFile(icon) ? icon : std::string();
    }
    if (icon.find('/') != std::string::npos) {
        return {};
    }
    // Old entries name a picture with its extension.
    std::string name = icon;
    const std::string extension = fs::path(icon).extension().string();
    if (extension == ".png" || extension == ".svg" || extension == ".xpm") {
        name.erase(name.size() - extension.size());
    }
    static const char* const kSizes[] = {"48x48",   "64x64", "32x32", "96x96", "128x128",
                                         "256x256", "24x24", "22x22", "16x16", "512x512"};
    for (const auto& folder : iconFolders) {
        const std::string theme = folder + "/hicolor/";
        if (std::string file = theme + "scalable/apps/" + name + ".svg"; isFile(file)) {
            return file;
        }
        for (const char* size : kSizes) {
            if (std::string file = theme + size + "/apps/" + name + ".png"; isFile(file)) {
                return file;
            }
        }
    }
    for (const auto& folder : iconFolders) {
        for (const char* suffix : {".png", ".svg", ".xpm"}) {
            if (std::string file = folder + "/" + name + suffix; isFile(file)) {
                return file;
            }
        }
    }
    return {};
}

std::string normalFolder(const std::string& folder) {
    std::string normal = fs::path(folder).lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    return normal;
}

std::vector<std::pair<std::string, std::string>> entryFiles(
    const std::string& folder, const std::function<void(const std::string&)>& entered) {
    std::error_code error;
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        // It does not follow links.
        std::error_code typeError;
        if (fs::is_directory(it->symlink_status(typeError))) {
            if (entered) {
                entered(it->path().string());
            }
        } else if (it->path().extension() == ".desktop") {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& file : files) {
        // The id is the path below applications/, its slashes turned into dashes.
        std::string id = file.lexically_relative(folder).replace_extension().string();
        std::replace(id.begin(), id.end(), '/', '-');
        entries.emplace_back(std::move(id), file.string());
    }
    return entries;
}

std::vector<InstalledApplication> listApplications(const ApplicationListing& listing) {
    std::vector<InstalledApplication> apps;
    std::set<std::string> ids;
    for (const auto& listed : listing.applicationFolders) {
        for (const auto& [id, file] : entryFiles(normalFolder(listed))) {
            if (!ids.insert(id).second) {
                continue;  // a more preferred folder has this id
            }
            const auto keys = readDesktopEntry(file);
            const auto value = [&keys](const char* key) {
                auto it = keys.find(key);
                return it == keys.end() ? std::string() : it->second;
            };
            if (value("Type") != "Application" || value("Hidden") == "true" ||
                value("NoDisplay") == "true") {
                continue;
            }
            if ((keys.count("OnlyShowIn") != 0 &&
                 !listsAnyOf(value("OnlyShowIn"), listing.desktop)) ||
                listsAnyOf(value("NotShowIn"), listing.desktop)) {
                continue;
            }
            if (const std::string tryExec = value("TryExec");
                !tryExec.empty() &&
                findProgram(tryExec, listing.programPath, listing.isExecutable).empty()) {
                continue;
            }
            // What starting it runs must be there, or the start would be refused.
            const std::vector<std::string> words = launchWords(value("Exec"));
            if (words.empty() || words.front().empty() ||
                findProgram(words.front(), listing.programPath, listing.isExecutable).empty()) {
                continue;
            }
            InstalledApplication app;
            app.url = file;
            app.bundleIdentifier = id;
            app.localizedName = localizedValue(keys, "Name", listing.locales);
            if (app.localizedName.empty()) {
                continue;
            }
            const std::string icon = localizedValue(keys, "Icon", listing.locales);
            if (!icon.empty() && icon.front() != '/') {
                app.iconName = icon;
            }
            app.iconFile = findIconFile(icon, listing.iconFolders);
            app.runsInTerminal = value("Terminal") == "true";
            apps.push_back(std::move(app));
        }
    }
    return apps;
}

}  // namespace orvel::xdg
