// Number conversion for the text readers: the C library's decimal conversion
// as it behaves in the "C" locale, whatever locale the process runs under (a
// desktop shell may set one with a decimal comma). Leading white space is
// skipped, as many characters as form a number are used, and text that forms
// no number reads as 0.
//
// StreamScanner reads whitespace-separated numbers the way formatted stream
// input does ("in >> value"), for the light list and the viewpoint file.
#pragma once

#include <cstdint>
#include <cstdio>
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

// Numbers read as a stream extracts them: white space is skipped, then the
// longest text that can belong to a number is taken (a sign; digits with at
// most one decimal point; for a float, an exponent mark after some digits,
// with its own sign and digits), and the first character that cannot belong
// is left unread. So "1.5," gives 1.5 and the next read starts at ",". Text
// taken that is no whole number ("-", ".", "1e+") or a value out of range is
// a failed read; what it took stays taken. The scanner takes at most limit
// bytes of file, so a file that grows meanwhile costs no more than its size,
// and leaves the file standing right after the characters it took.
class StreamScanner {
  public:
    enum class Result {
        kValue,       // a number was read
        kEnd,         // only white space was left
        kUnreadable,  // the text there is no number, or its value is out of range
    };

    StreamScanner(std::FILE* file, std::int64_t limit) : file_(file), unread_(limit) {}

    // A 32-bit float, rounded once from the decimal text as a stream reading
    // into a float does; finite values only.
    Result ReadFloat(float& value);
    // A signed decimal integer (no decimal point, no exponent) within 64 bits.
    Result ReadInteger(std::int64_t& value);
    // Skips white space and then one word, whatever it says. False when only
    // white space was left.
    bool SkipWord();

  private:
    int Peek();
    void Take();
    // White space skipped; the next character, or EOF.
    int SkipSpace();

    std::FILE* file_;
    std::int64_t unread_;
};

}  // namespace lumeno
