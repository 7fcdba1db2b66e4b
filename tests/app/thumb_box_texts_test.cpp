// Row texts of the thumbnail box: trimmed names, DICOM dates and times in a fixed locale,
// the study header's series count and the tooltip's lines.
#include <gtest/gtest.h>

#include "app/thumb_box_texts.h"

namespace vexel {
namespace {

TEST(ThumbBoxTexts, NamesLoseTrailingCaretsAndSpacesAndShowCaretsAsSpaces) {
    const std::pair<std::string, QString> cases[] = {
        {"Doe^Jane", "Doe Jane"}, {"Doe^Jane^^ ", "Doe Jane"}, {"Doe^^Jane", "Doe  Jane"},
        {"^^", "unnamed"},        {"", "unnamed"},             {"CT Chest  ", "CT Chest"},
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(TrimmedOrUnnamed(raw), shown) << raw;
}

TEST(ThumbBoxTexts, DatesAndTimesInTheLocalesShortFormats) {
    const QLocale german(QLocale::German, QLocale::Germany);  // dd.MM.yy and HH:mm
    struct Case {
        std::string date, time;
        QString shown;
    };
    // A leap second; a value that is no date is shown as stored.
    const Case cases[] = {{"20240131", "090512.123", "31.01.24 09:05"},
                          {"2024.01.31", "09:05:12", "31.01.24 09:05"},
                          {"20240131", "", "31.01.24"},  {"", "0905", "09:05"},
                          {"", "23", "23:00"},           {"20240131 ", "235960", "31.01.24 23:59"},
                          {"20241331", "", "20241331"},  {"", "", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatDicomDateTime(c.date, c.time, german), c.shown) << c.date << " " << c.time;
}

TEST(ThumbBoxTexts, StudyLineAndTooltip) {
    EXPECT_EQ(StudySeriesLine("CT", 3), "CT: 3 series");
    EXPECT_EQ(SeriesTooltip("Doe Jane", "", "Head", "31.01.24 09:05"),
              "Doe Jane\nHead\n31.01.24 09:05\n"
              "Hold down Ctrl key and click image to open series in new panel.");
}

}  // namespace
}  // namespace vexel
