#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Workspace.h"

// The applications desktop menus offer, read from desktop entries. Threading: any thread; nothing
// here keeps state.

namespace orvel::xdg {

// Whether a path is a file the user may run.
using ExecutableTest = std::function<bool(const std::string& path)>;

// A regular file with execute permission for the user.
bool isExecutableProgram(const std::string& path);

// The words an Exec line runs: field codes (%f, %U, %i…) dropped, "%%" kept as "%".
std::vector<std::string> launchWords(const std::string& exec);

// The program a command word names: itself when it has a slash, else the first executable of that
// name in the folders of `path` ($PATH's form; empty: /usr/local/bin:/usr/bin:/bin); empty when
// there is none.
std::string findProgram(const std::string& word, const std::string& path,
                        const ExecutableTest& isExecutable);

// A folder's path as a file chooser gives it: no doubled or trailing slashes.
std::string normalFolder(const std::string& folder);

// The desktop entries below an applications/ folder, by path, each with its id (the path below
// the folder, its slashes turned into dashes). `entered` hears of each subfolder the walk enters;
// links are not followed.
std::vector<std::pair<std::string, std::string>> entryFiles(
    const std::string& folder, const std::function<void(const std::string&)>& entered = {});

struct ApplicationListing {
    // applications/ folders, most preferred first.
    std::vector<std::string> applicationFolders;
    // Folders of icon themes and of loose pictures (…/icons, …/pixmaps), most preferred first.
    std::vector<std::string> iconFolders;
    // The desktops XDG_CURRENT_DESKTOP names, colon-separated.
    std::string desktop;
    // As entryLocales() gives them.
    std::vector<std::string> locales;
    // Where programs named without a slash are looked for ($PATH's form).
    std::string programPath;
    ExecutableTest isExecutable = isExecutableProgram;
};

// The applications a desktop menu shows: an entry of a more preferred folder hides one of the
// same id below it (Hidden=true hides it altogether); entries that are not applications, that
// ask not to be shown (NoDisplay), that are meant for other desktops (OnlyShowIn, NotShowIn),
// whose TryExec or Exec program is not installed, or that have no name are left out. Names
// are in the first of the locales the entry has. In the order of the folders' files.
std::vector<InstalledApplication> listApplications(const ApplicationListing& listing);

// The picture file of an entry's Icon value: the value itself when it is a path, else the
// hicolor theme's picture (scalable first, then the nearest bitmap to 48 px) or a loose picture
// of that name in the icon folders; empty when there is none.
std::string findIconFile(const std::string& icon, const std::vector<std::string>& iconFolders);

}  // namespace orvel::xdg
