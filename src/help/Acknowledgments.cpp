#include "help/Acknowledgments.h"

#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "help/HelpBlocks.h"
#include "help/HelpPages.h"
#include "platform/Paths.h"

namespace orvel::help {

using namespace ui;

namespace {

constexpr const char* kListName = "components.json";
constexpr double kLicenseTextSize = 11;

std::vector<std::string> strings(const Json& json, const char* key) {
    std::vector<std::string> out;
    if (json.contains(key) && json[key].is_array()) {
        for (const auto& item : json[key]) {
            if (item.is_string()) {
                out.push_back(item.get<std::string>());
            }
        }
    }
    return out;
}

}  // namespace

std::string licensesDirectory(Paths& paths) {
    return paths.resourcesDirectory() + "/licenses";
}

Result<std::vector<Component>> loadComponents(const std::string& directory) {
    const std::string path = directory + "/" + kListName;
    auto bytes = readFile(path);
    if (!bytes) {
        return bytes.error();
    }
    auto json = parseJson(stringFromData(*bytes));
    if (!json) {
        return Error{path + ": " + json.error().message};
    }
    if (!json->is_array()) {
        return Error{path + ": not a list of components"};
    }
    std::vector<Component> components;
    for (const Json& item : *json) {
        JsonReader reader(item, "component");
        Component c;
        c.name = reader.string("name");
        c.summary = reader.string("summary");
        c.site = reader.string("site");
        c.use = reader.string("use");
        c.license = reader.string("license");
        c.licenseId = reader.string("licenseId");
        c.cmakePackage = reader.optionalString("cmakePackage");
        if (!reader.ok()) {
            return Error{path + ": " + reader.error().message};
        }
        c.copyright = strings(item, "copyright");
        c.texts = strings(item, "texts");
        c.libraries = strings(item, "libraries");
        if (c.texts.empty() || c.copyright.empty()) {
            return Error{path + ": " + c.name + " has no licence text or copyright line"};
        }
        components.push_back(std::move(c));
    }
    return components;
}

Result<std::string> licenseBoxText(const Component& component, const std::string& directory) {
    std::string box = component.license + "\n";
    for (const auto& line : component.copyright) {
        box += line + "\n";
    }
    std::string where;
    for (const auto& name : component.texts) {
        const std::string path = directory + "/" + name;
        auto bytes = readFile(path);
        if (!bytes) {
            return bytes.error();
        }
        std::string text = stringFromData(*bytes);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        box += "\n" + text + "\n";
        where += "\n" + path;
    }
    return box + "\nInstalled at:" + where;
}

std::string componentParagraph(const Component& c) {
    return c.summary + " — [" + c.site + "](" + c.site + "). " + c.use + ". " + c.license + ":";
}

namespace {

// Each component's name, paragraph and licence box, or why there are none.
std::vector<View> componentBlocks(const std::string& directory) {
    std::vector<View> blocks;
    if (auto components = loadComponents(directory)) {
        for (const Component& c : *components) {
            blocks.push_back(H{c.name});
            blocks.push_back(P{componentParagraph(c)});
            auto text = licenseBoxText(c, directory);
            if (!text) {
                Logger("help").error("License text of " + c.name + ": " + text.error().message);
            }
            blocks.push_back(textBox(TextVerbatim(text ? *text : text.error().message)
                                         .font(Font::system(kLicenseTextSize).withMonospaced())
                                         .textSelection()
                                         .fixedSize(false, true)));
        }
    } else {
        Logger("help").error("Third-party components: " + components.error().message);
        blocks.push_back(TextVerbatim(components.error().message));
    }
    return blocks;
}

}  // namespace

ComputedBlocks HelpAcknowledgments::parts() const {
    return {{"components", [directory = licensesDirectory] { return componentBlocks(directory); }},
            {"viewLicenseAgreement", [show = showAgreement] {
                 return std::vector<View>{Button("View License Agreement", show)};
             }}};
}

}  // namespace orvel::help
