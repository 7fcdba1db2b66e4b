// The toolbar's icons: every button's id has an icon that parses and draws something on a
// transparent ground at the sizes the toolbar uses.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QSvgRenderer>
#include <algorithm>
#include <string>
#include <vector>

#include "app/toolbar_icons.h"

namespace vexel {
namespace {

// The toolbar's buttons, written out here rather than taken from ToolbarIconIds().
const std::vector<std::string> kButtons = {
    "scan-folder", "cd-dvd", "export",      "split-screen", "annotations",      "browse-series",
    "window-level", "pan",   "zoom",        "measurements", "rotate",           "cine",
    "mpr",          "fusion", "about",      "full-screen",  "exit-full-screen", "minimize",
    "close",
};

struct Coverage {
    int transparent = 0;
    int drawn = 0;
};

Coverage CoverageOf(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Coverage coverage;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            coverage.transparent += alpha == 0;
            coverage.drawn += alpha > 128;
        }
    }
    return coverage;
}

class ToolbarIconTest : public testing::TestWithParam<std::string> {};

TEST_P(ToolbarIconTest, ParsesAndDrawsOnATransparentGround) {
    const std::string& id = GetParam();
    QSvgRenderer renderer(QString::fromStdString(":/icons/toolbar/" + id + ".svg"));
    ASSERT_TRUE(renderer.isValid()) << id;
    EXPECT_EQ(renderer.viewBox(), QRect(0, 0, 24, 24)) << id;

    const QIcon icon = ToolbarIcon(id);
    ASSERT_FALSE(icon.isNull()) << id;
    for (int size : {16, 24, 32}) {
        const QPixmap pixmap = icon.pixmap(size, size);
        ASSERT_FALSE(pixmap.isNull()) << id << " at " << size;
        EXPECT_EQ(pixmap.size(), QSize(size, size)) << id;
        const Coverage coverage = CoverageOf(pixmap);
        EXPECT_GT(coverage.drawn, 0) << id << " draws nothing at " << size;
        EXPECT_GT(coverage.transparent, size * size / 4) << id << " fills its ground at " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Buttons, ToolbarIconTest, testing::ValuesIn(kButtons),
                         [](const testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(ToolbarIconsTest, ListsEveryButtonAndNothingElse) {
    std::vector<std::string> listed;
    for (std::string_view id : ToolbarIconIds()) listed.emplace_back(id);
    EXPECT_EQ(listed, kButtons);
    for (const char* unknown : {"", "Pan", "pan.svg", "../vexel", "toolbar/pan"}) {
        EXPECT_TRUE(ToolbarIcon(unknown).isNull()) << unknown;
    }
}

TEST(ToolbarIconsTest, ApplicationIconParses) {
    QSvgRenderer renderer(QStringLiteral(":/icons/vexel.svg"));
    EXPECT_TRUE(renderer.isValid());
}

}  // namespace
}  // namespace vexel
