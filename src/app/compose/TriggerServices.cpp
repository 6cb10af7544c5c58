#include "foundation/Registry.h"

namespace orvel {
namespace {

// The trigger sources, the rules engine and the power centre.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
