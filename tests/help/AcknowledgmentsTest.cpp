#include "help/Acknowledgments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "help/HelpPages.h"
#include "help/HelpSection.h"
#include "support/UiTest.h"
#include "ui/HeadlessHost.h"
#include "ui/ViewComponent.h"

namespace orvel::help {
namespace {

namespace fs = std::filesystem;

const std::string kListed = std::string(ORVEL_RESOURCES) + "/licenses";

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// The shared objects a program asks the dynamic linker for.
std::vector<std::string> neededLibraries(const std::string& program) {
    std::vector<std::string> needed;
    FILE* pipe = ::popen(("readelf -d '" + program + "'").c_str(), "r");
    if (pipe == nullptr) {
        return needed;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const std::string text(line);
        const auto open = text.find("Shared library: [");
        if (text.find("(NEEDED)") != std::string::npos && open != std::string::npos) {
            const auto start = open + 17;
            needed.push_back(text.substr(start, text.find(']', start) - start));
        }
    }
    ::pclose(pipe);
    return needed;
}

bool isRuntime(const std::string& soname) {
    for (const char* stem : {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "ld-linux"}) {
        if (soname.starts_with(stem)) {
            return true;
        }
    }
    return false;
}

TEST(AcknowledgmentsTest, EveryLibraryTheProgramsNeedIsListedAndEveryListedOneIsUsed) {
    auto components = loadComponents(kListed);
    ASSERT_TRUE(components) << components.error().message;
    std::set<std::string> used;
    for (const std::string& program : split(ORVEL_PROGRAMS, ':')) {
        const auto needed = neededLibraries(program);
        ASSERT_FALSE(needed.empty()) << program << " read with readelf";
        for (const std::string& soname : needed) {
            if (isRuntime(soname)) {
                continue;
            }
            bool listed = false;
            for (const Component& c : *components) {
                for (const std::string& stem : c.libraries) {
                    if (soname.starts_with(stem)) {
                        listed = true;
                        used.insert(c.name);
                    }
                }
            }
            EXPECT_TRUE(listed) << program << " needs " << soname << ", which is not listed";
        }
    }
    std::ifstream cacheFile(ORVEL_CMAKE_CACHE);
    const std::string cache((std::istreambuf_iterator<char>(cacheFile)),
                            std::istreambuf_iterator<char>());
    for (const Component& c : *components) {
        if (c.libraries.empty()) {
            ASSERT_TRUE(c.cmakePackage) << c.name << " is neither linked nor a header library";
            EXPECT_NE(cache.find(*c.cmakePackage + "_DIR:PATH=/"), std::string::npos)
                << c.name << " is found by the build";
        } else {
            EXPECT_TRUE(used.contains(c.name)) << c.name << " is listed but no program links it";
        }
    }
}

TEST(AcknowledgmentsTest, EachBoxHoldsTheLicenceNameCopyrightFullTextAndInstalledPath) {
    auto components = loadComponents(kListed);
    ASSERT_TRUE(components) << components.error().message;
    ASSERT_FALSE(components->empty());
    for (const Component& c : *components) {
        SCOPED_TRACE(c.name);
        auto box = licenseBoxText(c, kListed);
        ASSERT_TRUE(box) << box.error().message;
        EXPECT_TRUE(box->starts_with(c.license + "\n" + c.copyright.front() + "\n"));
        const auto blank = box->find("\n\n");
        ASSERT_NE(blank, std::string::npos);
        for (const std::string& line : c.copyright) {
            EXPECT_LT(box->find(line), blank) << "copyright lines come before the empty line";
        }
        for (const std::string& text : c.texts) {
            EXPECT_GT(fs::file_size(kListed + "/" + text), 900u) << text << " in full";
            EXPECT_NE(box->find("\n" + kListed + "/" + text), std::string::npos);
        }
    }
    const auto qt = std::find_if(components->begin(), components->end(),
                                 [](const Component& c) { return c.name == "Qt 6"; });
    ASSERT_NE(qt, components->end());
    const std::string qtBox = *licenseBoxText(*qt, kListed);
    EXPECT_NE(qtBox.find("GNU LESSER GENERAL PUBLIC LICENSE\n                       Version 3"),
              std::string::npos);
    EXPECT_NE(qtBox.find("GNU GENERAL PUBLIC LICENSE\n                       Version 3"),
              std::string::npos)
        << "the GPL the LGPL incorporates";
}

TEST(AcknowledgmentsTest, KeywordsAreTheComponentsAndLicencesThenTheFixedWords) {
    auto components = loadComponents(kListed);
    ASSERT_TRUE(components) << components.error().message;
    std::string names;
    std::string licences;
    std::set<std::string> seen;
    auto lower = [](std::string text) {
        for (char& ch : text) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        return text;
    };
    for (const Component& c : *components) {
        names += lower(c.name) + " ";
        if (seen.insert(c.licenseId).second) {
            licences += lower(c.licenseId) + " ";
        }
    }
    EXPECT_EQ(keywords(HelpSection::acknowledgments),
              names + licences + "license open source acknowledgments credits eula");
}

TEST(AcknowledgmentsTest, AListThatCannotBeReadIsAnErrorNamingTheFile) {
    const std::string folder =
        ::testing::TempDir() + "orvel-licences-" + std::to_string(::getpid());
    fs::create_directories(folder);
    struct Case {
        const char* content;  // none: no file
        const char* says;
    };
    for (const Case& c :
         {Case{nullptr, "components.json"}, Case{"{", "components.json"}, Case{"{}", "not a list"},
          Case{R"([{"name": "x", "summary": "s", "site": "u", "use": "u",
                                    "license": "MIT", "licenseId": "mit", "texts": ["MIT"]}])",
               "no licence text or copyright line"}}) {
        fs::remove(folder + "/components.json");
        if (c.content != nullptr) {
            std::ofstream(folder + "/components.json") << c.content;
        }
        auto loaded = loadComponents(folder);
        ASSERT_FALSE(loaded) << c.says;
        EXPECT_NE(loaded.error().message.find(c.says), std::string::npos) << loaded.error().message;
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace orvel::help
