// HTTP replies on arbitrary bytes, fed whole and in pieces split by the first byte, as a
// socket might deliver them.
#include <cstdint>
#include <string_view>

#include "support/http_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t step = data[0] % 16 + 1;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    vexel::HttpReply whole;
    whole.Feed(bytes);
    whole.Close();
    vexel::HttpReply pieces;
    for (size_t at = 0; at < bytes.size(); at += step) pieces.Feed(bytes.substr(at, step));
    pieces.Close();
    (void)pieces.Header("Location");
    if (whole.state() == vexel::HttpReply::State::kDone &&
        pieces.state() == vexel::HttpReply::State::kDone &&
        (whole.body() != pieces.body() || whole.status() != pieces.status()))
        __builtin_trap();
    if (whole.body().size() > vexel::HttpReply::kMaxReply) __builtin_trap();
    return 0;
}
