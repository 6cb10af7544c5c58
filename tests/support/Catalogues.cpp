#include "support/Catalogues.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "foundation/Localization.h"

namespace orvel::test {

ScopedLanguage::ScopedLanguage(const std::string& localeDirectory, const std::string& language) {
    if (const char* value = std::getenv("LANGUAGE")) {
        variable_ = value;
    }
    messages_ = std::setlocale(LC_MESSAGES, nullptr);
    language_ = Localization::shared().language();
    localeDirectory_ = Localization::shared().localeDirectory();
    Localization::shared().useCatalogues(localeDirectory, language);
}

ScopedLanguage::~ScopedLanguage() {
    std::setlocale(LC_MESSAGES, messages_.c_str());
    Localization::shared().useCatalogues(localeDirectory_, language_);
    if (variable_) {
        ::setenv("LANGUAGE", variable_->c_str(), 1);
    } else {
        ::unsetenv("LANGUAGE");
    }
}

namespace {

// The text of a quoted .po string, its escapes undone.
std::string unquoted(const std::string& quoted) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\\' || i + 2 >= quoted.size()) {
            out += quoted[i];
            continue;
        }
        const char c = quoted[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

}  // namespace

Result<std::map<std::string, PoEntry>> readPo(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return Error{"Could not open " + path};
    }
    std::map<std::string, PoEntry> entries;
    PoEntry entry;
    bool fuzzy = false;
    std::string* field = nullptr;
    const auto finish = [&] {
        if (!entry.msgid.empty() && !fuzzy) {
            entries[entry.msgid] = entry;
        }
        entry = PoEntry{};
        fuzzy = false;
        field = nullptr;
    };
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty()) {
            finish();
        } else if (line.starts_with("#,")) {
            fuzzy = line.find("fuzzy") != std::string::npos;
        } else if (line.starts_with("#")) {
            continue;
        } else if (line.starts_with("msgid_plural ")) {
            entry.msgidPlural = unquoted(line.substr(13));
            field = &*entry.msgidPlural;
        } else if (line.starts_with("msgid ")) {
            if (!entry.msgstr.empty()) {
                finish();
            }
            entry.msgid = unquoted(line.substr(6));
            entry.line = number;
            field = &entry.msgid;
        } else if (line.starts_with("msgstr")) {
            const auto quote = line.find('"');
            if (quote == std::string::npos) {
                return Error{path + ":" + std::to_string(number) + ": a msgstr without its text"};
            }
            entry.msgstr.push_back(unquoted(line.substr(quote)));
            field = &entry.msgstr.back();
        } else if (line.starts_with("\"") && field != nullptr) {
            *field += unquoted(line);
        } else {
            return Error{path + ":" + std::to_string(number) + ": not a line of a .po file"};
        }
    }
    finish();
    return entries;
}

void writeTranslatedHelpPage(const std::string& resources, const std::string& language,
                             const std::string& page, const std::string& markdown) {
    namespace fs = std::filesystem;
    const std::string folder = resources + "/help";
    if (fs::is_symlink(folder)) {
        fs::remove(folder);
        fs::copy(std::string(ORVEL_RESOURCES) + "/help", folder);
    }
    fs::create_directories(folder + "/" + language);
    std::ofstream(folder + "/" + language + "/" + page + ".md", std::ios::binary) << markdown;
}

std::vector<std::string> poLanguages(const std::string& poDirectory) {
    std::vector<std::string> codes;
    std::error_code error;
    for (const auto& file : std::filesystem::directory_iterator(poDirectory, error)) {
        if (file.path().extension() == ".po") {
            codes.push_back(file.path().stem().string());
        }
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

}  // namespace orvel::test
