#include <gtest/gtest.h>

#include <string>

#include "support/update_check.h"

namespace vexel {
namespace {

const FourPartVersion kCurrent{1, 2, 0, 100};

TEST(UpdateCheck, QueryValuesAreEncoded) {
    EXPECT_EQ(PercentEncode("d e&x"), "d%20e%26x");
    EXPECT_EQ(PercentEncode("\r\n=?#%"), "%0D%0A%3D%3F%23%25");
    EXPECT_EQ(AppendQuery("/a", "k", "v"), "/a?k=v");
    EXPECT_EQ(AppendQuery("/a?x=1", "k", "v"), "/a?x=1&k=v");

    UpdateQuery q{false, "1.2.0.100", "d e&x", {1, 3, 0, 0}, "abc"};
    EXPECT_EQ(UpdateQueryPath(q),
              std::string("/u.php?b=0&p=") + kUpdatePlatform + "&v=1.2.0.100&l=d%20e%26x&iv=1.3.0.0&c=abc");
    q.manual = true;
    q.checkId = "bad id";
    EXPECT_EQ(UpdateQueryPath(q),
              std::string("/u.php?b=0&p=") + kUpdatePlatform + "&v=1.2.0.100&l=d%20e%26x&m=1");
}

TEST(UpdateCheck, CheckIds) {
    const struct {
        std::string id;
        bool valid;
    } cases[] = {{"a", true},           {std::string(64, 'z'), true}, {"A-b_c.9", true},
                 {"", false},           {std::string(65, 'z'), false}, {"a b", false},
                 {"a\r", false},        {"a\n", false},               {"a/b", false}};
    for (const auto& c : cases) EXPECT_EQ(IsValidCheckId(c.id), c.valid) << c.id;
    auto answer = ParseUpdateReply("<ok c=\"" + std::string(65, 'z') + "\"/>", false, kCurrent);
    EXPECT_EQ(answer.kind, UpdateAnswer::Kind::kOk);
    EXPECT_FALSE(answer.checkId);
    EXPECT_EQ(ParseUpdateReply("<ok c=\"id-1\"/>", false, kCurrent).checkId.value_or(""), "id-1");
}

TEST(UpdateCheck, Replies) {
    using Kind = UpdateAnswer::Kind;
    const struct {
        const char* body;
        bool manual;
        Kind kind;
        bool notice;
        int width;
        bool offerIgnore;
    } cases[] = {
        {"<ok m=\"1\"/>", true, Kind::kOk, true, 0, false},
        {"<ok m=\"1\"/>", false, Kind::kOk, false, 0, false},
        {"<u v=\"1.2\"/>", true, Kind::kNothing, false, 0, false},
        {"<u v=\"1.2.0.100\"/>", true, Kind::kNothing, false, 0, false},
        {"<u v=\"1.2.0.101\" w=\"-5\"/>", false, Kind::kOffer, false, 200, true},
        {"<u v=\"2\" w=\"99999\" ic=\"1\"/>", false, Kind::kOffer, false, 1600, false},
        {"<u v=\"2\" ic=\"0\"/>", true, Kind::kOffer, false, 500, false},
        {"<u v=\"2.x\"/>", false, Kind::kNothing, false, 0, false},
        {"<u v=\"1.2.3.4.5\"/>", false, Kind::kNothing, false, 0, false},
        {"<u v=\"99999999999\"/>", false, Kind::kNothing, false, 0, false},
        {"<u v=\"2\"", false, Kind::kNothing, false, 0, false},
        {"not xml", true, Kind::kNothing, false, 0, false},
        {"<other/>", true, Kind::kNothing, false, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        UpdateAnswer a = ParseUpdateReply(c.body, c.manual, kCurrent);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.noUpdatesNotice, c.notice);
        if (c.kind == Kind::kOffer) {
            EXPECT_EQ(a.offer.width, c.width);
            EXPECT_EQ(a.offer.offerIgnore, c.offerIgnore);
        }
    }
}

TEST(UpdateCheck, PageOnlyOnTheUpdateHost) {
    const std::string tail = std::string("p=") + kUpdatePlatform + "&v=1.2";
    const std::string fallback = "http://up.example:8080/update.php?" + tail;
    const struct {
        const char* offered;
        std::string want;
    } cases[] = {
        {"file:///etc/passwd", fallback},
        {"http://evil.example/x", fallback},
        {"javascript:alert(1)", fallback},
        {"", fallback},
        {"http://up.example.evil.example/", fallback},
        {"http://evilup.example/", fallback},
        {"http://user@up.example/", fallback},
        {"http://up.example/a b", fallback},
        {"https://UP.example/new?x=1", "https://UP.example/new?x=1&" + tail},
        {"http://www.up.example/n", "http://www.up.example/n?" + tail},
        {"hTtp://www.up.example?/x#f", "http://www.up.example?/x&" + tail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpdatePageUrl(c.offered, "up.example:8080", "1.2"), c.want) << c.offered;
}

TEST(UpdateCheck, UtcDates) {
    EXPECT_EQ(UtcDate(0), (CheckDate{1970, 1, 1}));
    EXPECT_EQ(UtcDate(86399), UtcDate(0));
    EXPECT_NE(UtcDate(86400), UtcDate(0));
}

}  // namespace
}  // namespace vexel
