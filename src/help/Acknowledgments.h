#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Result.h"
#include "ui/View.h"

namespace orvel {
class Paths;
}  // namespace orvel

namespace orvel::help {

// One piece of third-party software that Orvel's programs are built with or linked against.
struct Component {
    std::string name;
    std::string summary;  // what it is
    std::string site;
    std::string use;      // what Orvel uses it for
    std::string license;  // the licence's full name
    std::string licenseId;
    std::vector<std::string> copyright;
    std::vector<std::string> texts;           // licence files beside the list, the main one first
    std::vector<std::string> libraries;       // shared objects (soname stems) it comes as
    std::optional<std::string> cmakePackage;  // header-only: the package the build finds
};

// The folder of the installed list and licence texts.
std::string licensesDirectory(Paths& paths);

// The list, as installed with the program ("components.json").
Result<std::vector<Component>> loadComponents(const std::string& directory);

// The licence box: the licence's name, the copyright lines, an empty line, each licence text
// in full, and where the installed copies are.
Result<std::string> licenseBoxText(const Component& component, const std::string& directory);

// The page's paragraph for a component: what it is, its site, what Orvel uses it for, and its
// licence.
std::string componentParagraph(const Component& component);

}  // namespace orvel::help
