// Status: how an operation outside a scene load says whether it worked. A
// failure carries one message for the user, naming the file and the reason
// ("./out/path_trace_16.pfm: No space left on device"). Scene loads report
// through Diagnostics instead, which keep file and line and never stop a load.
#pragma once

#include <string>
#include <utility>

namespace lumeno {

class [[nodiscard]] Status {
  public:
    static Status Ok() { return Status(); }
    static Status Error(std::string message) { return Status(std::move(message)); }

    bool IsOk() const { return ok_; }
    explicit operator bool() const { return ok_; }
    // Empty when the operation worked.
    const std::string& Message() const { return message_; }

  private:
    Status() = default;
    explicit Status(std::string message) : ok_(false), message_(std::move(message)) {}

    bool ok_ = true;
    std::string message_;
};

}  // namespace lumeno
