// Number conversion for the text readers: the C library's decimal conversion
// as it behaves in the "C" locale, whatever locale the process runs under (a
// desktop shell may set one with a decimal comma). Leading white space is
// skipped, as many characters as form a number are used, and text that forms
// no number reads as 0.
#pragma once

#include <cstdint>
#include <optional>

namespace lumeno {

// strtod in the "C" locale, rounded to a 32-bit float.
float ParseFloat(const char* text);

// strtod in the "C" locale.
double ParseDouble(const char* text);

// Reads one signed decimal integer starting at text (leading white space
// skipped). Returns nothing when no integer starts there; otherwise the value,
// saturated to the 64-bit range, and *end is set past it.
std::optional<std::int64_t> ParseInteger(const char* text, const char** end);

}  // namespace lumeno
