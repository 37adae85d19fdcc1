#include "scene/line_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <emmintrin.h>

namespace lumeno {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// The in-place split reads the line 16 bytes at a time, up to 15 bytes past
// its line feed; the buffer has that much room after its end.
constexpr std::size_t kChunk = 16;

}  // namespace

LineReader::LineReader() : buffer_(new char[kBufferSize + kChunk - 1]()) {}

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
    started_ = 0;
    stored_ = 0;
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
    storing_ = started_ < kMaxStoredTokens + 1;
    if (storing_) {
        offsets_[static_cast<std::size_t>(started_++)] =
            static_cast<std::uint32_t>(storage_.size());
    }
}

void LineReader::AppendToToken(const char* text, std::size_t length) {
    if (storing_) {
        std::size_t stored = storage_.size() - OpenTokenOffset();
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
        storage_.resize(OpenTokenOffset());
        --started_;
    }
    inToken_ = false;
}

void LineReader::EndToken() {
    if (!inToken_) {
        return;
    }
    if (storing_) {
        lengths_[static_cast<std::size_t>(stored_++)] =
            static_cast<std::uint32_t>(storage_.size() - OpenTokenOffset());
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
    if (storing_ && storage_.size() - OpenTokenOffset() > tokenSeen_) {
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
    started_ = 0;
    stored_ = 0;
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
    // Sixteen characters at a time: a mask of the blanks among them (all
    // from the stop on count as blanks), whose changes from one character to
    // the next are the starts and ends of tokens. Counted in locals, which
    // the NULs written cannot alias.
    const char* const base = buffer_.get();
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    int count = 0;
    int stored = 0;
    unsigned previousBlank = 1;  // before the line
    char* start = line;
    const auto endToken = [&](char* end) {
        if (stored < kMaxStoredTokens + 1) {
            offsets_[static_cast<std::size_t>(stored)] = static_cast<std::uint32_t>(start - base);
            lengths_[static_cast<std::size_t>(stored)] = static_cast<std::uint32_t>(end - start);
            ++stored;
            *end = '\0';
        }
        ++count;
    };
    for (char* chunk = line; chunk < stop; chunk += kChunk) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
        auto blanks = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, tab))));
        if (auto left = static_cast<std::size_t>(stop - chunk); left < kChunk) {
            blanks |= 0xFFFFu << left;
        }
        unsigned changes = (blanks ^ (blanks << 1 | previousBlank)) & 0xFFFFu;
        previousBlank = blanks >> (kChunk - 1) & 1u;
        for (; changes != 0; changes &= changes - 1) {
            char* at = chunk + __builtin_ctz(changes);
            if (blanks >> __builtin_ctz(changes) & 1u) {
                endToken(at);
            } else {
                start = at;
            }
        }
    }
    if (previousBlank == 0) {
        endToken(stop);  // the last token runs up to a stop on a chunk's end
    }
    count_ = count;
    started_ = stored;
    stored_ = stored;
}

}  // namespace lumeno
