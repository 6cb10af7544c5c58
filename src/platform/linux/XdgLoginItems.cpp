#include "platform/linux/XdgLoginItems.h"

#include "foundation/FileIO.h"
#include "foundation/Log.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace orvel {

namespace fs = std::filesystem;

namespace {

// Named by the application's id, like its entry in the application menu.
constexpr const char* kEntryName = "org.orvel.Orvel.desktop";
// The name earlier versions wrote.
constexpr const char* kLegacyEntryName = "orvel.desktop";

std::string describe(const std::error_code& error) {
    std::string text = error.message();
    return text;
}

}  // namespace

XdgLoginItems::XdgLoginItems(std::string autostartFolder, std::string program)
    : folder_(std::move(autostartFolder)),
      entryPath_(folder_ + "/" + kEntryName),
      program_(std::move(program)) {}

void XdgLoginItems::adoptLegacyEntry() {
    const std::string legacy = folder_ + "/" + kLegacyEntryName;
    if (::access(legacy.c_str(), F_OK) != 0) {
        return;
    }
    // Another program's entry of that name is not ours to move.
    const auto keys = xdg::readDesktopEntry(legacy);
    const auto exec = keys.find("Exec");
    const auto words = xdg::execWords(exec == keys.end() ? std::string() : exec->second);
    if (words.empty() || fs::path(words[0]).filename() != "Orvel") {
        return;
    }
    // The old entry keeps the user's choice (switched off or not) under the new name; with both
    // present, the new one is what Orvel wrote last.
    std::error_code error;
    const bool move = ::access(entryPath_.c_str(), F_OK) != 0;
    if (move) {
        fs::rename(legacy, entryPath_, error);
    } else {
        fs::remove(legacy, error);
    }
    if (error) {
        Logger("platform")
            .error(std::string("Could not ") +
                   (move ? "rename the login item " + legacy + " to " + entryPath_
                         : "remove the old login item " + legacy) +
                   ": " + describe(error) + ".");
    }
}

std::string XdgLoginItems::defaultAutostartFolder(const xdg::Environment& env) {
    return xdg::configHome(env) + "/autostart";
}

int XdgLoginItems::status() {
    adoptLegacyEntry();
    if (::access(entryPath_.c_str(), F_OK) != 0) {
        return login_item_status::kNotRegistered;
    }
    const auto keys = xdg::readDesktopEntry(entryPath_);
    const auto value = [&keys](const char* key) {
        auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    };
    const bool switchedOff =
        value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false";
    const std::string exec = value("Exec");
    if (switchedOff) {
        return login_item_status::kRequiresApproval;
    }
    const auto words = xdg::execWords(exec);
    if (words.empty() || words[0].empty() || words[0].front() != '/' ||
        ::access(words[0].c_str(), X_OK) != 0) {
        return login_item_status::kNotFound;
    }
    return login_item_status::kEnabled;
}

Result<void> XdgLoginItems::registerItem() {
    adoptLegacyEntry();
    auto failed = [&](const std::string& reason) {
        return Error{"Could not add Orvel to the programs that start at login: " + reason + " (" +
                     entryPath_ + ")."};
    };
    std::ostringstream entry;
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=Orvel\n"
          << "Comment=Keeps your computer awake\n"
          << "Exec=" << xdg::execValue(program_) << "\n"
          << "Icon=org.orvel.Orvel\n"
          << "Terminal=false\n"
          << "X-GNOME-Autostart-enabled=true\n";
    // Replaced whole, so a desktop never reads half an entry.
    if (auto written = writeFileAtomically(entryPath_, entry.str()); !written) {
        return failed(written.error().message);
    }
    return {};
}

Result<void> XdgLoginItems::unregisterItem() {
    adoptLegacyEntry();
    std::error_code error;
    fs::remove(entryPath_, error);
    if (error) {
        return Error{"Could not remove Orvel from the programs that start at login: " +
                     describe(error) + " (" + entryPath_ + ")."};
    }
    return {};
}

}  // namespace orvel
