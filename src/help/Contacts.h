#pragma once

namespace orvel {

// Who makes Orvel and where to write, shared by the About window, the help pages and the
// agreement. Reserved example domains until real ones exist.
inline constexpr const char* kAuthorName = "Orvel Developers";
inline constexpr const char* kSupportAddress = "support@orvel.example";
inline constexpr const char* kFeedbackAddress = "feedback@orvel.example";
inline constexpr const char* kPrivacyPolicyURL = "https://orvel.example/privacy";

}  // namespace orvel
