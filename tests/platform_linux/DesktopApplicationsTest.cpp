#include "platform/linux/DesktopApplications.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/Xdg.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class DesktopApplicationsTest : public test::OrvelTest {
  protected:
    fs::path root() const { return fs::path(scratch()) / "xdg"; }
    fs::path local() const { return root() / "local/applications"; }
    fs::path system() const { return root() / "system/applications"; }
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // An installed program in the tree's own bin folder.
    std::string program(const std::string& name) const {
        const fs::path file = root() / "bin" / name;
        write(file, "#!/bin/sh\n");
        ::chmod(file.c_str(), 0755);
        return file.string();
    }
    xdg::ApplicationListing listing() const {
        return {{local().string(), system().string()},
                {(root() / "icons").string(), (root() / "pixmaps").string()},
                "XFCE",
                {"de_DE", "de"},
                (root() / "bin").string()};
    }
};

TEST_F(DesktopApplicationsTest, ListsWhatADesktopMenuShows) {
    const std::string run = program("run");
    const std::string app = "[Desktop Entry]\nType=Application\nExec=" + run + " %U\n";
    struct Case {
        fs::path file;
        std::string text;
        std::string id;  // empty: not listed
        std::string name;
    };
    const Case cases[] = {
        {system() / "plain.desktop", app + "Name=Plain\n", "plain", "Plain"},
        {system() / "masked.desktop", app + "Name=Masked\n", "", ""},
        {local() / "masked.desktop", app + "Name=Masked\nHidden=true\n", "", ""},
        {system() / "copy.desktop", app + "Name=System copy\n", "", ""},
        {local() / "copy.desktop", app + "Name=Local copy\n", "copy", "Local copy"},
        {system() / "nodisplay.desktop", app + "Name=Tray helper\nNoDisplay=true\n", "", ""},
        {system() / "only-xfce.desktop", app + "Name=Only XFCE\nOnlyShowIn=GNOME;XFCE;\n",
         "only-xfce", "Only XFCE"},
        {system() / "only-gnome.desktop", app + "Name=Only GNOME\nOnlyShowIn=GNOME;KDE;\n", "", ""},
        {system() / "not-xfce.desktop", app + "Name=Not XFCE\nNotShowIn=XFCE;\n", "", ""},
        {system() / "not-kde.desktop", app + "Name=Not KDE\nNotShowIn=KDE;\n", "not-kde",
         "Not KDE"},
        {system() / "try-missing.desktop", app + "Name=Try missing\nTryExec=no-such-program\n", "",
         ""},
        {system() / "try-present.desktop", app + "Name=Try present\nTryExec=run\n", "try-present",
         "Try present"},
        // env, which runs first, is not in the tree's bin.
        {system() / "by-name.desktop",
         "[Desktop Entry]\nType=Application\nName=By name\nExec=env A=1 run\n", "", ""},
        {system() / "gone.desktop",
         "[Desktop Entry]\nType=Application\nName=Gone\nExec=/no/such/program\n", "", ""},
        {system() / "no-exec.desktop", "[Desktop Entry]\nType=Application\nName=No exec\n", "", ""},
        {system() / "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://a.b\n", "",
         ""},
        {system() / "nameless.desktop", app, "", ""},
        {system() / "vendor/sub.desktop", app + "Name=Sub\n", "vendor-sub", "Sub"},
        {system() / "console.desktop", app + "Name=Console\nTerminal=true\n", "console", "Console"},
        {system() / "files.desktop",
         app + "Name=Files\nName[de]=Dateien\nName[de_DE]=Dateien (DE)\nName[fr]=Fichiers\n",
         "files", "Dateien (DE)"},
        {system() / "maps.desktop", app + "Name=Maps\nName[de]=Karten\nName[fr]=Cartes\n", "maps",
         "Karten"},
    };
    std::map<std::string, std::pair<std::string, std::string>> expected;  // id: name, url
    for (const auto& c : cases) {
        write(c.file, c.text);
        if (!c.id.empty()) {
            expected[c.id] = {c.name, c.file.lexically_normal().string()};
        }
    }
    std::map<std::string, std::pair<std::string, std::string>> listed;
    for (const auto& a : xdg::listApplications(listing())) {
        EXPECT_TRUE(listed.emplace(a.bundleIdentifier, std::pair(a.localizedName, a.url)).second)
            << a.bundleIdentifier << " listed twice";
        EXPECT_EQ(a.runsInTerminal, a.bundleIdentifier == "console") << a.bundleIdentifier;
    }
    EXPECT_EQ(listed, expected);
}

