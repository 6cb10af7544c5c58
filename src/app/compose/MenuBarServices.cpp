#include "foundation/Registry.h"

namespace orvel {
namespace {

// The menu bar's own services.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
