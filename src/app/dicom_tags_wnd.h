// The DICOM tags window: every element of one file as a table (tag, VR, VM, length, name,
// value), with a search field that narrows the rows to the matches and the sequences and
// items that hold them. Each command opens a window of its own, a snapshot of the file at
// that moment; closing one destroys it. The process keeps a list of the open ones so that
// shutdown can close them all.
#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/tag_list.h"
#include "dicom/tag_list_search.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace vexel {

class CDicomFile;
class CTagTableModel;

class CDicomTagsWnd final : public QDialog {
    Q_OBJECT

public:
    // Lists the file's elements in a new window, centred over `over` (may be null), shown
    // and in front. The window owns its rows and never touches the file again.
    static CDicomTagsWnd* Open(CDicomFile& file, QWidget* over);
    // Windows open now (closed ones are gone).
    static size_t OpenCount();
    // Destroys every open window; for shutdown.
    static void CloseAll();

    CDicomTagsWnd(const std::string& path, std::vector<TagListRow> rows, QWidget* parent);
    ~CDicomTagsWnd() override;

    QTableView& List() const { return *m_list; }
    QLineEdit& SearchField() const { return *m_search; }
    QPushButton& CloseButton() const { return *m_close; }
    CTagTableModel& Model() const { return *m_model; }

    // Shows the rows that match the text, with the rows holding them; all rows when empty.
    void Search(const QString& text);
    // Selects the next (previous) match after the current row, wrapping round.
    void StepMatch(bool forward);
    // The selected rows, one line each, their six texts separated by tabs.
    QString SelectedRowsText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

private:
    void SelectListRow(uint32_t listRow);
    std::optional<uint32_t> CurrentListRow() const;

    CTagTableModel* m_model = nullptr;
    QTableView* m_list = nullptr;
    QLineEdit* m_search = nullptr;
    QPushButton* m_close = nullptr;
    std::optional<CTagListSearch> m_searchIndex;  // made at the first search
    std::vector<uint32_t> m_matches;              // list rows, in order
};

}  // namespace vexel
