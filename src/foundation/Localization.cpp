#include "foundation/Localization.h"

#include <libintl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <iterator>
#include <vector>

#include "foundation/Log.h"
#include "foundation/Registry.h"

namespace orvel {

Localization& Localization::shared() {
    return ORVEL_SHARED_INSTANCE(Localization);
}

void Localization::useCatalogues(const std::string& localeDirectory, const std::string& language) {
    language_ = language;
    localeDirectory_ = localeDirectory;
    if (language == "en") {
        return;
    }
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    if (messages == nullptr || std::strcmp(messages, "C") == 0 ||
        std::strcmp(messages, "POSIX") == 0) {
        if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) {
            Logger("localization").error("No C.UTF-8 locale for messages; texts show in English.");
            language_ = "en";
            return;
        }
    }
    const char* before = std::getenv("LANGUAGE");
    if (!setLanguage_ || before == nullptr || *setLanguage_ != before) {
        userLanguage_ = before ? std::optional<std::string>(before) : std::nullopt;
    }
    ::setenv("LANGUAGE", language.c_str(), 1);
    setLanguage_ = language;
    ::bindtextdomain(kTextDomain, localeDirectory.c_str());
    ::bind_textdomain_codeset(kTextDomain, "UTF-8");
    // Setting the default domain, even to itself, makes gettext drop the texts it cached in the
    // language before.
    ::textdomain(::textdomain(nullptr));
}

std::string Localization::useEnvironmentLanguage(const std::string& localeDirectory) {
    const std::string language = catalogueLanguage([&localeDirectory](const std::string& code) {
        const std::string path =
            localeDirectory + "/" + code + "/LC_MESSAGES/" + kTextDomain + ".mo";
        return ::access(path.c_str(), R_OK) == 0;
    });
    useCatalogues(localeDirectory, language);
    return language_;
}

std::vector<std::string> Localization::userEnvironment() const {
    const char* current = std::getenv("LANGUAGE");
    const bool ours = setLanguage_ && current != nullptr && *setLanguage_ == current;
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (ours && std::string_view(*entry).starts_with("LANGUAGE=")) {
            continue;
        }
        entries.emplace_back(*entry);
    }
    if (ours && userLanguage_) {
        entries.push_back("LANGUAGE=" + *userLanguage_);
    }
    return entries;
}

void Localization::setTable(std::unordered_map<std::string, std::string> table) {
    table_ = std::move(table);
}

void Localization::setLookupObserver(std::function<void(std::string_view key)> observer) {
    observer_ = std::move(observer);
}

std::string Localization::lookup(std::string_view key) const {
    if (englishScopes_ > 0) {
        return std::string(key);
    }
    if (observer_) {
        observer_(key);
    }
    if (auto it = table_.find(std::string(key)); it != table_.end()) {
        return it->second;
    }
    // The empty msgid is the catalogue's header.
    if (language_ == "en" || key.empty()) {
        return std::string(key);
    }
    return ::dgettext(kTextDomain, std::string(key).c_str());
}

std::string Localization::lookupPlural(std::string_view singular, std::string_view plural,
                                       std::int64_t count) const {
    if (englishScopes_ > 0) {
        return std::string(count == 1 ? singular : plural);
    }
    if (observer_) {
        observer_(singular);
    }
    const std::string_view english = count == 1 ? singular : plural;
    if (auto it = table_.find(std::string(english)); it != table_.end()) {
        return it->second;
    }
    if (language_ == "en") {
        return std::string(english);
    }
    // gettext counts in unsigned long; a negative count reads as its size.
    const auto n = static_cast<unsigned long>(count < 0 ? -count : count);
    return ::dngettext(kTextDomain, std::string(singular).c_str(), std::string(plural).c_str(), n);
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
    return formatText(Localization::shared().lookupPlural(singular, plural, count), args);
}

namespace {

bool latinAmerican(std::string_view territory) {
    static constexpr std::string_view kTerritories[] = {"419", "AR", "BO", "BZ", "CL", "CO", "CR",
                                                        "CU",  "DO", "EC", "GT", "HN", "MX", "NI",
                                                        "PA",  "PE", "PR", "PY", "SV", "UY", "VE"};
    return std::find(std::begin(kTerritories), std::end(kTerritories), territory) !=
           std::end(kTerritories);
}

}  // namespace

std::string catalogueCode(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") {
        return "en";
    }
    const auto underscore = locale.find('_');
    const std::string_view language = locale.substr(0, underscore);
    const std::string_view territory =
        underscore == std::string_view::npos ? std::string_view() : locale.substr(underscore + 1);
    if (language == "es") {
        return latinAmerican(territory) ? "es_419" : territory == "US" ? "es_US" : "es";
    }
    if (language == "pt") {
        return territory == "BR" ? "pt_BR" : "pt_PT";
    }
    if (language == "nb" || language == "no") {
        return "nb";
    }
    if (language == "zh") {
        return territory.empty() || territory == "CN" || territory == "SG" ? "zh_CN"
                                                                           : std::string(locale);
    }
    return std::string(language);
}

std::string catalogueLanguage(const std::function<bool(const std::string& code)>& available,
                              const std::function<const char*(const char*)>& variable) {
    std::vector<std::string> candidates;
    if (const char* list = variable("LANGUAGE"); list != nullptr) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            if (colon != 0) {
                candidates.emplace_back(rest.substr(0, colon));
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = variable(name); value != nullptr && *value != '\0') {
            candidates.emplace_back(value);
            break;
        }
    }
    for (const auto& candidate : candidates) {
        const std::string code = catalogueCode(candidate);
        if (code == "en" || available(code)) {
            return code;
        }
    }
    return "en";
}

}  // namespace orvel
