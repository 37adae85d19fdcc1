#include "scene/number_parse.h"

#include <locale.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace lumeno {
namespace {

locale_t CLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// The common short decimal, "-12.345678": at most 19 digits (so at most 19
// after the point), no exponent, and its digits an integer w ≤ 2^53. Then w
// and 10^k are both exact doubles (k ≤ 22 would do) and one division rounds
// w / 10^k correctly, just as strtod and from_chars round the decimal itself,
// so all three give the same double. Returns false, having read no further
// than the NUL, for anything else (a leading blank or plus sign, an exponent,
// "0x", "inf", a longer or larger number), which the general path handles.
bool ParseShortDecimal(const char* text, double& value) {
    static constexpr std::array<double, 20> kPowersOfTen{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                                         1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                                         1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const char* p = text;
    bool negative = *p == '-';
    p += negative ? 1 : 0;
    std::uint64_t digits = 0;
    int count = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++count) {
        digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
        if (count == 19) {
            return false;
        }
    }
    int decimals = 0;
    if (*p == '.') {
        ++p;
        for (; *p >= '0' && *p <= '9'; ++p, ++count, ++decimals) {
            digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
            if (count == 19) {
                return false;
            }
        }
    }
    // An exponent or hexadecimal mark would carry the number on.
    char next = static_cast<char>(*p | 0x20);
    if (count == 0 || next == 'e' || next == 'x' || digits > (std::uint64_t{1} << 53)) {
        return false;
    }
    double magnitude =
        static_cast<double>(digits) / kPowersOfTen[static_cast<std::size_t>(decimals)];
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

double ParseDouble(const char* text) {
    double shortDecimal = 0.0;
    if (ParseShortDecimal(text, shortDecimal)) {
        return shortDecimal;
    }
    // Plain decimal numbers take the fast, locale-free from_chars; it rounds
    // correctly, as strtod does, so both give the same double. Everything
    // else (hexadecimal, out of range, a sign strtod would refuse) goes to
    // strtod itself.
    const char* start = text;
    while (*start == ' ' || (*start >= '\t' && *start <= '\r')) {
        ++start;
    }
    const char* number = *start == '+' ? start + 1 : start;
    bool hexadecimal =
        (number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) ||
        (number[0] == '-' && number[1] == '0' && (number[2] == 'x' || number[2] == 'X'));
    if (!hexadecimal && !(start[0] == '+' && (number[0] == '-' || number[0] == '+'))) {
        double value = 0.0;
        auto [end, error] = std::from_chars(number, number + std::strlen(number), value);
        if (error == std::errc{}) {
            return value;
        }
    }
    return strtod_l(text, nullptr, CLocale());
}

float ParseFloat(const char* text) {
    double value = ParseDouble(text);
    // Beyond the float range the conversion saturates to an infinity, as the
    // hardware conversion would, without relying on an out-of-range cast.
    if (value > std::numeric_limits<float>::max()) {
        return std::numeric_limits<float>::infinity();
    }
    if (value < -std::numeric_limits<float>::max()) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

std::optional<std::int64_t> ParseInteger(const char* text, const char** end) {
    char* stop = nullptr;
    errno = 0;
    long long value = strtoll_l(text, &stop, 10, CLocale());
    if (stop == text) {
        return std::nullopt;
    }
    *end = stop;
    return static_cast<std::int64_t>(value);
}

namespace {

bool IsStreamSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

// Longer number texts keep only this many characters; a number that long is
// refused anyway (no float needs it), but it is still taken whole.
constexpr std::size_t kMaxNumberText = 128;

}  // namespace

int StreamScanner::Peek() {
    if (unread_ <= 0) {
        return EOF;
    }
    // Put back at once: the file stands after the characters taken, as a
    // stream's does after an extraction.
    int c = std::getc(file_);
    if (c != EOF) {
        std::ungetc(c, file_);
    }
    return c;
}

void StreamScanner::Take() {
    if (unread_ > 0 && std::getc(file_) != EOF) {
        --unread_;
    }
}

int StreamScanner::SkipSpace() {
    int c = Peek();
    while (c != EOF && IsStreamSpace(c)) {
        Take();
        c = Peek();
    }
    return c;
}

bool StreamScanner::SkipWord() {
    int c = SkipSpace();
    if (c == EOF) {
        return false;
    }
    while (c != EOF && !IsStreamSpace(c)) {
        Take();
        c = Peek();
    }
    return true;
}

StreamScanner::Result StreamScanner::ReadFloat(float& value) {
    int c = SkipSpace();
    if (c == EOF) {
        return Result::kEnd;
    }
    std::string text;
    bool tooLong = false;
    auto take = [&] {
        if (text.size() < kMaxNumberText) {
            text += static_cast<char>(c);
        } else {
            tooLong = true;
        }
        Take();
        c = Peek();
    };
    if (c == '+' || c == '-') {
        take();
    }
    bool mantissa = false;
    bool point = false;
    for (;;) {
        if (IsDigit(c)) {
            mantissa = true;
            take();
        } else if (c == '.' && !point) {
            point = true;
            take();
        } else {
            break;
        }
    }
    if (mantissa && (c == 'e' || c == 'E')) {
        take();
        if (c == '+' || c == '-') {
            take();
        }
        while (IsDigit(c)) {
            take();
        }
    }
    if (tooLong || text.empty()) {
        return Result::kUnreadable;
    }
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+') {
        ++first;  // from_chars takes no plus sign; a stream does
        if (first != last && *first == '-') {
            return Result::kUnreadable;
        }
    }
    float parsed = 0.0f;
    auto [end, error] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Too small for a normal float reads as the subnormal or zero it
        // rounds to; too large is out of range.
        double wide = 0.0;
        auto [wideEnd, wideError] = std::from_chars(first, last, wide, std::chars_format::general);
        if (wideError != std::errc() || wideEnd != last ||
            !(std::fabs(wide) < static_cast<double>(std::numeric_limits<float>::max()))) {
            return Result::kUnreadable;
        }
        value = static_cast<float>(wide);
        return Result::kValue;
    }
    if (error != std::errc() || end != last || !std::isfinite(parsed)) {
        return Result::kUnreadable;
    }
    value = parsed;
    return Result::kValue;
}

StreamScanner::Result StreamScanner::ReadInteger(std::int64_t& value) {
    int c = SkipSpace();
    if (c == EOF) {
        return Result::kEnd;
    }
    bool negative = c == '-';
    if (c == '+' || c == '-') {
        Take();
        c = Peek();
    }
    if (!IsDigit(c)) {
        return Result::kUnreadable;
    }
    std::uint64_t magnitude = 0;
    bool overflow = false;
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 63
                 : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    for (; IsDigit(c); Take(), c = Peek()) {
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            overflow = true;
        } else {
            magnitude = magnitude * 10 + digit;
        }
    }
    if (overflow) {
        return Result::kUnreadable;
    }
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return Result::kValue;
}

}  // namespace lumeno
