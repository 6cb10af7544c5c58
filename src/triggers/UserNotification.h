#pragma once

#include <string>

namespace orvel {

// Posts a notification at once with a new identifier, when `granted`; otherwise nothing. May be
// called from any thread (it runs in authorization completions).
void postUserNotification(bool granted, const std::string& title, const std::string& body);

}  // namespace orvel
