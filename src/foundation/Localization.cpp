#include "foundation/Localization.h"

#include "foundation/FileIO.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"

namespace orvel {

Localization& Localization::shared() {
    return ORVEL_SHARED_INSTANCE(Localization);
}

namespace {

// Some thousands of short texts take a few hundred KiB.
constexpr std::size_t kMaxTableSize = 4u << 20;

}  // namespace

Result<void> Localization::loadTable(const std::string& path) {
    auto bytes = readFile(path, kMaxTableSize);
    if (!bytes) {
        return Error{"Could not load the string table: " + bytes.error().message + "."};
    }
    return useTable(path, *bytes);
}

Result<void> Localization::loadLanguage(const std::string& folder, std::string_view language) {
    if (language == "en") {
        table_.clear();
        return {};
    }
    const std::string path = folder + "/" + std::string(language) + ".json";
    auto bytes = readFileIfPresent(path, kMaxTableSize);
    if (!bytes) {
        return Error{"Could not load the string table: " + bytes.error().message + "."};
    }
    if (!*bytes) {
        Logger("localization").debug("No string table at " + path + "; texts show in English.");
        table_.clear();
        return {};
    }
    return useTable(path, **bytes);
}

Result<void> Localization::useTable(const std::string& path, const Data& bytes) {
    auto parsed = parseJson(viewOfData(bytes));
    if (!parsed) {
        return Error{"The string table " + path + " is not valid JSON: " + parsed.error().message};
    }
    if (!parsed->is_object()) {
        return Error{"The string table " + path + " is not a JSON object."};
    }
    std::unordered_map<std::string, std::string> table;
    for (const auto& [key, value] : parsed->items()) {
        if (value.is_string()) {
            table.emplace(key, value.get<std::string>());
        }
    }
    table_ = std::move(table);
    return {};
}

void Localization::setTable(std::unordered_map<std::string, std::string> table) {
    table_ = std::move(table);
}

void Localization::setLookupObserver(std::function<void(std::string_view key)> observer) {
    observer_ = std::move(observer);
}

std::string Localization::lookup(std::string_view key) const {
    if (observer_) {
        observer_(key);
    }
    auto it = table_.find(std::string(key));
    return it == table_.end() ? std::string(key) : it->second;
}

namespace {

void appendArg(std::string& out, const FormatArg* arg) {
    if (arg == nullptr) {
        return;
    }
    if (const auto* text = std::get_if<std::string>(arg)) {
        out += *text;
    } else {
        out += std::to_string(std::get<std::int64_t>(*arg));
    }
}

}  // namespace

std::string formatText(std::string_view format, std::initializer_list<FormatArg> args) {
    const std::vector<FormatArg> list(args);
    std::string out;
    out.reserve(format.size());
    std::size_t nextArg = 0;
    auto argAt = [&](std::size_t index) -> const FormatArg* {
        return index < list.size() ? &list[index] : nullptr;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out.push_back(c);
            continue;
        }
        std::string_view rest = format.substr(i + 1);
        if (rest.front() == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // Optional position: digits followed by '$'.
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            ++digits;
        }
        std::size_t position = 0;
        bool positional = false;
        if (digits > 0 && digits < rest.size() && rest[digits] == '$') {
            position = std::stoul(std::string(rest.substr(0, digits)));
            positional = position > 0;
            rest = rest.substr(digits + 1);
        }
        std::size_t length = 0;
        if (rest.starts_with("@")) {
            length = 1;
        } else if (rest.starts_with("lld")) {
            length = 3;
        }
        if (length == 0) {
            out.push_back(c);  // not a placeholder we know: keep it as text
            continue;
        }
        appendArg(out, argAt(positional ? position - 1 : nextArg++));
        i += (positional ? digits + 1 : 0) + length;
    }
    return out;
}

std::string localized(std::string_view key) {
    return Localization::shared().lookup(key);
}

std::string localizedFormat(std::string_view key, std::initializer_list<FormatArg> args) {
    return formatText(Localization::shared().lookup(key), args);
}

std::string localizedPlural(std::string_view singular, std::string_view plural, std::int64_t count,
                            std::initializer_list<FormatArg> args) {
    return formatText(Localization::shared().lookup(count == 1 ? singular : plural), args);
}

std::string messagesLanguage(const std::function<const char*(const char*)>& variable) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = variable(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        const std::string_view locale(value);
        const std::string_view language = locale.substr(0, locale.find_first_of(":_.@"));
        if (language.empty() || language == "C" || language == "POSIX") {
            return "en";
        }
        return std::string(language);
    }
    return "en";
}

}  // namespace orvel
