// A strict, bounded reader of HTTP/1.x replies, fed with the bytes as they arrive. It knows
// nothing of sockets, so the tests and the fuzzer drive it directly.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vexel {

class HttpReply {
public:
    // Whole replies (headers and body) above this are refused: an update answer is tiny.
    static constexpr size_t kMaxReply = 64 * 1024;

    enum class State { kNeedMore, kDone, kFailed };

    // Adds bytes received; returns kDone as soon as the body is complete.
    State Feed(std::string_view bytes);
    // The peer closed (orderly): a body without a length ends here; any other unfinished
    // reply is a failure.
    State Close();

    State state() const { return state_; }
    int status() const { return status_; }
    const std::string& body() const { return body_; }
    // Header values by case-insensitive name; the first occurrence.
    std::optional<std::string> Header(std::string_view name) const;

private:
    State Fail();
    State Parse();
    bool ParseHead(std::string_view head);
    State ParseChunked();

    State state_ = State::kNeedMore;
    std::string raw_;
    size_t bodyStart_ = 0;  // 0 until the blank line is seen
    int status_ = 0;
    bool chunked_ = false;
    std::optional<size_t> contentLength_;
    std::string headers_;  // "name: value\r\n" lines after the status line
    std::string body_;
};

}  // namespace vexel
