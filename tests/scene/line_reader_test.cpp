#include "scene/line_reader.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace lumeno
