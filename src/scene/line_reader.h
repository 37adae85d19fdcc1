// LineReader: the one tokenizer of the scene, OBJ and MTL readers. It reads a
// text file line by line, splits each line at blanks and tabs, and lets a "#"
// end the line (a token touching the "#" is dropped with it). At the end of
// the file it returns the keyword "EOF".
//
// Lines of any length are read whole. Memory stays bounded all the same: only
// the first kMaxStoredTokens tokens of a line are kept (later ones are still
// counted), and a token longer than kMaxTokenLength keeps only its start.
// Only regular files are read, and no further than the size they had when
// opened (see RegularFile).
//
// A load can be called off: the reader looks at its cancel flag once per
// buffer of 64 KiB (a few thousand lines) and, once it is set, reads as if
// the file had ended, so every reader above it winds up quickly.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "base/file_io.h"

namespace lumeno {

class LineReader {
  public:
    static constexpr int kMaxStoredTokens = 64;
    static constexpr std::size_t kMaxTokenLength = 65536;
    static constexpr std::string_view kEndOfFile = "EOF";

    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens a file for reading, replacing the previous one. False when it
    // cannot be opened or is not a regular file (OpenFailure() says why);
    // reading then returns "EOF".
    bool Open(const std::string& path);
    void Close();
    const std::string& OpenFailure() const { return file_.Why(); }

    // The flag that calls reading off (null: none). It must outlive the
    // reading; setting it is safe from any thread or a signal handler.
    void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    bool Cancelled() const {
        return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed);
    }

    // Reads the next line and returns its keyword: the first token, empty
    // text for a blank or comment-only line, "EOF" once the file is exhausted
    // (or cannot be read further).
    std::string_view ReadLine();

    // Tokens on the current line, keyword included.
    int Count() const { return count_; }
    // Argument i (1-based), NUL-terminated; "" when the line has no such
    // argument (or it lies beyond the stored ones).
    const char* Arg(int i) const {
        return i >= 1 && IsStored(i) ? Base() + offsets_[static_cast<std::size_t>(i)] : "";
    }
    std::string_view ArgView(int i) const { return Token(i); }
    // 1-based number of the current line.
    int LineNumber() const { return lineNumber_; }
    // The current line had a token cut at kMaxTokenLength.
    bool TokenTruncated() const { return tokenTruncated_; }

  private:
    bool Fill();
    void StartToken();
    void AppendToToken(const char* text, std::size_t length);
    void DropToken();
    void EndToken();
    void EndLineAfterCarriageReturn();
    void SplitInPlace(char* line, char* lineFeed);
    std::uint32_t OpenTokenOffset() const {
        return offsets_[static_cast<std::size_t>(started_ - 1)];
    }
    // Token i is stored (the bound on kMaxStoredTokens is implied by stored_,
    // but spelling it out keeps the compiler from doubting the indexing).
    bool IsStored(int i) const { return i >= 0 && i < stored_ && i <= kMaxStoredTokens; }
    const char* Base() const { return inPlace_ ? buffer_.get() : storage_.data(); }
    std::string_view Token(int i) const {
        if (!IsStored(i)) {
            return {};
        }
        auto index = static_cast<std::size_t>(i);
        return {Base() + offsets_[index], lengths_[index]};
    }

    RegularFile file_;
    std::int64_t unread_ = 0;  // bytes of the file's size not read yet
    const std::atomic<bool>* cancel_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    bool exhausted_ = true;

    int count_ = 0;
    int lineNumber_ = 0;
    bool tokenTruncated_ = false;
    bool inToken_ = false;
    bool storing_ = false;
    std::size_t tokenSeen_ = 0;  // characters of the current token, stored or not
    std::string storage_;        // stored tokens, each followed by a NUL
    // Start of each stored token, in storage_ or buffer_, and its length.
    // started_ counts the tokens begun, stored_ those ended (one less while
    // a token is open).
    std::array<std::uint32_t, kMaxStoredTokens + 1> offsets_{};
    std::array<std::uint32_t, kMaxStoredTokens + 1> lengths_{};
    int started_ = 0;
    int stored_ = 0;
    // The line's tokens were split where they lie in the buffer (a line that
    // the buffer holds whole) rather than copied into storage_.
    bool inPlace_ = false;
};

}  // namespace lumeno
