#include "platform/linux/PortalFileChooser.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "foundation/Numbers.h"
#include "platform/linux/PortalPaths.h"

namespace orvel {

namespace {

const DBusObject kChooser{kPortalName, kPortalPath, "org.freedesktop.portal.FileChooser"};
constexpr const char* kOpenFile = "OpenFile";
constexpr const char* kSaveFile = "SaveFile";
constexpr const char* kResponse = "Response";
constexpr const char* kClose = "Close";
// The Response codes: 0 chosen, 1 cancelled by the user, 2 ended some other way.
constexpr std::uint32_t kChosen = 0;

// Appends one {sv} entry whose value `appendValue` writes as `signature`.
template <class AppendValue>
int entry(sd_bus_message* m, const char* key, const char* signature, AppendValue appendValue) {
    int rc = sd_bus_message_open_container(m, 'e', "sv");
    if (rc >= 0)
        rc = sd_bus_message_append_basic(m, 's', key);
    if (rc >= 0)
        rc = sd_bus_message_open_container(m, 'v', signature);
    if (rc >= 0)
        rc = appendValue();
    if (rc >= 0)
        rc = sd_bus_message_close_container(m);
    if (rc >= 0)
        rc = sd_bus_message_close_container(m);
    return rc;
}

// One filter, (sa(us)): a name and glob patterns (type 0).
int appendFilter(sd_bus_message* m, const std::pair<std::string, std::vector<std::string>>& f) {
    int rc = sd_bus_message_open_container(m, 'r', "sa(us)");
    if (rc >= 0)
        rc = sd_bus_message_append_basic(m, 's', f.first.c_str());
    if (rc >= 0)
        rc = sd_bus_message_open_container(m, 'a', "(us)");
    for (const auto& pattern : f.second) {
        if (rc >= 0)
            rc = sd_bus_message_append(m, "(us)", 0u, pattern.c_str());
    }
    if (rc >= 0)
        rc = sd_bus_message_close_container(m);
    if (rc >= 0)
        rc = sd_bus_message_close_container(m);
    return rc;
}

int appendCall(sd_bus_message* m, const FileChooserRequest& r, const std::string& token) {
    const bool save = r.kind == FileChooserRequest::Kind::save;
    int rc = sd_bus_message_append(m, "ss", r.parentWindow.c_str(), r.title.c_str());
    if (rc >= 0)
        rc = sd_bus_message_open_container(m, 'a', "{sv}");
    if (rc >= 0)
        rc = sd_bus_message_append(m, "{sv}", "handle_token", "s", token.c_str());
    if (rc >= 0)
        rc = sd_bus_message_append(m, "{sv}", "modal", "b", 1);
    if (rc >= 0 && !r.acceptLabel.empty())
        rc = sd_bus_message_append(m, "{sv}", "accept_label", "s", r.acceptLabel.c_str());
    if (rc >= 0 && !save) {
        rc = sd_bus_message_append(m, "{sv}", "multiple", "b", r.multiple ? 1 : 0);
        if (rc >= 0)
            rc = sd_bus_message_append(m, "{sv}", "directory", "b", r.directory ? 1 : 0);
    }
    if (rc >= 0 && !r.filters.empty()) {
        rc = entry(m, "filters", "a(sa(us))", [&] {
            int inner = sd_bus_message_open_container(m, 'a', "(sa(us))");
            for (const auto& filter : r.filters) {
                if (inner >= 0)
                    inner = appendFilter(m, filter);
            }
            return inner >= 0 ? sd_bus_message_close_container(m) : inner;
        });
        if (rc >= 0)
            rc = entry(m, "current_filter", "(sa(us))",
                       [&] { return appendFilter(m, r.filters.front()); });
    }
    if (rc >= 0 && save && !r.currentName.empty())
        rc = sd_bus_message_append(m, "{sv}", "current_name", "s", r.currentName.c_str());
    if (rc >= 0 && !r.currentFolder.empty()) {
        // A byte string with its terminating zero, as the portal reads file names.
        rc = entry(m, "current_folder", "ay", [&] {
            return sd_bus_message_append_array(m, 'y', r.currentFolder.c_str(),
                                               r.currentFolder.size() + 1);
        });
    }
    if (rc >= 0)
        rc = sd_bus_message_close_container(m);
    return rc;
}

}  // namespace

PortalFileChooser::PortalFileChooser(std::shared_ptr<DBusConnection> sessionBus,
                                     const FileChooserRequest& request, Done done)
    : bus_(std::move(sessionBus)), done_(std::move(done)) {
    if (!bus_ || !bus_->isOpen()) {
        finish({FileChooserAnswer::Outcome::unavailable, {}, "there is no session bus"});
        return;
    }
    portal_ = bus_->watchName(kPortalName);
    portalGone_ = portal_->changed.subscribe([this](BusNameState state) {
        if (state == BusNameState::absent && requested_) {
            log_.notice("The file chooser left the bus before it answered.");
            finish({FileChooserAnswer::Outcome::cancelled, {}, {}});
        }
    });
    static unsigned requests = 0;
    const std::string token = "orvel" + std::to_string(++requests);
    follow(portalHandle(bus_->uniqueName(), "request", token));
    const char* method = request.kind == FileChooserRequest::Kind::save ? kSaveFile : kOpenFile;
    auto call = bus_->call(
        kChooser, method,
        [&request, token](sd_bus_message* m) { return appendCall(m, request, token); },
        [this](sd_bus_message* reply) {
            if (auto error = DBusConnection::errorOf(reply)) {
                finish({FileChooserAnswer::Outcome::unavailable, {}, *error});
                return;
            }
            requested_ = true;
            const char* handle = nullptr;
            // Portals older than handle tokens choose their own path.
            if (sd_bus_message_read(reply, "o", &handle) >= 0 && handle != nullptr &&
                handle != handle_) {
                follow(handle);
            }
        });
    if (call) {
        call_ = std::move(call.value());
    } else {
        finish({FileChooserAnswer::Outcome::unavailable, {}, call.error().message});
    }
}

PortalFileChooser::~PortalFileChooser() {
    if (!finished_ && bus_ && bus_->isOpen() && !handle_.empty()) {
        // The dialog goes with the one who asked for it.
        const DBusObject request{kPortalName, handle_.c_str(), kPortalRequestInterface};
        (void)bus_->send(request, kClose, nullptr);
    }
}

void PortalFileChooser::follow(const std::string& handle) {
    handle_ = handle;
    auto match = bus_->matchSignal(nullptr, handle_.c_str(), kPortalRequestInterface, kResponse,
                                   [this](sd_bus_message* m) { responded(m); });
    if (match) {
        response_ = std::move(match.value());
    } else {
        log_.notice("The file chooser's answer cannot be followed: " + match.error().message);
    }
}

void PortalFileChooser::responded(sd_bus_message* m) {
    std::uint32_t code = 0;
    if (sd_bus_message_read(m, "u", &code) < 0) {
        return;
    }
    FileChooserAnswer answer;
    if (code != kChosen) {
        if (code != 1) {
            log_.info("The file chooser ended without a choice (response " + std::to_string(code) +
                      ").");
        }
        finish(answer);
        return;
    }
    if (sd_bus_message_enter_container(m, 'a', "{sv}") >= 0) {
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* key = nullptr;
            if (sd_bus_message_read(m, "s", &key) < 0) {
                break;
            }
            if (std::strcmp(key, "uris") == 0 && sd_bus_message_enter_container(m, 'v', "as") > 0) {
                char** uris = nullptr;
                if (sd_bus_message_read_strv(m, &uris) >= 0 && uris != nullptr) {
                    for (char** uri = uris; *uri != nullptr; ++uri) {
                        const std::string path = pathOfUri(*uri);
                        if (path.empty()) {
                            log_.notice(std::string("The file chooser gave a place that is not a "
                                                    "local file: ") +
                                        *uri);
                        } else {
                            answer.paths.push_back(path);
                        }
                        std::free(*uri);
                    }
                    std::free(uris);
                }
                (void)sd_bus_message_exit_container(m);
            } else {
                (void)sd_bus_message_skip(m, "v");
            }
            (void)sd_bus_message_exit_container(m);
        }
    }
    answer.outcome = answer.paths.empty() ? FileChooserAnswer::Outcome::cancelled
                                          : FileChooserAnswer::Outcome::chosen;
    finish(answer);
}

void PortalFileChooser::finish(FileChooserAnswer answer) {
    if (finished_) {
        return;
    }
    finished_ = true;
    // `done` may end this object.
    Done done = std::move(done_);
    if (done) {
        done(std::move(answer));
    }
}

std::string PortalFileChooser::pathOfUri(const std::string& uri) {
    constexpr std::string_view scheme = "file://";
    if (!uri.starts_with(scheme)) {
        return {};
    }
    std::string_view rest = std::string_view(uri).substr(scheme.size());
    if (rest.starts_with("localhost/")) {
        rest.remove_prefix(std::strlen("localhost"));
    }
    if (!rest.starts_with('/')) {
        return {};  // another host's file
    }
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const auto byte = rest[i] == '%' && i + 2 < rest.size()
                              ? parseNumber<unsigned char>(rest.substr(i + 1, 2), 16)
                              : std::nullopt;
        if (byte == 0) {
            return {};  // no file name holds one
        }
        if (byte) {
            path.push_back(static_cast<char>(*byte));
            i += 2;
        } else {
            path.push_back(rest[i]);
        }
    }
    return path;
}

}  // namespace orvel
