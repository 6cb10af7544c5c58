#include "foundation/Registry.h"

namespace orvel {
namespace {

// The services behind the settings, automations and help windows.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
