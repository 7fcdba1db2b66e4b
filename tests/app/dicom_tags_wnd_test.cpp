// The DICOM tags window: its rows are exactly what `vexel dump` prints for the same file, over
// the shared corpus; windows open side by side, close for good, and answer the keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "app/dicom_tags_wnd.h"
#include "app/tag_table_model.h"
#include "common/byte_builder.h"
#include "common/flat_json.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"

namespace vexel {
namespace {

// `vexel dump` of the files in one process: each file's lines by its path.
std::map<std::string, std::vector<std::string>> DumpLines(const std::vector<std::string>& paths) {
    std::string command = test::Vexel() + " dump";
    for (const std::string& path : paths) command += " " + test::Quote(path);
    std::stringstream out(test::RunCommand(command + " 2>/dev/null"));
    std::map<std::string, std::vector<std::string>> dumps;
    std::vector<std::string>* lines = nullptr;
    for (std::string line; std::getline(out, line);) {
        if (line.starts_with("# ")) lines = &dumps[line.substr(2)];
        else if (lines != nullptr) lines->push_back(line);
    }
    return dumps;
}

// A window row as dump prints it: tag, VR, length, name, value, count.
std::string AsDumpLine(const CTagTableModel& model, int row) {
    std::string line;
    for (const int column : {0, 1, 3, 4, 5, 2})
        line += (column ? "\t" : "") + model.index(row, column).data().toString().toStdString();
    return line;
}

TEST(DicomTagsWnd, RowsAreWhatVexelDumpPrints) {
    VEXEL_REQUIRE_TESTDATA();
    std::vector<std::string> paths;  // the oracle manifest's files, at most 200, evenly spread
    std::ifstream manifest(test::TestDataDir() / "oracle" / "manifest.jsonl");
    for (std::string line; std::getline(manifest, line);) {
        std::map<std::string, std::string> fields;
        if (test::ReadFlatJson(line, fields) && fields.contains("/path"))
            paths.push_back((test::TestDataDir() / fields["/path"]).string());
    }
    const size_t stride = paths.size() / 200 + 1;
    for (size_t i = 0; i * stride < paths.size(); ++i) paths[i] = paths[i * stride];
    paths.resize((paths.size() + stride - 1) / stride);
    const auto dumps = DumpLines(paths);
    size_t compared = 0;
    for (const std::string& path : paths) {
        CDicomFile file;
        file.SetDeferredValues(true);
        const auto dump = dumps.find(path);
        if (ReadDicomFile(file, path) != ReadStatus::Ok) {
            EXPECT_EQ(dump, dumps.end()) << path << ": listed by dump, unreadable here";
            continue;
        }
        ASSERT_NE(dump, dumps.end()) << path << ": readable, left out by dump";
        const std::unique_ptr<CDicomTagsWnd> window(CDicomTagsWnd::Open(file, nullptr));
        ASSERT_EQ(size_t(window->Model().rowCount()), dump->second.size()) << path;
        for (int row = 0; row < window->Model().rowCount(); ++row)
            ASSERT_EQ(AsDumpLine(window->Model(), row), dump->second[size_t(row)]) << path;
        ++compared;
    }
    EXPECT_GT(compared, 100u);
}

class DicomTagsWndTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.dcm", "b.dcm"}) {
            test::ByteBuilder bytes;
            bytes.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0008, 0x0060, "CS", "CT")
                .ExplicitHeader(0x0008, 0x1140, "SQ", 0xFFFFFFFF)
                .Item(18).Explicit(0x0010, 0x0010, "PN", "Inner^Name").SequenceEnd()
                .Explicit(0x0010, 0x0010, "PN", "Outer^Name");
            m_paths.push_back((test::ScratchDir(std::string("tags-wnd-") + name) / name).string());
            ASSERT_TRUE(bytes.WriteTo(m_paths.back()));
        }
        m_over.resize(1000, 700);
        m_over.show();
    }
    void TearDown() override { CDicomTagsWnd::CloseAll(); }

    CDicomTagsWnd* Open(size_t which) {
        CDicomFile file;
        EXPECT_EQ(ReadDicomFile(file, m_paths[which]), ReadStatus::Ok);
        return CDicomTagsWnd::Open(file, &m_over);
    }

    std::vector<std::string> m_paths;
    QWidget m_over;
};

// Esc, the close button and the title bar each destroy the window and take it off the list.
TEST_F(DicomTagsWndTest, WindowsOpenSideBySideAndCloseForGood) {
    const std::function<void(CDicomTagsWnd*)> closers[] = {
        [](CDicomTagsWnd* w) { QTest::keyClick(w, Qt::Key_Escape); },
        [](CDicomTagsWnd* w) { QTest::mouseClick(&w->CloseButton(), Qt::LeftButton); },
        [](CDicomTagsWnd* w) { w->close(); },
    };
    for (const auto& close : closers) {
        const size_t before = CDicomTagsWnd::OpenCount();
        QPointer<CDicomTagsWnd> a = Open(0), b = Open(1);
        EXPECT_EQ(a->windowTitle().toStdString(), "DICOM Tags (" + m_paths[0] + ")");
        EXPECT_EQ(b->windowTitle().toStdString(), "DICOM Tags (" + m_paths[1] + ")");
        EXPECT_EQ(CDicomTagsWnd::OpenCount(), before + 2);
        close(a);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(a.isNull() && !b.isNull() && b->isVisible());
        EXPECT_EQ(CDicomTagsWnd::OpenCount(), before + 1);
    }
    CDicomTagsWnd::CloseAll();
    EXPECT_EQ(CDicomTagsWnd::OpenCount(), 0u);
}

// Ctrl+F, typing, Enter, F3 and Shift+F3 round the matches, Ctrl+C on the list.
TEST_F(DicomTagsWndTest, SearchStepsAndCopiesFromTheKeyboard) {
    CDicomTagsWnd* window = Open(0);
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTableView& list = window->List();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(window->SearchField().hasFocus());
    QTest::keyClicks(&window->SearchField(), "00100010");
    EXPECT_EQ(window->Model().rowCount(), 4);  // both names, the sequence and item holding one
    const std::pair<std::function<void()>, int> steps[] = {
        {[&] { QTest::keyClick(&window->SearchField(), Qt::Key_Return); }, 2},  // inner name
        {[&] { QTest::keyClick(window, Qt::Key_F3); }, 3},
        {[&] { QTest::keyClick(window, Qt::Key_F3); }, 2},
        {[&] { QTest::keyClick(window, Qt::Key_F3, Qt::ShiftModifier); }, 3}};
    for (const auto& [step, row] : steps) {
        step();
        EXPECT_EQ(list.currentIndex().row(), row);
    }
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "(0010,0010)\tPN\t1\t10\tPatient's Name\tOuter^Name\n");
    window->SearchField().clear();  // every row again, the outer name still current
    EXPECT_EQ(size_t(window->Model().rowCount()), window->Model().Rows().size());
    EXPECT_EQ(list.currentIndex().siblingAtColumn(5).data().toString(), "Outer^Name");
}

}  // namespace
}  // namespace vexel
