// The column that lists everything opened: a header row per patient, a header row per study
// under it and a row per series with the thumbnail of its first image, its description and
// its image count. Rows go where the study model's order puts them while a scan runs. A
// click on a series row, or a drag of it released outside the list, goes to the click
// handler with the series.
#pragma once

#include <QPoint>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "app/list_box_base.h"
#include "app/thumb_entry.h"
#include "app/thumb_row_painter.h"
#include "engine/study_model.h"

namespace vexel {

class CDicomFile;
class CDicomImage;
class CThumbDragPreview;

class CDicomThumbBox final : public CListBoxBase {
    Q_OBJECT

public:
    // A click calls it without a point; a drag released outside the list with the cursor's
    // global position (a drop).
    using ClickHandler = std::function<void(SeriesId series, std::optional<QPoint> dropGlobalPos)>;

    static constexpr int kWheelNotch = 120;
    // Growing series redraw the list at most this often.
    static constexpr std::chrono::milliseconds kGrowthRedrawInterval{1000};

    // The model outlives the box; its owner files the files and clears it.
    explicit CDicomThumbBox(StudyModel& model, QWidget* parent = nullptr);
    ~CDicomThumbBox() override;

    void SetClickHandler(ClickHandler handler) { m_onClick = std::move(handler); }

    // Files a loaded file (or its keys, read on another thread) into the model and applies
    // the result.
    AddFileResult AddFile(CDicomFile& file);
    AddFileResult AddFile(StudyFileKeys keys);
    // Applies one result of the model's AddFile, in revision order. True when a series row
    // was inserted.
    bool Apply(const AddFileResult& result);

    // Draws the series' thumbnail from its first image; false when the series has no row
    // or the image cannot be drawn.
    bool SetThumbnail(SeriesId series, CDicomImage& image);
    // A thumbnail drawn elsewhere (RenderThumbnail on a worker).
    bool SetThumbnail(SeriesId series, Thumbnail thumbnail);

    // Marks the series shown in the active panel and scrolls its row into view; 0 (or a
    // series without a row) clears the mark.
    void MarkSeries(SeriesId series);
    // Removes every row and thumbnail.
    void Clear();

    // Keyboard: the mark moves to the next (+1) or previous (-1) series, the first or the
    // last, and that row is then pressed, clicked and released. Without a mark, MoveSelection
    // takes the first series.
    void MoveSelection(int direction);
    void SelectFirst();
    void SelectLast();
    // Home, End, Left and Right as above; false for other keys.
    bool HandleKey(int qtKey);

    // Rows, for the main window and the tests.
    const ThumbEntry& Entry(int row) const { return *m_entries[size_t(row)]; }
    // The row of a series, or -1.
    int RowOf(SeriesId series) const;
    // The series of a row; 0 for headers and rows out of range.
    SeriesId SeriesAt(int row) const;
    SeriesId MarkedSeries() const { return SeriesAt(Marked()); }
    const CThumbDragPreview& DragPreview() const { return *m_preview; }

protected:
    void DrawRow(QPainter& painter, int index, const ListItem& item, const QRect& rect,
                 bool marked) override;
    void Pressed(int index) override;
    void Released(int index) override;
    void Clicked(int index) override;
    void DragStarted(int index, QPoint globalPos) override;
    void DragEnded() override;
    void Dragged(int index, QPoint globalPos) override;
    void DroppedOutside(int index, QPoint globalPos) override;
    QString TooltipText(int index) override;

    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Counting rows of `kind` from `from` up to the next header above that kind (or the
    // end): the row of the ordinal-th, or where it would be inserted.
    int FindOrdinal(int from, ThumbRowKind kind, uint32_t ordinal) const;
    void InsertEntry(int row, std::unique_ptr<ThumbEntry> entry);
    // Texts of a patient's and a study's headers and a new series row, from the model.
    void FillTexts(SeriesId series, int patientRow, int studyRow, int seriesRow);
    void SeriesGrew(SeriesId series);
    void Select(int row);

    StudyModel& m_model;
    std::vector<std::unique_ptr<ThumbEntry>> m_entries;  // parallel to the base's rows
    std::unordered_map<SeriesId, ThumbEntry*> m_bySeries;
    ClickHandler m_onClick;
    CThumbRowPainter m_painter;
    CThumbDragPreview* m_preview = nullptr;  // child window
    int m_wheelRemainder = 0;
    std::chrono::steady_clock::time_point m_lastGrowthRedraw{};
    QTimer m_growthRedraw;
};

}  // namespace vexel
