#pragma once

namespace orvel {

// The application's identity: the log subsystem, the owner of scheduled wakes, the prefix of
// thread names.
inline constexpr const char* kBundleIdentifier = "org.orvel.Orvel";
inline constexpr const char* kAppName = "Orvel";

// The version and build number the program was built as (the build system sets both).
const char* appVersion();
const char* appBuild();

}  // namespace orvel
