// The thumbnail box as a list: visible range and scroll bar against heights added by hand,
// a press that survives rows inserted above it, the drag distance, drops outside the list
// and the keyboard. Rows come from study model keys; no files are needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <functional>

#include "app/dicom_thumb_box.h"
#include "app/thumb_drag_preview.h"

namespace vexel {
namespace {

// The box's origin on the screen, so that global points differ from local ones.
const QPoint kScreen(1000, 500);

struct Call {
    SeriesId series;
    std::optional<QPoint> drop;
};

struct BoxRig {
    BoxRig() {
        box.resize(CListBoxBase::kWidth, 400);
        box.show();  // a hidden widget gets its resize events only when shown
        box.SetClickHandler([this](SeriesId s, std::optional<QPoint> p) { calls.push_back({s, p}); });
    }
    // One file of a new series (or of the patient's and study's existing ones).
    SeriesId Add(const std::string& patient, const std::string& study, int32_t number) {
        StudyFileKeys keys;
        keys.patientName = patient;
        keys.studyInstanceUid = study;
        keys.seriesNumber = number;
        keys.seriesInstanceUid = study + "." + std::to_string(number);
        keys.modality = "CT";
        keys.file.sopInstanceUid = keys.seriesInstanceUid + ".1";
        keys.file.path = "/nowhere/" + keys.file.sopInstanceUid;
        const AddFileResult result = model.AddFile(keys);
        box.Apply(result);
        return result.series;
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(at), QPointF(at + kScreen), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&box, &event);
    }
    QPoint CentreOf(int row) const { return box.RowRect(row).center(); }

    StudyModel model;
    CDicomThumbBox box{model};
    std::vector<Call> calls;
};

// Patient (53), study (53) and six series (120 each) in a list 400 pixels high.
TEST(ListBox, VisibleRangeAndScrollBarFollowTheRowHeights) {
    BoxRig r;
    for (int number = 1; number <= 6; ++number)
        r.Add("B", "1.2.1", number);
    struct Step {
        const char* what;
        std::function<void()> act;
        int first, last;
        bool cut;
        int barPosition;
    };
    const Step steps[] = {
        // 53 + 53 + 120 + 120 = 346 fit, the fifth row ends at 466.
        {"top", [] {}, 0, 4, true, 0},
        // From the end 120 x 3 = 360 fit: the first row is at most 8 - 3 = 5, flush at the bottom.
        {"past the end", [&] { r.box.ScrollBy(100); }, 5, 7, false, 5},
        {"one up", [&] { r.box.ScrollBy(-1); }, 4, 7, true, 4},
        // The cut last row becomes the first, and the list moves back flush with the bottom.
        {"cut row into view", [&] { r.box.ScrollToRow(7); }, 5, 7, false, 5},
        {"row above into view", [&] { r.box.ScrollToRow(1); }, 1, 4, true, 1},
    };
    for (const Step& step : steps) {
        step.act();
        SCOPED_TRACE(step.what);
        EXPECT_EQ(r.box.FirstVisible(), step.first);
        EXPECT_EQ(r.box.LastVisible(), step.last);
        EXPECT_EQ(r.box.LastRowCut(), step.cut);
        EXPECT_TRUE(r.box.ScrollBarShown());
        EXPECT_EQ(r.box.ScrollBar().Maximum(), 5);
        EXPECT_EQ(r.box.ScrollBar().Position(), step.barPosition);
        EXPECT_EQ(r.box.ClientWidth(), CListBoxBase::kWidth - CMyScrollBar::kWidth);
    }
    r.box.resize(CListBoxBase::kWidth, 826);  // every row fits
    EXPECT_FALSE(r.box.ScrollBarShown());
    EXPECT_EQ(r.box.FirstVisible(), 0);
    EXPECT_EQ(r.box.ClientWidth(), CListBoxBase::kWidth);
}

// A scan inserts rows above while the button is down: the release still clicks the row
// that was pressed, and hover and mark stay on their rows.
TEST(ListBox, RowsInsertedAboveKeepPressHoverAndMarkOnTheirRows) {
    BoxRig r;
    for (int number = 1; number <= 6; ++number)
        r.Add("B", "1.2.1", number);
    r.box.ScrollBy(100);
    const QPoint pressAt = r.CentreOf(6);
    const QPoint hoverAt = r.CentreOf(7);
    const SeriesId pressed = r.box.SeriesAt(6);
    const SeriesId hovered = r.box.SeriesAt(7);
    r.box.MarkSeries(r.box.SeriesAt(5));
    const SeriesId marked = r.box.MarkedSeries();

    r.Mouse(QEvent::MouseMove, hoverAt, Qt::NoButton);
    const QString tooltip = r.box.CurrentTooltip();
    r.Add("A", "1.2.2", 1);  // patient, study and series rows at the top
    EXPECT_EQ(r.box.SeriesAt(r.box.Hovered()), hovered);
    EXPECT_EQ(r.box.CurrentTooltip(), tooltip);
    EXPECT_EQ(r.box.MarkedSeries(), marked);

    r.Mouse(QEvent::MouseButtonPress, pressAt, Qt::LeftButton);
    r.Add("A", "1.2.2", 2);
    r.Add("A", "1.2.3", 1);
    EXPECT_EQ(r.box.SeriesAt(r.box.PressedIndex()), pressed);
    r.Mouse(QEvent::MouseButtonRelease, pressAt, Qt::NoButton);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].series, pressed);
    EXPECT_FALSE(r.calls[0].drop);
}

