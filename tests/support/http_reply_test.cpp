#include <gtest/gtest.h>

#include <string>

#include "support/http_reply.h"

namespace vexel {
namespace {

using State = HttpReply::State;

struct ReplyCase {
    const char* name;
    std::string bytes;
    bool close;  // the peer closes after the bytes
    State want;
    int status;
    std::string body;
};

TEST(HttpReply, StrictParsing) {
    const std::string big(HttpReply::kMaxReply, 'x');
    const ReplyCase cases[] = {
        {"length", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, State::kDone, 200, "abc"},
        {"no length ends at close", "HTTP/1.1 200 OK\r\n\r\n<ok/>", true, State::kDone, 200, "<ok/>"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n<ok\r\n8\r\n m=\"1\"/>\r\n0\r\n\r\n",
         false, State::kDone, 200, "<ok m=\"1\"/>"},
        {"redirect status", "HTTP/1.0 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", false, State::kDone, 302, ""},
        {"too large", "HTTP/1.0 200 OK\r\n\r\n" + big, true, State::kFailed, 0, ""},
        {"length too large", "HTTP/1.0 200 OK\r\nContent-Length: 100000000\r\n\r\n", false, State::kFailed, 0, ""},
        {"no blank line", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nabc", true, State::kFailed, 0, ""},
        {"letters for status", "HTTP/1.0 xyz OK\r\n\r\n", true, State::kFailed, 0, ""},
        {"four digits", "HTTP/1.0 2000 OK\r\n\r\n", true, State::kFailed, 0, ""},
        {"not http", "SSH-2.0-x\r\n\r\n", true, State::kFailed, 0, ""},
        {"short body at close", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'a'),
         true, State::kFailed, 0, ""},
        {"body beyond length", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nab", false, State::kFailed, 0, ""},
        {"signed length", "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", false, State::kFailed, 0, ""},
        {"chunked cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true, State::kFailed, 0, ""},
        {"chunk bad size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, State::kFailed, 0, ""},
        {"chunk huge size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n", false, State::kFailed, 0, ""},
        {"other encoding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, State::kFailed, 0, ""},
        {"folded header", "HTTP/1.0 200 OK\r\nA: b\r\n c\r\n\r\n", true, State::kFailed, 0, ""},
        {"silence", "", true, State::kFailed, 0, ""},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Byte by byte as well as whole must give the same end.
        for (int whole = 0; whole < 2; ++whole) {
            HttpReply r;
            if (whole) {
                r.Feed(c.bytes);
            } else {
                for (char b : c.bytes) r.Feed(std::string_view(&b, 1));
            }
            if (c.close) r.Close();
            EXPECT_EQ(r.state(), c.want);
            if (c.want == State::kDone) {
                EXPECT_EQ(r.status(), c.status);
                EXPECT_EQ(r.body(), c.body);
            }
        }
    }
}

TEST(HttpReply, HeadersByName) {
    HttpReply r;
    r.Feed("HTTP/1.0 302 Moved\r\nset-cookie: id=7; path=/\r\nLOCATION:  /next \r\n\r\n");
    ASSERT_EQ(r.Close(), State::kDone);
    EXPECT_EQ(r.Header("Location").value_or(""), "/next");
    EXPECT_EQ(r.Header("Set-Cookie").value_or(""), "id=7; path=/");
    EXPECT_FALSE(r.Header("Content-Length"));
}

}  // namespace
}  // namespace vexel
