// The DICOM tags window on a file of about 20,000 rows (an RT structure set: 1,818 contour
// items of 11 rows each), parsed with deferred values as the viewer parses it, once, before the
// clock: first rows (listing, model, the 40 visible rows' texts), the window opened and drawn,
// every cell's text against `dcmdump FILE >/dev/null` and `vexel dump FILE >/dev/null` (process
// start included), and a search keystroke in the window (the search index already made).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/dicom_tags_wnd.h"
#include "app/tag_table_model.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "dicom/tag_list_search.h"
#include "phantom/dicom_file_writer.h"
#include "qt_bench_main.h"

namespace vexel {
namespace {

constexpr int kContours = 1818;  // 11 rows each with the delimiters the reader adds
constexpr int kVisibleRows = 40;

std::string ContourData(int i) {
    std::string text;
    for (int point = 0; point < 24; ++point)
        text += (point ? "\\" : "") + std::to_string(i % 97) + "." + std::to_string(point);
    return text;
}

// Written once into the bench data folder and reused.
const std::string& StructureSetPath() {
    static const std::string path = [] {
        const auto file = std::filesystem::path(VEXEL_BENCH_DATA_DIR) / "tags-20k.dcm";
        if (std::filesystem::exists(file)) return file.string();
        std::filesystem::create_directories(file.parent_path());
        phantom::CDataSetWriter set;
        set.AddString(0x00080016, "UI", "1.2.840.10008.5.1.4.1.1.481.3");
        set.AddString(0x00080018, "UI", "2.25.4242");
        set.AddString(0x00100010, "PN", "Contour^Bench");
        set.BeginSequence(0x30060039);
        for (int i = 0; i < kContours; ++i) {
            set.BeginItem();
            set.AddString(0x3006002A, "IS", "255\\0\\0");
            set.BeginSequence(0x30060040);
            set.BeginItem();
            set.AddString(0x30060042, "CS", "CLOSED_PLANAR");
            set.AddString(0x30060046, "IS", "24");
            set.AddString(0x30060050, "DS", ContourData(i));
            set.EndItem();
            set.EndSequence();
            set.AddString(0x30060084, "IS", std::to_string(i + 1));
            set.EndItem();
        }
        set.EndSequence();
        std::string error;
        const phantom::FileMeta meta{"1.2.840.10008.5.1.4.1.1.481.3", "2.25.4242", ""};
        if (!phantom::WriteDicomFile(file, meta, set, &error))
            std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(), error.c_str());
        return file.string();
    }();
    return path;
}

// The parsed file, as the viewer holds it.
CDicomFile* ParsedFile() {
    static CDicomFile* file = [] {
        auto* parsed = new CDicomFile;
        parsed->SetDeferredValues(true);
        return ReadDicomFile(*parsed, StructureSetPath()) == ReadStatus::Ok ? parsed : nullptr;
    }();
    return file;
}

size_t Cells(const CTagTableModel& model, int rows) {
    size_t characters = 0;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < CTagTableModel::kColumnCount; ++column)
            characters += size_t(model.index(row, column).data().toString().size());
    return characters;
}

void BM_FirstRows(benchmark::State& state) {
    if (ParsedFile() == nullptr) return state.SkipWithError("no structure set");
    for (auto _ : state) {
        CTagTableModel model(BuildTagList(*ParsedFile()));
        benchmark::DoNotOptimize(Cells(model, kVisibleRows));
    }
    state.counters["rows"] = double(BuildTagList(*ParsedFile()).size());
}
BENCHMARK(BM_FirstRows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenAndDrawWindow(benchmark::State& state) {
    if (ParsedFile() == nullptr) return state.SkipWithError("no structure set");
    for (auto _ : state) {
        std::unique_ptr<CDicomTagsWnd> window(CDicomTagsWnd::Open(*ParsedFile(), nullptr));
        benchmark::DoNotOptimize(window->grab().toImage().constBits());
    }
}
BENCHMARK(BM_OpenAndDrawWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullFill(benchmark::State& state) {
    if (ParsedFile() == nullptr) return state.SkipWithError("no structure set");
    for (auto _ : state) {
        CTagTableModel model(BuildTagList(*ParsedFile()));
        benchmark::DoNotOptimize(Cells(model, model.rowCount()));
    }
}
BENCHMARK(BM_FullFill)->Unit(benchmark::kMillisecond)->UseRealTime();

void RunToNull(benchmark::State& state, const std::string& program) {
    const std::string command = program + " '" + StructureSetPath() + "' >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) return state.SkipWithError(command.c_str());
}

void BM_Dcmdump(benchmark::State& state) {
    RunToNull(state, "dcmdump");
}
BENCHMARK(BM_Dcmdump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_VexelDump(benchmark::State& state) {
    const auto vexel = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vexel";
    RunToNull(state, "'" + vexel.string() + "' dump");
}
BENCHMARK(BM_VexelDump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// One keystroke until the visible rows are drawn again: a tag (1,818 matches and their
// parents), a word of the names, and a text found nowhere.
void BM_SearchKeystroke(benchmark::State& state) {
    if (ParsedFile() == nullptr) return state.SkipWithError("no structure set");
    static const char* const kQueries[] = {"3006,0050", "contour", "no such text"};
    const QString query = kQueries[state.range(0)];
    std::unique_ptr<CDicomTagsWnd> window(CDicomTagsWnd::Open(*ParsedFile(), nullptr));
    window->Search("x");  // the index is made at the first search
    for (auto _ : state) {
        window->Search(query);
        benchmark::DoNotOptimize(window->List().viewport()->grab().toImage().constBits());
        state.PauseTiming();
        window->Search({});
        state.ResumeTiming();
    }
    state.SetLabel(kQueries[state.range(0)]);
    state.counters["shown"] = (window->Search(query), double(window->Model().rowCount()));
}
BENCHMARK(BM_SearchKeystroke)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first search also lower-cases every row's texts once.
void BM_SearchIndex(benchmark::State& state) {
    if (ParsedFile() == nullptr) return state.SkipWithError("no structure set");
    const std::vector<TagListRow> rows = BuildTagList(*ParsedFile());
    for (auto _ : state)
        benchmark::DoNotOptimize(CTagListSearch(rows).Find("contour").size());
}
BENCHMARK(BM_SearchIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vexel

VEXEL_QT_BENCHMARK_MAIN()
