// The update server's XML reply and the page address it offers, on arbitrary bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "support/update_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    for (bool manual : {false, true}) {
        vexel::UpdateAnswer a = vexel::ParseUpdateReply(body, manual, {1, 0, 0, 0});
        if (a.checkId && !vexel::IsValidCheckId(*a.checkId)) __builtin_trap();
        if (a.kind == vexel::UpdateAnswer::Kind::kOffer) {
            if (a.offer.width < 200 || a.offer.height < 150) __builtin_trap();
            std::string url = vexel::UpdatePageUrl(a.offer.url, "up.example", "1.0");
            if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) __builtin_trap();
        }
    }
    (void)vexel::UpdatePageUrl(body, "up.example", "1.0");
    return 0;
}
