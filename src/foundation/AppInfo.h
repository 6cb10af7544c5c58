#pragma once

namespace orvel {

// The application's identity: the log subsystem, the owner of scheduled wakes, the prefix of
// thread names.
inline constexpr const char* kBundleIdentifier = "org.orvel.Orvel";
inline constexpr const char* kAppName = "Orvel";

}  // namespace orvel
