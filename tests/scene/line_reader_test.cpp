#include "scene/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace lumeno {
namespace {

using testing::TempDir;

// Every line of the file as its list of tokens (keyword first).
std::vector<std::vector<std::string>> ReadAll(const std::string& content) {
    TempDir dir;
    LineReader reader;
    EXPECT_TRUE(reader.Open(dir.Write("f.txt", content)));
    std::vector<std::vector<std::string>> lines;
    for (std::string_view keyword = reader.ReadLine(); keyword != LineReader::kEndOfFile;
         keyword = reader.ReadLine()) {
        std::vector<std::string> tokens;
        if (!keyword.empty()) {
            tokens.emplace_back(keyword);
        }
        for (int i = 1; i < reader.Count(); ++i) {
            tokens.emplace_back(reader.ArgView(i));
        }
        EXPECT_EQ(static_cast<int>(tokens.size()), reader.Count());
        lines.push_back(tokens);
    }
    return lines;
}

using Lines = std::vector<std::vector<std::string>>;

TEST(LineReader, SplitsAtBlanksAndTabs) {
    EXPECT_EQ(ReadAll("pos 1\t2   3\n"), (Lines{{"pos", "1", "2", "3"}}));
}

TEST(LineReader, HashEndsTheLineAndDropsATokenTouchingIt) {
    EXPECT_EQ(ReadAll("pos 1 2 3# comment\n"), (Lines{{"pos", "1", "2"}}));
    EXPECT_EQ(ReadAll("pos 1 2 3 # comment\n"), (Lines{{"pos", "1", "2", "3"}}));
    EXPECT_EQ(ReadAll("# only a comment\n"), (Lines{{}}));
    EXPECT_EQ(ReadAll("v#1 2 3\n"), (Lines{{}}));
}

TEST(LineReader, EmptyLinesHaveAnEmptyKeyword) {
    EXPECT_EQ(ReadAll("\n\n  \t\nx\n"), (Lines{{}, {}, {}, {"x"}}));
}

TEST(LineReader, CrLfIsOneLineEndButALoneCarriageReturnIsText) {
    EXPECT_EQ(ReadAll("a 1\r\nb 2\r\n"), (Lines{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(ReadAll("a 1\rb\n"), (Lines{{"a", "1\rb"}}));
}

TEST(LineReader, LastLineWithoutNewlineIsRead) {
    EXPECT_EQ(ReadAll("a\nb 1"), (Lines{{"a"}, {"b", "1"}}));
}

TEST(LineReader, ReturnsEofAtTheEndAndForAMissingFile) {
    TempDir dir;
    LineReader reader;
    ASSERT_TRUE(reader.Open(dir.Write("f.txt", "x\n")));
    EXPECT_EQ(reader.ReadLine(), "x");
    EXPECT_EQ(reader.ReadLine(), "EOF");
    EXPECT_EQ(reader.ReadLine(), "EOF");
    EXPECT_FALSE(reader.Open(dir.Path("missing.txt")));
    EXPECT_EQ(reader.ReadLine(), "EOF");
    EXPECT_FALSE(reader.Open(dir.Root()));  // a directory is no file
    EXPECT_EQ(reader.ReadLine(), "EOF");
}

TEST(LineReader, LinesLongerThan1023CharactersAreReadWhole) {
    std::string longComment = "# " + std::string(5000, 'c') + "\n";
    std::string longArgument(3000, '7');
    Lines lines = ReadAll(longComment + "v " + longArgument + " 2\nf 1\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], (std::vector<std::string>{"v", longArgument, "2"}));
    EXPECT_EQ(lines[2], (std::vector<std::string>{"f", "1"}));
}

TEST(LineReader, ManyTokensAreCountedButOnlyTheFirstAreKept) {
    TempDir dir;
    std::string line = "f";
    for (int i = 0; i < 10000; ++i) {
        line += ' ';
        line += std::to_string(i + 1);
    }
    LineReader reader;
    ASSERT_TRUE(reader.Open(dir.Write("f.txt", line + "\nnext\n")));
    EXPECT_EQ(reader.ReadLine(), "f");
    EXPECT_EQ(reader.Count(), 10001);
    EXPECT_STREQ(reader.Arg(1), "1");
    EXPECT_STREQ(reader.Arg(LineReader::kMaxStoredTokens), "64");
    EXPECT_STREQ(reader.Arg(LineReader::kMaxStoredTokens + 1), "");
    EXPECT_STREQ(reader.Arg(0), "");
    EXPECT_EQ(reader.ReadLine(), "next");
    EXPECT_EQ(reader.LineNumber(), 2);
}

TEST(LineReader, OverlongTokensAreCutAndFlagged) {
    TempDir dir;
    LineReader reader;
    std::string token(LineReader::kMaxTokenLength + 10, 'a');
    ASSERT_TRUE(reader.Open(dir.Write("f.txt", "k " + token + " z\n")));
    EXPECT_EQ(reader.ReadLine(), "k");
    EXPECT_TRUE(reader.TokenTruncated());
    EXPECT_EQ(reader.ArgView(1).size(), LineReader::kMaxTokenLength);
    EXPECT_STREQ(reader.Arg(2), "z");
}

TEST(LineReader, MissingArgumentsReadAsEmptyText) {
    TempDir dir;
    LineReader reader;
    ASSERT_TRUE(reader.Open(dir.Write("f.txt", "pos 1\n")));
    reader.ReadLine();
    EXPECT_STREQ(reader.Arg(2), "");
    EXPECT_STREQ(reader.Arg(1000), "");
    EXPECT_STREQ(reader.Arg(-1), "");
    // A line once closed or replaced by another file is gone.
    ASSERT_TRUE(reader.Open(dir.Write("g.txt", "other 2\n")));
    EXPECT_EQ(reader.ArgView(1), "");
    EXPECT_STREQ(reader.Arg(1), "");
}

// The reader's rules, stated plainly: lines end at '\n'; a '#' ends the line
// and takes the token touching it along; otherwise a '\r' right before a
// line feed belongs to the line end; tokens are split at blanks and tabs and
// cut at kMaxTokenLength. Random files of a few buffers' worth, with lines
// short and long (some far longer than the buffer) and every character the
// rules treat specially, must read exactly so.
TEST(LineReader, ReadsRandomFilesByItsRules) {
    std::mt19937 random(7);
    const std::string alphabet("aa1.  \t\r\0#", 11);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 4; ++round) {
        std::string content;
        while (content.size() < 300000) {
            std::size_t length =
                pick(1000) == 0 ? 70000 + pick(70000) : pick(pick(8) == 0 ? 3000 : 60);
            // Lines of few tokens and lines of many; half of them without a
            // '#' or a NUL, and long ones mostly without '#', so that many
            // lines reach their end.
            std::size_t rarity = std::array<std::size_t, 4>{1, 10, 100, 20000}[pick(4)];
            std::size_t letters = alphabet.size() - (pick(2) == 0 ? 0 : 2);
            for (std::size_t i = 0; i < length; ++i) {
                char c = pick(rarity) == 0 ? alphabet[pick(letters)] : 'a';
                content += c == '#' && pick(length) > 8 ? 'a' : c;
            }
            content += pick(4) == 0 ? "\r\n" : "\n";
        }
        if (round % 2 == 1) {
            content.pop_back();  // a last line without a line feed
        }

        struct Line {
            std::vector<std::string> tokens;
            bool truncated = false;
        };
        std::vector<Line> expected;
        for (std::size_t start = 0; start < content.size();) {
            std::size_t end = std::min(content.find('\n', start), content.size());
            std::string text = content.substr(start, end - start);
            const bool lineFeed = end < content.size();
            start = end + 1;
            if (std::size_t hash = text.find('#'); hash != std::string::npos) {
                text.resize(hash);
                std::size_t blank = text.find_last_of(" \t");
                text.resize(blank == std::string::npos ? 0 : blank + 1);
            } else if (lineFeed && !text.empty() && text.back() == '\r') {
                text.pop_back();
            }
            Line line;
            for (std::size_t at = 0; at < text.size();) {
                std::size_t tokenEnd = std::min(text.find_first_of(" \t", at), text.size());
                if (tokenEnd > at) {
                    std::string token = text.substr(at, tokenEnd - at);
                    if (line.tokens.size() <= LineReader::kMaxStoredTokens &&
                        token.size() > LineReader::kMaxTokenLength) {
                        token.resize(LineReader::kMaxTokenLength);
                        line.truncated = true;
                    }
                    line.tokens.push_back(token);
                }
                at = tokenEnd + 1;
            }
            expected.push_back(line);
        }

        TempDir dir;
        LineReader reader;
        ASSERT_TRUE(reader.Open(dir.Write("random.txt", content)));
        for (std::size_t n = 0; n < expected.size(); ++n) {
            const Line& line = expected[n];
            std::string_view keyword = reader.ReadLine();
            ASSERT_EQ(keyword, line.tokens.empty() ? "" : line.tokens[0]) << "line " << n + 1;
            ASSERT_EQ(reader.Count(), static_cast<int>(line.tokens.size())) << "line " << n + 1;
            ASSERT_EQ(reader.TokenTruncated(), line.truncated) << "line " << n + 1;
            for (int i = 1; i < reader.Count(); ++i) {
                std::string_view want =
                    i <= LineReader::kMaxStoredTokens
                        ? std::string_view(line.tokens[static_cast<std::size_t>(i)])
                        : std::string_view();
                ASSERT_EQ(reader.ArgView(i), want) << "line " << n + 1 << ", token " << i;
                ASSERT_EQ(std::string_view(reader.Arg(i)), want.substr(0, want.find('\0')));
            }
        }
        EXPECT_EQ(reader.ReadLine(), LineReader::kEndOfFile);
    }
}

}  // namespace
}  // namespace lumeno
