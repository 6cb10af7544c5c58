#include "automations/ApplicationChooser.h"

#include <algorithm>
#include <set>
#include <utility>

#include "foundation/Localization.h"
#include "foundation/TextCompare.h"

namespace orvel {

using namespace ui;

ApplicationChooser::ApplicationChooser(Workspace& workspace, std::string prompt,
                                       OpenPanelOptions otherPanel, Chosen chosen,
                                       std::function<void()> close)
    : workspace_(workspace),
      prompt_(std::move(prompt)),
      otherPanel_(std::move(otherPanel)),
      chosen_(std::move(chosen)),
      close_(std::move(close)) {}

void ApplicationChooser::present(std::unique_ptr<Window>& window, Workspace& workspace,
                                 std::string title, std::string prompt, OpenPanelOptions otherPanel,
                                 Chosen chosen) {
    // The slot outlives the chooser: the chooser lives in the window the slot holds.
    auto chooser = std::make_shared<ApplicationChooser>(
        workspace, std::move(prompt), std::move(otherPanel), std::move(chosen), [&window] {
            if (window) {
                window->close();
            }
        });
    window = UiHost::current().makeWindow();
    window->setTitle(std::move(title));
    window->setStyle(kWindowTitled | kWindowClosable | kWindowResizable | kWindowClosesOnEscape);
    window->setContent(chooser);
    window->setContentSize(420, 480);
    window->setContentMinSize(320, 280);
    window->center();
    chooser->reload();
    UiHost::current().application().activate(true);
    window->makeKeyAndOrderFront();
}

OpenPanelOptions ApplicationChooser::filePanel(Workspace& workspace) {
    OpenPanelOptions options;
    options.allowedExtensions = {"desktop"};
    options.places = workspace.applicationFolders();
    if (!options.places.empty()) {
        options.directory = options.places.front();
    }
    options.canChooseFiles = true;
    options.canChooseDirectories = false;
    options.allowsMultipleSelection = false;
    return options;
}

std::vector<ApplicationChooser::Entry> ApplicationChooser::ordered(
    const std::vector<InstalledApplication>& apps, const std::vector<RunningApplication>& running) {
    std::set<std::string> runningURLs;
    for (const auto& app : running) {
        if (app.bundleURL) {
            runningURLs.insert(*app.bundleURL);
        }
    }
    std::vector<Entry> entries;
    entries.reserve(apps.size());
    for (const auto& app : apps) {
        const bool runs = runningURLs.count(app.url) != 0;
        // Orvel opens no terminal to start one in.
        if (runs || !app.runsInTerminal) {
            entries.push_back({app, runs});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.running != b.running) {
            return a.running;
        }
        const int order = localizedCaseInsensitiveCompare(a.app.localizedName, b.app.localizedName);
        return order != 0 ? order < 0 : a.app.url < b.app.url;
    });
    return entries;
}

void ApplicationChooser::reload() {
    asked_ = true;
    workspace_.installedApplications(
        [self = weakRef(*this)](std::vector<InstalledApplication> apps) {
            if (ApplicationChooser* chooser = self.get()) {
                chooser->entries = ordered(apps, chooser->workspace_.runningApplications());
            }
        });
}

std::vector<ApplicationChooser::Entry> ApplicationChooser::shown() const {
    std::vector<Entry> found;
    if (!entries()) {
        return found;
    }
    const std::string search = trimmingHorizontalWhitespace(query());
    for (const Entry& entry : *entries()) {
        if (localizedCaseInsensitiveContains(entry.app.localizedName, search)) {
            found.push_back(entry);
        }
    }
    return found;
}

std::string ApplicationChooser::chosenURL() const {
    const std::vector<Entry> found = shown();
    for (const Entry& entry : found) {
        if (entry.app.url == selection()) {
            return entry.app.url;
        }
    }
    return found.empty() ? std::string() : found.front().app.url;
}

void ApplicationChooser::choose(const std::string& url) {
    if (url.empty()) {
        return;
    }
    // The window goes first, so what the choice shows (an alert) is not under it.
    const Chosen chosen = chosen_;
    close_();
    chosen(url);
}

void ApplicationChooser::chooseOther() {
    const auto files = UiHost::current().runOpenPanel(otherPanel_);
    if (files && !files->empty()) {
        choose(files->front());
    }
}

View ApplicationChooser::list() {
    if (!entries()) {
        return Text("Looking for applications\u2026").foregroundStyle(Hierarchy::secondary);
    }
    const std::vector<Entry> found = shown();
    if (found.empty()) {
        return TextVerbatim(entries()->empty()
                                ? localized("No applications are installed.")
                                : localizedFormat("No application is called \u201C%@\u201D.",
                                                  {trimmingHorizontalWhitespace(query())}))
            .foregroundStyle(Hierarchy::secondary)
            .multilineTextAlignment(TextAlignment::center)
            .fixedSize(false, true)
            .padding(16);
    }
    std::vector<View> rows;
    rows.reserve(found.size());
    for (const Entry& entry : found) {
        std::vector<View> row{
            ApplicationIcon(entry.app.iconName, entry.app.iconFile)
                .font(Font::system(22))
                .frame(24, 24),
            TextVerbatim(entry.app.localizedName).lineLimit(1),
            Spacer(),
        };
        if (entry.running) {
            row.push_back(Text("Running")
                              .font(Font::style(TextStyle::caption))
                              .foregroundStyle(Hierarchy::secondary));
        }
        rows.push_back(HStack(VAlign::center, 8, std::move(row))
                           .padding(kEdgeVertical, 2)
                           .tag(entry.app.url)
                           .id(entry.app.url));
    }
    Binding<std::string> selected{[this] { return chosenURL(); },
                                  [this](const std::string& url) { selection = url; }};
    return List(selected, std::move(rows));
}

View ApplicationChooser::body() {
    Binding<std::string> search{[this] { return query(); },
                                [this](const std::string& text) { query = text; }};
    const std::string url = chosenURL();
    return VStack(HAlign::leading, 10,
                  {
                      SearchField("Search applications", search),
                      ZStack(Alignment::center(), {list()})
                          .frame(Frame().withMaxWidth(kInfinity).withMaxHeight(kInfinity)),
                      HStack(VAlign::center, 8,
                             {
                                 Button("Other\u2026", [this] { chooseOther(); }),
                                 Spacer(),
                                 Button("Cancel", [this] { close_(); })
                                     .keyboardShortcut(KeyboardShortcut::cancelAction()),
                                 Button(prompt_, [this, url] { choose(url); })
                                     .keyboardShortcut(KeyboardShortcut::defaultAction())
                                     .disabled(url.empty()),
                             }),
                  })
        .padding(12);
}

}  // namespace orvel
