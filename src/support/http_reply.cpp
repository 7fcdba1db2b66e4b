#include "support/http_reply.h"

#include <algorithm>
#include <cctype>

namespace vexel {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The next CRLF-ended line of rest, taken off it.
std::string_view NextLine(std::string_view& rest) {
    const size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
    return line;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Plain decimal digits only, bounded so no overflow is possible.
std::optional<size_t> Decimal(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    size_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<size_t>(c - '0');
    }
    return value;
}

std::optional<size_t> Hex(std::string_view s) {
    if (s.empty() || s.size() > 7) return std::nullopt;
    size_t value = 0;
    for (char c : s) {
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<size_t>(d);
    }
    return value;
}

}  // namespace

HttpReply::State HttpReply::Fail() {
    state_ = State::kFailed;
    body_.clear();
    raw_.clear();
    return state_;
}

HttpReply::State HttpReply::Feed(std::string_view bytes) {
    // Bytes after a complete reply break its stated length.
    if (state_ == State::kDone && !bytes.empty()) return Fail();
    if (state_ != State::kNeedMore) return state_;
    if (bytes.size() > kMaxReply - raw_.size()) return Fail();
    raw_.append(bytes);
    return Parse();
}

HttpReply::State HttpReply::Close() {
    if (state_ != State::kNeedMore) return state_;
    // Only a reply that states no length may end with the connection.
    if (bodyStart_ == 0 || chunked_ || contentLength_) return Fail();
    body_.assign(raw_, bodyStart_);
    state_ = State::kDone;
    return state_;
}

std::optional<std::string> HttpReply::Header(std::string_view name) const {
    for (std::string_view rest = headers_; !rest.empty();) {
        const std::string_view line = NextLine(rest);
        size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualNoCase(Trim(line.substr(0, colon)), name))
            return std::string(Trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

bool HttpReply::ParseHead(std::string_view head) {
    size_t lineEnd = head.find("\r\n");
    std::string_view statusLine = head.substr(0, lineEnd);
    // "HTTP/1.x NNN reason": exactly three digits, then the end or a space.
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." ||
        !std::isdigit(static_cast<unsigned char>(statusLine[7])) || statusLine[8] != ' ')
        return false;
    std::string_view code = statusLine.substr(9, 3);
    if (!std::all_of(code.begin(), code.end(),
                     [](char c) { return c >= '0' && c <= '9'; }) ||
        (statusLine.size() > 12 && statusLine[12] != ' '))
        return false;
    status_ = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    headers_ = lineEnd == std::string_view::npos ? std::string()
                                                  : std::string(head.substr(lineEnd + 2));
    for (char c : headers_)
        if (c == '\0') return false;
    // Every header line needs a name and a colon; folded lines are refused.
    for (std::string_view rest = headers_; !rest.empty();) {
        const std::string_view line = NextLine(rest);
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos || line[0] == ' ' || line[0] == '\t')
            return false;
    }
    if (auto encoding = Header("Transfer-Encoding")) {
        if (!EqualNoCase(*encoding, "chunked")) return false;
        chunked_ = true;
    }
    if (auto length = Header("Content-Length")) {
        contentLength_ = Decimal(*length);
        if (!contentLength_ || chunked_) return false;
    }
    return true;
}

HttpReply::State HttpReply::ParseChunked() {
    std::string_view rest = std::string_view(raw_).substr(bodyStart_);
    std::string body;
    for (;;) {
        size_t lineEnd = rest.find("\r\n");
        if (lineEnd == std::string_view::npos) return State::kNeedMore;
        std::string_view sizeText = rest.substr(0, lineEnd);
        sizeText = sizeText.substr(0, sizeText.find(';'));  // chunk extensions are ignored
        auto size = Hex(Trim(sizeText));
        if (!size) return Fail();
        rest.remove_prefix(lineEnd + 2);
        if (*size == 0) {
            // Trailers are not expected: the last chunk is followed by the blank line.
            if (rest.size() < 2) return State::kNeedMore;
            if (rest.substr(0, 2) != "\r\n") return Fail();
            body_ = std::move(body);
            raw_.clear();
            state_ = State::kDone;
            return state_;
        }
        if (rest.size() < *size + 2) return State::kNeedMore;
        if (rest.substr(*size, 2) != "\r\n") return Fail();
        body.append(rest.substr(0, *size));
        rest.remove_prefix(*size + 2);
    }
}

HttpReply::State HttpReply::Parse() {
    if (bodyStart_ == 0) {
        size_t end = raw_.find("\r\n\r\n");
        if (end == std::string::npos) {
            // A status line that is already wrong need not wait for more.
            std::string_view prefix = std::string_view(raw_).substr(0, 7);
            if (prefix != std::string_view("HTTP/1.").substr(0, prefix.size())) return Fail();
            return State::kNeedMore;
        }
        if (!ParseHead(std::string_view(raw_).substr(0, end))) return Fail();
        bodyStart_ = end + 4;
    }
    if (chunked_) return ParseChunked();
    if (contentLength_) {
        if (*contentLength_ > kMaxReply - bodyStart_) return Fail();
        size_t have = raw_.size() - bodyStart_;
        if (have > *contentLength_) return Fail();
        if (have < *contentLength_) return State::kNeedMore;
        body_.assign(raw_, bodyStart_);
        raw_.clear();
        state_ = State::kDone;
    }
    return state_;
}

}  // namespace vexel
