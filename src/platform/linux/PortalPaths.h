#pragma once

#include <string>

namespace orvel {

// The desktop portal's bus name and object, and the interface its requests answer on.
inline constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kPortalRequestInterface = "org.freedesktop.portal.Request";

// The path the desktop portal gives a request or session ("request", "session") that the
// connection `uniqueName` made with `token`, so its signals are followed before the call is sent.
inline std::string portalHandle(const std::string& uniqueName, const char* kind,
                                const std::string& token) {
    std::string sender = uniqueName.starts_with(':') ? uniqueName.substr(1) : uniqueName;
    for (char& c : sender) {
        if (c == '.') {
            c = '_';
        }
    }
    return std::string("/org/freedesktop/portal/desktop/") + kind + "/" + sender + "/" + token;
}

}  // namespace orvel
