#include "automations/AppRuleEditor.h"

#include <filesystem>
#include <utility>

#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/ApplicationChooser.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/RuleWrite.h"
#include "foundation/Localization.h"
#include "foundation/PropertyList.h"
#include "platform/Workspace.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

// The name a desktop entry shows: its name in the user's language, else its name, else the
// file's.
std::string applicationName(const ApplicationBundle& bundle, const std::string& url) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        if (const auto* name = propertyAs<std::string>(bundle.info, key)) {
            return *name;
        }
    }
    return std::filesystem::path(url).stem().string();
}

}  // namespace

void AppRuleEditor::setApp(const std::string& name, const std::string& bundleID,
                           const std::optional<std::string>& url) const {
    writeRule(engine, rule.id, [&](TriggerRule& stored) {
        // The application chosen before is the stored one: this copy may be older.
        const std::optional<std::string> previous = stored.appName;
        stored.appName = name;
        stored.appBundleID = bundleID;
        if (stored.name == kDefaultName || stored.name == localized(kDefaultName) ||
            (previous && stored.name == *previous)) {
            stored.name = name;
        }
        if (AppTriggerSource::isBackgroundApp(workspace, bundleID, url)) {
            stored.watchBackground = true;
        }
    });
}

void AppRuleEditor::chooseApp() const {
    if (chooserWindow == nullptr) {
        return;
    }
    const AppRuleEditor self = *this;
    ApplicationChooser::present(*chooserWindow, workspace, localized("Choose an Application"),
                                localized("Choose"), ApplicationChooser::filePanel(workspace),
                                [self](const std::string& url) { self.applyChosen(url); });
}

void AppRuleEditor::applyChosen(const std::string& url) const {
    const auto bundle = workspace.bundle(url);
    if (!bundle) {
        return;
    }
    const auto* bundleID = propertyAs<std::string>(bundle->info, "CFBundleIdentifier");
    if (!bundleID || bundleID->empty()) {
        return;
    }
    setApp(applicationName(*bundle, url), *bundleID, url);
}

std::vector<MenuItem> AppRuleEditor::runningAppItems() const {
    std::vector<MenuItem> items;
    const AppRuleEditor self = *this;
    for (auto& [name, bundleID] : AppTriggerSource::runningApps(workspace)) {
        MenuItem item{name, [self, name, bundleID] { self.setApp(name, bundleID, std::nullopt); }};
        item.verbatim = true;
        items.push_back(std::move(item));
    }
    return items;
}

View AppRuleEditor::body() const {
    const AppRuleEditor self = *this;
    View title = rule.appName ? TextVerbatim(*rule.appName) : Text("Choose\u2026");
    std::vector<View> rows{
        LabeledContent(
            "Application",
            HStack(VAlign::center, 8,
                   {
                       MenuOnOpen(std::move(title), [self] { return self.runningAppItems(); })
                           .buttonStyle(StandardButtonStyle::borderless)
                           .accessibilityLabel("Application")
                           .frame(170),
                       Button("Browse\u2026", [self] { self.chooseApp(); })
                           .controlSize(ControlSize::small),
                   })),
        ActionPicker{engine, localized("On launch"), rule, &TriggerRule::onAppear}.body(),
    };
    if (rule.onAppear == TriggerAction::startSession) {
        rows.push_back(DurationPicker{engine, rule}.body());
    }
    rows.push_back(ActionPicker{engine, localized("On quit"), rule, &TriggerRule::onClear}.body());
    rows.push_back(Toggle("Watch background processes",
                          Binding<bool>{[on = rule.watchBackground.value_or(false)] { return on; },
                                        [engine = &engine, id = rule.id](const bool& on) {
                                            writeRule(*engine, id, [on](TriggerRule& stored) {
                                                stored.watchBackground = on;
                                            });
                                        }}));
    rows.push_back(
        Text("Only needed for tray or background apps, which don't announce launch and quit "
             "\u2014 Orvel then checks every few seconds while this rule is on. Chosen "
             "automatically when you pick one. Pinning an app to the task bar doesn't change how "
             "it runs.")
            .font(Font::style(TextStyle::caption))
            .foregroundStyle(Hierarchy::secondary));
    rows.push_back(ACOnlyToggle{engine, rule}.body());
    rows.push_back(EditorFooter{engine, rule, expanded}.body());
    return VStack(HAlign::leading, 8, std::move(rows)).font(Font::system(12.5));
}

}  // namespace orvel
