#include "scene/line_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumeno {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

}  // namespace

LineReader::LineReader() : buffer_(new char[kBufferSize]) {
    offsets_.reserve(kMaxStoredTokens + 1);
    lengths_.reserve(kMaxStoredTokens + 1);
}

LineReader::~LineReader() {
    Close();
}

void LineReader::Close() {
    file_.Close();
    unread_ = 0;
    position_ = 0;
    filled_ = 0;
    exhausted_ = true;
    lineNumber_ = 0;
    count_ = 0;
    storage_.clear();
    offsets_.clear();
    lengths_.clear();
    inPlace_ = false;
}

bool LineReader::Open(const std::string& path) {
    Close();
    if (!file_.Open(path)) {
        return false;
    }
    unread_ = file_.Size();
    exhausted_ = false;
    return true;
}

bool LineReader::Fill() {
    if (exhausted_ || file_.Stream() == nullptr || Cancelled()) {
        exhausted_ = true;
        return false;
    }
    std::size_t want = unread_ < static_cast<std::int64_t>(kBufferSize)
                           ? static_cast<std::size_t>(unread_)
                           : kBufferSize;
    filled_ = want == 0 ? 0 : std::fread(buffer_.get(), 1, want, file_.Stream());
    unread_ -= static_cast<std::int64_t>(filled_);
    position_ = 0;
    if (filled_ == 0) {
        // End of file or a read error: either way nothing more comes.
        exhausted_ = true;
        return false;
    }
    return true;
}

void LineReader::StartToken() {
    inToken_ = true;
    tokenSeen_ = 0;
    storing_ = offsets_.size() < static_cast<std::size_t>(kMaxStoredTokens) + 1;
    if (storing_) {
        offsets_.push_back(static_cast<std::uint32_t>(storage_.size()));
    }
}

void LineReader::AppendToToken(const char* text, std::size_t length) {
    if (storing_) {
        std::size_t stored = storage_.size() - offsets_.back();
        std::size_t room = kMaxTokenLength - stored;
        if (length > room) {
            tokenTruncated_ = true;
        }
        storage_.append(text, std::min(length, room));
    }
    tokenSeen_ += length;
}

void LineReader::DropToken() {
    if (inToken_ && storing_) {
        storage_.resize(offsets_.back());
        offsets_.pop_back();
    }
    inToken_ = false;
}

void LineReader::EndToken() {
    if (!inToken_) {
        return;
    }
    if (storing_) {
        lengths_.push_back(static_cast<std::uint32_t>(storage_.size() - offsets_.back()));
        storage_.push_back('\0');
    }
    inToken_ = false;
    ++count_;
}

void LineReader::EndLineAfterCarriageReturn() {
    // Text mode: a carriage return right before the line feed belongs to the
    // line end, not to the last token.
    if (!inToken_) {
        return;
    }
    --tokenSeen_;
    if (storing_ && storage_.size() - offsets_.back() > tokenSeen_) {
        storage_.pop_back();
    }
    if (tokenSeen_ == 0) {
        DropToken();
    }
}

