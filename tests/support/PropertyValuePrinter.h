#pragma once

#include <ostream>

#include "foundation/PropertyList.h"

// Lets a failing comparison of stored values (settings, defaults, device properties) show each
// value with its type. Include it wherever such values are compared, so that every test sees the
// same printer.

namespace orvel {

void PrintTo(const PropertyValue& value, std::ostream* out);

}  // namespace orvel
