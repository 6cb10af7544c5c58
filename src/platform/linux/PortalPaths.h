#pragma once

#include <string>

namespace orvel {

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
