// DOS date and time fields (as directory records carry them) to a 64-bit file time: 100 ns
// intervals since 1 January 1601, the date taken as it stands (no time-zone conversion).
#pragma once

#include <cstdint>

// False, leaving *fileTime untouched, when the fields do not name a real date and time (the
// all-zero fields that this system writes among them: there is no month 0 or day 0).
[[nodiscard]] bool dosDateTimeToFileTime(uint16_t date, uint16_t time, uint64_t* fileTime);
