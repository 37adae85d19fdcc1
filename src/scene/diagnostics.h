// Load diagnostics: what the readers ignored or refused, and why, with the
// file and line it concerns. A diagnostic never stops a load; the command-line
// renderer prints the list and the window shows it.
#pragma once

#include <string>
#include <vector>

namespace lumeno {

struct Diagnostic {
    std::string file;
    int line = 0;  // 1-based; 0 when it concerns the whole file
    std::string message;
};

// "file:line: message", or "file: message" without a line.
std::string FormatDiagnostic(const Diagnostic& diagnostic);

class Diagnostics {
  public:
    // Keeps the list itself bounded: a hostile file of millions of bad lines
    // reports the first ones and a count of the rest.
    static constexpr std::size_t kMaxEntries = 1000;

    void Add(std::string file, int line, std::string message);

    const std::vector<Diagnostic>& Entries() const { return entries_; }
    std::size_t Dropped() const { return dropped_; }
    bool Empty() const { return entries_.empty(); }
    void Clear();

  private:
    std::vector<Diagnostic> entries_;
    std::size_t dropped_ = 0;
};

}  // namespace lumeno