TEST(ListBox, MovesUnder21PixelsClickAndFurtherOnesDrag) {
    struct Case {
        QPoint move;
        bool clicks;
    };
    const Case cases[] = {{{20, 0}, true},   {{0, 20}, true},  {{-20, -20}, true},
                          {{21, 0}, false},  {{0, 21}, false}, {{0, -21}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.move.x() << "," << c.move.y());
        BoxRig r;
        const SeriesId first = r.Add("B", "1.2.1", 1);
        r.Add("B", "1.2.1", 2);
        const QPoint at(40, r.CentreOf(2).y());
        r.Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
        r.Mouse(QEvent::MouseMove, at + c.move, Qt::LeftButton);
        EXPECT_EQ(r.box.Dragging(), !c.clicks);
        EXPECT_EQ(r.box.DragPreview().isVisible(), !c.clicks);
        r.Mouse(QEvent::MouseButtonRelease, at + c.move, Qt::NoButton);
        EXPECT_FALSE(r.box.DragPreview().isVisible());
        // A drag released over the list itself does nothing.
        ASSERT_EQ(r.calls.size(), c.clicks ? 1u : 0u);
        if (c.clicks) {
            EXPECT_EQ(r.calls[0].series, first);
        }
    }
}

TEST(ListBox, DropOutsideCallsTheHandlerWithTheCursorPoint) {
    BoxRig r;
    r.Add("B", "1.2.1", 1);
    const SeriesId second = r.Add("B", "1.2.1", 2);
    // The preview of a series without a thumbnail yet is the empty frame.
    const QPoint from = r.CentreOf(3);
    r.Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    r.Mouse(QEvent::MouseMove, from + QPoint(30, 0), Qt::LeftButton);
    EXPECT_EQ(r.box.DragPreview().Image().size(), QSize(92, 92));
    EXPECT_EQ(r.box.DragPreview().pos(), from + QPoint(30, 0) + kScreen + QPoint(1, 1));
    const QPoint outside(400, 37);
    r.Mouse(QEvent::MouseMove, outside, Qt::LeftButton);
    r.Mouse(QEvent::MouseButtonRelease, outside, Qt::NoButton);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].series, second);
    EXPECT_EQ(r.calls[0].drop, std::optional<QPoint>(outside + kScreen));
}

TEST(ListBox, KeyboardMovesTheMarkOverSeriesRowsAndOpensThem) {
    BoxRig r;
    const SeriesId a1 = r.Add("A", "1.2.1", 1);
    const SeriesId a2 = r.Add("A", "1.2.1", 2);
    const SeriesId b1 = r.Add("B", "1.2.2", 1);
    struct Step {
        int key;
        SeriesId marked;
    };
    // Right without a mark takes the first series; headers are skipped; at the ends nothing
    // happens.
    const Step steps[] = {{Qt::Key_Right, a1}, {Qt::Key_Right, a2}, {Qt::Key_Right, b1},
                          {Qt::Key_Right, 0},  {Qt::Key_Home, a1},  {Qt::Key_Left, 0},
                          {Qt::Key_End, b1},   {Qt::Key_Left, a2}};
    for (const Step& step : steps) {
        r.calls.clear();
        EXPECT_TRUE(r.box.HandleKey(step.key));
        if (step.marked == 0) {
            EXPECT_TRUE(r.calls.empty());
            continue;
        }
        EXPECT_EQ(r.box.MarkedSeries(), step.marked);
        ASSERT_EQ(r.calls.size(), 1u);
        EXPECT_EQ(r.calls[0].series, step.marked);
    }
}

}  // namespace
}  // namespace vexel