std::string_view LineReader::ReadLine() {
    count_ = 0;
    tokenTruncated_ = false;
    inToken_ = false;
    storing_ = false;
    storage_.clear();
    offsets_.clear();
    lengths_.clear();
    inPlace_ = false;

    if (position_ == filled_ && !Fill()) {
        return kEndOfFile;
    }
    ++lineNumber_;

    // Nearly every line lies whole in the buffer: its tokens are then split
    // where they stand, with the same rules as the general path below.
    char* const line = buffer_.get() + position_;
    if (void* lineFeed = std::memchr(line, '\n', filled_ - position_); lineFeed != nullptr) {
        auto* end = static_cast<char*>(lineFeed);
        position_ = static_cast<std::size_t>(end - buffer_.get()) + 1;
        SplitInPlace(line, end);
        return Token(0);
    }

    enum : unsigned char { kText, kBlank, kLineFeed, kHash };
    static constexpr auto kClass = [] {
        std::array<unsigned char, 256> table{};
        table[' '] = kBlank;
        table['\t'] = kBlank;
        table['\n'] = kLineFeed;
        table['#'] = kHash;
        return table;
    }();

    bool comment = false;
    bool lastWasCarriageReturn = false;
    for (;;) {
        if (position_ == filled_ && !Fill()) {
            break;  // the last line has no line feed
        }
        const char* const begin = buffer_.get();
        const char* p = begin + position_;
        const char* const end = begin + filled_;
        if (comment) {
            const void* lineFeed = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (lineFeed == nullptr) {
                position_ = filled_;
                continue;
            }
            position_ = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - begin) + 1;
            return Token(0);
        }
        while (p < end) {
            unsigned char kind = kClass[static_cast<unsigned char>(*p)];
            if (kind == kText) {
                const char* run = p;
                while (p < end && kClass[static_cast<unsigned char>(*p)] == kText) {
                    ++p;
                }
                if (!inToken_) {
                    StartToken();
                }
                AppendToToken(run, static_cast<std::size_t>(p - run));
                lastWasCarriageReturn = p[-1] == '\r';
                continue;
            }
            ++p;
            if (kind == kBlank) {
                EndToken();
            } else if (kind == kLineFeed) {
                if (lastWasCarriageReturn) {
                    EndLineAfterCarriageReturn();
                }
                EndToken();
                position_ = static_cast<std::size_t>(p - begin);
                return Token(0);
            } else {  // '#': a token touching it is dropped with it
                DropToken();
                comment = true;
                break;
            }
            lastWasCarriageReturn = false;
        }
        position_ = static_cast<std::size_t>(p - begin);
    }
    EndToken();
    return Token(0);
}

// The line [line, lineFeed), which the buffer holds whole: a token touching
// a '#' goes with the comment, a carriage return right before the line feed
// belongs to the line end, and the rest splits at blanks and tabs. Each
// stored token is ended with a NUL written over the character after it
// (a blank, the '#', the carriage return or the line feed), all of which
// this line has used up. A token here is shorter than the buffer, so never
// cut.
void LineReader::SplitInPlace(char* line, char* lineFeed) {
    inPlace_ = true;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    char* stop = lineFeed;
    if (void* hash = std::memchr(line, '#', static_cast<std::size_t>(lineFeed - line));
        hash != nullptr) {
        stop = static_cast<char*>(hash);
        while (stop > line && !isBlank(stop[-1])) {
            --stop;
        }
    } else if (stop > line && stop[-1] == '\r') {
        --stop;
    }
    char* p = line;
    for (;;) {
        while (p < stop && isBlank(*p)) {
            ++p;
        }
        if (p == stop) {
            return;
        }
        char* const start = p;
        while (p < stop && !isBlank(*p)) {
            ++p;
        }
        if (offsets_.size() < static_cast<std::size_t>(kMaxStoredTokens) + 1) {
            offsets_.push_back(static_cast<std::uint32_t>(start - buffer_.get()));
            lengths_.push_back(static_cast<std::uint32_t>(p - start));
            *p = '\0';
        }
        ++count_;
        if (p < stop) {
            ++p;  // past the blank just overwritten
        }
    }
}

std::string_view LineReader::Token(int i) const {
    if (i < 0 || i >= static_cast<int>(lengths_.size())) {
        return {};
    }
    auto index = static_cast<std::size_t>(i);
    const char* base = inPlace_ ? buffer_.get() : storage_.data();
    return {base + offsets_[index], lengths_[index]};
}

const char* LineReader::Arg(int i) const {
    if (i < 1 || i >= static_cast<int>(lengths_.size())) {
        return "";
    }
    const char* base = inPlace_ ? buffer_.get() : storage_.data();
    return base + offsets_[static_cast<std::size_t>(i)];
}

}  // namespace lumeno
