#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Date.h"

// Dates as ISO 8601 internet date-time text (RFC 3339 without fractions), the form of the
// settings file.

namespace orvel {

// "2026-12-08T09:00:00Z": UTC, whole seconds (a fraction is dropped). Dates before the year 0 or
// after 9999 are written as the first or last second of that range.
std::string iso8601Text(Date date);

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or an offset "+HH:MM" / "-HH:MM", nothing else: no
// fraction, no offset without its colon, no day the month does not have, nothing that falls
// outside the years 0 to 9999 in UTC.
std::optional<Date> parseIso8601(std::string_view text);

}  // namespace orvel
