#include "scene/number_parse.h"

#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lumeno {
namespace {

locale_t CLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

double ParseDouble(const char* text) {
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

}  // namespace lumeno
