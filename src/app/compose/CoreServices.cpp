#include "foundation/Registry.h"

namespace orvel {
namespace {

// The session core: the settings, the log, notifications, the engine and the controller.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
