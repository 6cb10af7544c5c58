#include "platform/linux/Xdg.h"

#include "foundation/FileIO.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace orvel::xdg {

namespace {

// The XDG rules ignore relative paths and empty values.
std::optional<std::string> absolute(const Environment& env, const char* name) {
    auto value = env(name);
    if (!value || value->empty() || value->front() != '/') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

Environment processEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
}

std::string home(const Environment& env) {
    if (auto value = absolute(env, "HOME")) {
        return *value;
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::string dataHome(const Environment& env) {
    return absolute(env, "XDG_DATA_HOME").value_or(home(env) + "/.local/share");
}

std::string configHome(const Environment& env) {
    return absolute(env, "XDG_CONFIG_HOME").value_or(home(env) + "/.config");
}

std::string cacheHome(const Environment& env) {
    return absolute(env, "XDG_CACHE_HOME").value_or(home(env) + "/.cache");
}

std::vector<std::string> dataFolders(const Environment& env) {
    std::vector<std::string> folders{dataHome(env)};
    const auto dirs = env("XDG_DATA_DIRS");
    const std::string list = dirs && !dirs->empty() ? *dirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string folder = list.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
        start = end + 1;
    }
    return folders;
}

namespace {

// "de_DE.UTF-8@euro" as de_DE@euro, de_DE, de@euro, de.
void addLocaleVariants(std::string locale, std::vector<std::string>& into) {
    std::string modifier;
    if (const auto at = locale.find('@'); at != std::string::npos) {
        modifier = locale.substr(at);
        locale.erase(at);
    }
    if (const auto dot = locale.find('.'); dot != std::string::npos) {
        locale.erase(dot);
    }
    std::string language = locale;
    std::string country;
    if (const auto underscore = locale.find('_'); underscore != std::string::npos) {
        language = locale.substr(0, underscore);
        country = locale.substr(underscore);
    }
    if (language.empty()) {
        return;
    }
    std::vector<std::string> variants;
    if (!country.empty() && !modifier.empty()) {
        variants.push_back(language + country + modifier);
    }
    if (!country.empty()) {
        variants.push_back(language + country);
    }
    if (!modifier.empty()) {
        variants.push_back(language + modifier);
    }
    variants.push_back(language);
    for (auto& variant : variants) {
        if (std::find(into.begin(), into.end(), variant) == into.end()) {
            into.push_back(std::move(variant));
        }
    }
}

}  // namespace

std::vector<std::string> entryLocales(const Environment& env) {
    std::string messages;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (auto value = env(name); value && !value->empty()) {
            messages = *value;
            break;
        }
    }
    std::vector<std::string> locales;
    // gettext passes $LANGUAGE over in the C locale, and so do desktop menus.
    if (messages.empty() || messages == "C" || messages.rfind("C.", 0) == 0 ||
        messages == "POSIX") {
        return locales;
    }
    if (auto language = env("LANGUAGE")) {
        std::size_t start = 0;
        while (start <= language->size()) {
            const std::size_t end = std::min(language->find(':', start), language->size());
            addLocaleVariants(language->substr(start, end - start), locales);
            start = end + 1;
        }
    }
    addLocaleVariants(messages, locales);
    return locales;
}

std::string localizedValue(const std::map<std::string, std::string>& keys, const std::string& key,
                           const std::vector<std::string>& locales) {
    for (const auto& locale : locales) {
        if (auto it = keys.find(key + "[" + locale + "]");
            it != keys.end() && !it->second.empty()) {
            return it->second;
        }
    }
    auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
}

std::vector<std::string> execWords(const std::string& value) {
    // Desktop entry string escapes first.
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            switch (next) {
                case 's':
                    text += ' ';
                    break;
                case 'n':
                    text += '\n';
                    break;
                case 't':
                    text += '\t';
                    break;
                case 'r':
                    text += '\r';
                    break;
                default:
                    text += next;  // "\\" and the quoting layer's escapes
                    if (next != '\\') {
                        text.insert(text.size() - 1, 1, '\\');
                    }
            }
        } else {
            text += value[i];
        }
    }
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == '\\' && quoted && i + 1 < text.size()) {
            word += text[++i];
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    for (auto& w : words) {
        for (auto at = w.find("%%"); at != std::string::npos; at = w.find("%%", at + 1)) {
            w.erase(at, 1);
        }
    }
    return words;
}

std::string execValue(const std::string& program) {
    const bool plain = program.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`%") == std::string::npos;
    if (plain) {
        return program;
    }
    std::string quoted = "\"";
    for (const char c : program) {
        switch (c) {
            case '\\':
                quoted +=
                    "\\\\\\\\";  // the quoting layer's "\\", each escaped for the string layer
                continue;
            case '\n':
                quoted += "\\n";  // the string layer's escapes keep the value on one line
                continue;
            case '\r':
                quoted += "\\r";
                continue;
            case '"':
            case '`':
            case '$':
                quoted += "\\\\";  // the quoting layer's backslash, escaped for the string layer
                break;
            case '%':
                quoted += '%';  // a literal percent sign is doubled
                break;
            default:
                break;
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::map<std::string, std::string> parseDesktopEntry(std::string_view text) {
    std::map<std::string, std::string> keys;
    bool inMainGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos || line.front() == '#') {
            continue;
        }
        std::string key(line.substr(0, equals));
        std::string value(line.substr(equals + 1));
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        value.erase(0, value.find_first_not_of(' '));
        keys.insert_or_assign(std::move(key), std::move(value));  // a repeated key: the last wins
    }
    return keys;
}

std::map<std::string, std::string> readDesktopEntry(const std::string& path) {
    // Entries that name and describe their program in a hundred languages take some tens of KiB.
    constexpr std::size_t kMaxEntrySize = 1024 * 1024;
    auto bytes = readFile(path, kMaxEntrySize);
    if (!bytes) {
        return {};
    }
    return parseDesktopEntry(stringFromData(*bytes));
}

}  // namespace orvel::xdg
