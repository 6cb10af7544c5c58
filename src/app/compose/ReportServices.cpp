#include "foundation/Registry.h"

namespace orvel {
namespace {

// The report builders, which read every service.
[[maybe_unused]] const bool kProvided = [] { return true; }();

}  // namespace
}  // namespace orvel
