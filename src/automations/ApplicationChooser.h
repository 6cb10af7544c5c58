#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Published.h"
#include "foundation/WeakRef.h"
#include "platform/Workspace.h"
#include "ui/Host.h"
#include "ui/ViewComponent.h"

namespace orvel {

// The installed applications to choose one from: the running ones first and marked, then the
// others as the user's language sorts their names; a search by name; and "Other…" for any
// file, in an open panel. Choosing closes the window, then hands on the application's entry
// (its URL, as bundleURL gives it) or the file. Main thread only.
class ApplicationChooser final : public ui::ViewComponent, public WeakReferenceable {
  public:
    using Chosen = std::function<void(const std::string& url)>;

    struct Entry {
        InstalledApplication app;
        bool running = false;
    };

    // `prompt` titles the button that chooses; `otherPanel` is the panel "Other…" runs;
    // `close` closes the chooser's window.
    ApplicationChooser(Workspace& workspace, std::string prompt, ui::OpenPanelOptions otherPanel,
                       Chosen chosen, std::function<void()> close);

    // Shows a chooser in a new window kept in `window` (one shown there before goes).
    static void present(std::unique_ptr<ui::Window>& window, Workspace& workspace,
                        std::string title, std::string prompt, ui::OpenPanelOptions otherPanel,
                        Chosen chosen);

    // The panel that offers desktop entries and programs as files.
    static ui::OpenPanelOptions filePanel(Workspace& workspace);

    // Running ones first (those whose entry a running application's bundleURL is), each part
    // in the user's language's order of names, ignoring case. One that runs in a terminal is
    // offered only while it runs.
    static std::vector<Entry> ordered(const std::vector<InstalledApplication>& apps,
                                      const std::vector<RunningApplication>& running);

    // Asks the workspace for the applications; they show when they come.
    void reload();
    // The entries whose name holds the search, in order.
    std::vector<Entry> shown() const;
    // The selected entry, else the first one shown; empty when none is shown.
    std::string chosenURL() const;
    void choose(const std::string& url);
    void chooseOther();

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override { return {this}; }

    // Nothing while the workspace has not answered.
    Published<std::optional<std::vector<Entry>>> entries{*this, std::nullopt};
    Published<std::string> query{*this, {}};
    Published<std::string> selection{*this, {}};

  private:
    ui::View list();

    Workspace& workspace_;
    std::string prompt_;
    ui::OpenPanelOptions otherPanel_;
    Chosen chosen_;
    std::function<void()> close_;
    bool asked_ = false;
};

}  // namespace orvel
