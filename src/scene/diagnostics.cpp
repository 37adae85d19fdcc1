#include "scene/diagnostics.h"

namespace lumeno {

std::string FormatDiagnostic(const Diagnostic& diagnostic) {
    std::string text = diagnostic.file;
    if (diagnostic.line > 0) {
        text += ':' + std::to_string(diagnostic.line);
    }
    text += ": ";
    text += diagnostic.message;
    return text;
}

void Diagnostics::Add(std::string file, int line, std::string message) {
    if (entries_.size() >= kMaxEntries) {
        ++dropped_;
        return;
    }
    entries_.push_back({std::move(file), line, std::move(message)});
}

void Diagnostics::Clear() {
    entries_.clear();
    dropped_ = 0;
}

}  // namespace lumeno
