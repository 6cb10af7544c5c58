#include "foundation/Registry.h"

namespace orvel {
namespace {

// The devices the session quiets and the drives it keeps spinning.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
