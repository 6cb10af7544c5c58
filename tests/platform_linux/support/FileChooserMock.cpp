#include "support/FileChooserMock.h"

#include <gtest/gtest.h>

#include "support/PrivateBus.h"

namespace orvel::test {

Json fileChooserLastRequest(DBusConnection& probe) {
    Reply reply = callAndWait(probe, kFileChooserMock, "LastRequest");
    const char* text = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "s", &text) < 0) {
        ADD_FAILURE() << "the file chooser's mock did not answer";
        return nullptr;
    }
    auto json = parseJson(text);
    return json ? *json : Json();
}

void fileChooserAnswer(DBusConnection& probe, const char* member, std::uint32_t response,
                       const std::vector<std::string>& uris) {
    Reply reply = callAndWait(probe, kFileChooserMock, member, [&](sd_bus_message* m) {
        int rc = sd_bus_message_append(m, "u", response);
        if (rc >= 0)
            rc = sd_bus_message_open_container(m, 'a', "s");
        for (const auto& uri : uris) {
            if (rc >= 0)
                rc = sd_bus_message_append(m, "s", uri.c_str());
        }
        return rc >= 0 ? sd_bus_message_close_container(m) : rc;
    });
    EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get())) << member;
}

}  // namespace orvel::test
