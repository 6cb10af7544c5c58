// The session kept across a quit and relaunch, read from the settings as the controller restores
// it; a session that decodes must encode and decode back to itself.
#include "core/SavedSession.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = parseJson(fuzz::text(data, size));
    if (!json) {
        return 0;
    }
    const auto session = SavedSession::fromJson(*json);
    if (!session) {
        fuzz::require(!session.error().message.empty(), "a refused session says why");
        return 0;
    }
    const auto text = dumpJson(session->toJson());
    fuzz::require(text.ok(), "a decoded session encodes");
    const auto again = parseJson(*text);
    fuzz::require(again.ok(), "an encoded session is JSON");
    const auto back = SavedSession::fromJson(*again);
    fuzz::require(back.ok() && *back == *session, "an encoded session decodes to itself");
    return 0;
}