TEST_F(DesktopApplicationsTest, IconsComeFromTheEntrysPathTheHicolorThemeOrLoosePictures) {
    const fs::path icons = root() / "icons";
    const fs::path pixmaps = root() / "pixmaps";
    for (const fs::path& file :
         {icons / "hicolor/scalable/apps/vector.svg", icons / "hicolor/32x32/apps/bitmap.png",
          icons / "hicolor/48x48/apps/bitmap.png", pixmaps / "legacy.xpm",
          root() / "pictures/own.png"}) {
        write(file, "picture");
    }
    const std::vector<std::string> folders = {icons.string(), pixmaps.string()};
    const struct {
        std::string icon;
        fs::path file;  // empty: none
    } cases[] = {
        {"vector", icons / "hicolor/scalable/apps/vector.svg"},
        {"bitmap", icons / "hicolor/48x48/apps/bitmap.png"},
        {"legacy", pixmaps / "legacy.xpm"},
        {"legacy.xpm", pixmaps / "legacy.xpm"},
        {(root() / "pictures/own.png").string(), root() / "pictures/own.png"},
        {(root() / "pictures/gone.png").string(), {}},
        {"missing", {}},
        {"../pictures/own", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xdg::findIconFile(c.icon, folders), c.file.string()) << c.icon;
    }

    // An entry keeps the theme's name for its icon beside the file found for it.
    write(system() / "drawn.desktop", "[Desktop Entry]\nType=Application\nName=Drawn\nExec=" +
                                          program("run") + "\nIcon=vector\n");
    const auto apps = xdg::listApplications(listing());
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].iconName, "vector");
    EXPECT_EQ(apps[0].iconFile, (icons / "hicolor/scalable/apps/vector.svg").string());
}

TEST(DesktopEntryLocalesTest, NamesAreLookedUpUnderTheMessagesLocaleAndItsLanguage) {
    const struct {
        std::map<std::string, std::string> env;
        std::vector<std::string> locales;
    } cases[] = {
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE", "de"}},
        {{{"LANG", "sr_RS.UTF-8@latin"}}, {"sr_RS@latin", "sr_RS", "sr@latin", "sr"}},
        {{{"LC_ALL", "fr_FR"}, {"LC_MESSAGES", "it_IT"}, {"LANG", "de_DE"}}, {"fr_FR", "fr"}},
        {{{"LC_MESSAGES", "it_IT"}, {"LANG", "de_DE"}}, {"it_IT", "it"}},
        {{{"LANGUAGE", "pt_BR:en"}, {"LANG", "de_DE.UTF-8"}}, {"pt_BR", "pt", "en", "de_DE", "de"}},
        {{{"LANGUAGE", "pt_BR"}, {"LANG", "C.UTF-8"}}, {}},
        {{{"LANG", "POSIX"}}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        const auto env = [&c](const char* name) -> std::optional<std::string> {
            const auto it = c.env.find(name);
            return it == c.env.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        EXPECT_EQ(xdg::entryLocales(env), c.locales)
            << (c.env.empty() ? std::string("none") : c.env.begin()->second);
    }
}

// What the chooser offers must be accepted where it is used: each listed entry opens as a bundle
// with the same id and name, so an app rule stores what was shown.
TEST_F(DesktopApplicationsTest, TheWorkspaceListsOnALaterTurnAndEachEntryOpensAsItsBundle) {
    const std::string run = program("run");
    write(system() / "org.example.Files.desktop",
          "[Desktop Entry]\nType=Application\nExec=" + run + "\nName=Files\nName[de]=Dateien\n");
    write(system() / "vendor/editor.desktop",
          "[Desktop Entry]\nType=Application\nExec=" + run + "\nName=Editor\n");
    write(system() / "hidden.desktop",
          "[Desktop Entry]\nType=Application\nExec=" + run + "\nName=Hidden\nNoDisplay=true\n");
    LinuxWorkspaceOptions options;
    options.applicationFolders = {local().string(), system().string()};
    options.iconFolders = {(root() / "icons").string()};
    options.locales = std::vector<std::string>{"de"};
    options.desktop = "XFCE";
    LinuxWorkspace workspace(nullptr, sim().processes(), options);
    std::optional<std::vector<InstalledApplication>> listed;
    workspace.installedApplications([&](std::vector<InstalledApplication> apps) { listed = apps; });
    EXPECT_FALSE(listed) << "never before the call returns";
    loop().drain();
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 2u);
    for (const auto& app : *listed) {
        SCOPED_TRACE(app.url);
        const auto bundle = workspace.bundle(app.url);
        ASSERT_TRUE(bundle);
        EXPECT_EQ(propertyAs<std::string>(bundle->info, "CFBundleIdentifier") != nullptr
                      ? *propertyAs<std::string>(bundle->info, "CFBundleIdentifier")
                      : "",
                  app.bundleIdentifier);
        const auto* display = propertyAs<std::string>(bundle->info, "CFBundleDisplayName");
        const auto* name = propertyAs<std::string>(bundle->info, "CFBundleName");
        EXPECT_EQ(display ? *display : name ? *name : "", app.localizedName);
    }
    EXPECT_EQ((*listed)[0].localizedName, "Dateien");
    EXPECT_EQ((*listed)[1].bundleIdentifier, "vendor-editor");
}

}  // namespace
}  // namespace orvel
