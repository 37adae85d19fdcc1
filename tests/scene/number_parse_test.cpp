// Reading numbers as a stream extracts them: the longest text that can
// belong to a number is taken, and the character after it is left for the
// next read.
#include "scene/number_parse.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace lumeno {
namespace {

using Result = StreamScanner::Result;

struct Scanned {
    Result result;
    float value;
    std::string rest;  // what the next word read finds
};

// Reads one float from text, then the rest of that word.
Scanned ScanFloat(const std::string& text, std::int64_t limit = 1 << 20) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        fmemopen(const_cast<char*>(text.data()), text.size(), "r"), std::fclose);
    StreamScanner in(file.get(), limit);
    Scanned scanned{Result::kEnd, -99.0f, {}};
    scanned.result = in.ReadFloat(scanned.value);
    // The word that follows, read by hand: whatever the scanner left unread.
    for (int c = std::fgetc(file.get()); c != EOF && c != ' '; c = std::fgetc(file.get())) {
        scanned.rest += static_cast<char>(c);
    }
    return scanned;
}

TEST(StreamScanner, TakesTheLongestNumberTextAndLeavesTheRest) {
    struct Case {
        const char* text;
        Result result;
        float value;
    };
    const Case cases[] = {
        {"1.5", Result::kValue, 1.5f},        {"  \n\t-2.25e1", Result::kValue, -22.5f},
        {"+.5", Result::kValue, 0.5f},        {"7.", Result::kValue, 7.0f},
        {"1e-40", Result::kValue, 1e-40f},    {"", Result::kEnd, -99.0f},
        {" \n ", Result::kEnd, -99.0f},       {"-", Result::kUnreadable, -99.0f},
        {".", Result::kUnreadable, -99.0f},   {"1e+", Result::kUnreadable, -99.0f},
        {"+-1", Result::kUnreadable, -99.0f}, {"inf", Result::kUnreadable, -99.0f},
        {"nan", Result::kUnreadable, -99.0f}, {"1e39", Result::kUnreadable, -99.0f},
        {",5", Result::kUnreadable, -99.0f},
    };
    for (const Case& c : cases) {
        Scanned scanned = ScanFloat(c.text);
        EXPECT_EQ(scanned.result, c.result) << c.text;
        EXPECT_EQ(scanned.value, c.value) << c.text;
    }
    // The first character that cannot belong to the number stays unread.
    EXPECT_EQ(ScanFloat("1.5,2").rest, ",2");
    EXPECT_EQ(ScanFloat("0x10").rest, "x10");
    EXPECT_EQ(ScanFloat("3-4").rest, "-4");
    EXPECT_EQ(ScanFloat("1.2.3").rest, ".3");
    EXPECT_EQ(ScanFloat("2ex").rest, "x");  // "2e" was taken: no number
    EXPECT_EQ(ScanFloat("2ex").result, Result::kUnreadable);
}

TEST(StreamScanner, ReadsNoFurtherThanItsLimit) {
    EXPECT_EQ(ScanFloat("12345", 3).value, 123.0f);
    EXPECT_EQ(ScanFloat("   7", 3).result, Result::kEnd);
}

TEST(StreamScanner, IntegersStopAtAnythingButDigitsAndRefuseOverflow) {
    std::string text = "42 -7 3.5 9223372036854775807 -9223372036854775808 9223372036854775808 x";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fmemopen(text.data(), text.size(), "r"),
                                                         std::fclose);
    StreamScanner in(file.get(), 1 << 20);
    std::int64_t value = 0;
    ASSERT_EQ(in.ReadInteger(value), Result::kValue);
    EXPECT_EQ(value, 42);
    ASSERT_EQ(in.ReadInteger(value), Result::kValue);
    EXPECT_EQ(value, -7);
    ASSERT_EQ(in.ReadInteger(value), Result::kValue);
    EXPECT_EQ(value, 3);
    float fraction = 0.0f;
    ASSERT_EQ(in.ReadFloat(fraction), Result::kValue);
    EXPECT_EQ(fraction, 0.5f);
    ASSERT_EQ(in.ReadInteger(value), Result::kValue);
    EXPECT_EQ(value, INT64_MAX);
    ASSERT_EQ(in.ReadInteger(value), Result::kValue);
    EXPECT_EQ(value, INT64_MIN);
    EXPECT_EQ(in.ReadInteger(value), Result::kUnreadable);
    EXPECT_EQ(in.ReadInteger(value), Result::kUnreadable);  // "x"
    EXPECT_TRUE(in.SkipWord());                             // still "x": nothing taken
    EXPECT_FALSE(in.SkipWord());
}

// Short decimals take a shortcut past the general conversion; they must read
// as the C library's conversion reads them, to the bit, whatever follows them.
TEST(ParseDouble, ReadsDecimalsAsStrtodInTheCLocaleDoes) {
    locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::mt19937 random(11);
    const char* const tails[] = {"", "", "", "/2", "#", "e", "E-3", "x1", ".5", "\r", "abc"};
    for (int round = 0; round < 200000; ++round) {
        std::string text = random() % 2 == 0 ? "-" : "";
        auto digits = static_cast<int>(random() % 22);
        auto point = static_cast<int>(random() % static_cast<unsigned>(digits + 2)) - 1;
        for (int i = 0; i < digits; ++i) {
            if (i == point) {
                text += '.';
            }
            // Near-zero and all-nine runs probe the digit and range limits.
            text += static_cast<char>('0' + (random() % 4 == 0 ? 9 : random() % 10));
        }
        if (point == digits) {
            text += '.';
        }
        text += tails[random() % std::size(tails)];
        double expected = strtod_l(text.c_str(), nullptr, c);
        double parsed = ParseDouble(text.c_str());
        ASSERT_EQ(std::memcmp(&parsed, &expected, sizeof parsed), 0) << text;
        ASSERT_EQ(ParseFloat(text.c_str()), static_cast<float>(expected)) << text;
    }
    freelocale(c);
}

}  // namespace
}  // namespace lumeno
