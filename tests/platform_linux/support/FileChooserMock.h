#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Json.h"
#include "platform/linux/DBusConnection.h"

namespace orvel::test {

// The file chooser portal's mock (mocks/portal_file_chooser.py), asked through a connection of
// the test's own.
inline const DBusObject kFileChooserMock{"org.freedesktop.portal.Desktop",
                                         "/org/freedesktop/portal/desktop",
                                         "org.freedesktop.DBus.Mock"};

// The newest request the portal received (method, parent, title, options), or null.
Json fileChooserLastRequest(DBusConnection& probe);

// Answers the newest request now ("Respond"), or every request as it comes ("SetAnswer").
void fileChooserAnswer(DBusConnection& probe, const char* member, std::uint32_t response,
                       const std::vector<std::string>& uris);

}  // namespace orvel::test
