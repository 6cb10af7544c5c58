#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Log.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// What the desktop's file chooser is asked for.
struct FileChooserRequest {
    enum class Kind { open, save };
    Kind kind = Kind::open;
    // The window the dialog stands over ("x11:<hex id>"), or empty.
    std::string parentWindow;
    std::string title;
    // The accept button's label; empty leaves the chooser's own.
    std::string acceptLabel;
    bool multiple = false;
    bool directory = false;
    // Each filter: a name and its glob patterns ("*.orvelconfig"); the first is chosen.
    std::vector<std::pair<std::string, std::vector<std::string>>> filters;
    // Save: the proposed file name.
    std::string currentName;
    // The folder the chooser opens in; empty leaves the chooser's own.
    std::string currentFolder;
};

struct FileChooserAnswer {
    enum class Outcome { chosen, cancelled, unavailable };
    Outcome outcome = Outcome::cancelled;
    // The local paths chosen.
    std::vector<std::string> paths;
    // Why the portal could not be asked, in words (unavailable only).
    std::string reason;
};

// One dialog of the XDG file chooser portal (org.freedesktop.portal.FileChooser OpenFile or
// SaveFile) on the session bus. The call is sent at construction and nothing waits: the answer
// comes from the request's Response signal. `done` is called once, on the main thread, with the
// paths chosen, a cancel, or "unavailable" when no portal answered the call (nothing was shown,
// so the caller may show a dialog of its own); a portal that leaves the bus meanwhile counts as
// a cancel. Destroying the object before the answer closes the dialog and `done` never comes.
// Main thread only.
class PortalFileChooser {
  public:
    using Done = std::function<void(FileChooserAnswer)>;

    PortalFileChooser(std::shared_ptr<DBusConnection> sessionBus, const FileChooserRequest& request,
                      Done done);
    ~PortalFileChooser();
    PortalFileChooser(const PortalFileChooser&) = delete;
    PortalFileChooser& operator=(const PortalFileChooser&) = delete;

    // A file: URI as a local path ("%20" decoded); empty for any other URI.
    static std::string pathOfUri(const std::string& uri);

  private:
    void follow(const std::string& handle);
    void responded(sd_bus_message* signal);
    void finish(FileChooserAnswer answer);

    std::shared_ptr<DBusConnection> bus_;
    Done done_;
    std::string handle_;
    DBusSlot response_;
    DBusSlot call_;
    std::shared_ptr<BusName> portal_;
    Subscription portalGone_;
    // The portal took the request: the dialog is up.
    bool requested_ = false;
    bool finished_ = false;
    Logger log_{"desktop"};
};

}  // namespace orvel
