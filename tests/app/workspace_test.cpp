// The workspace: the grid arithmetic against worked cases, and the panel set as the user
// changes it (fixed grids that drop empty panels first, the active panel's successor, a
// series opened with Ctrl, an empty area), with a removed panel torn down like a cleared one.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <memory>

#include "app/viewer_wnd_manager.h"
#include "app/workspace.h"
#include "app/workspace_panel.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_image_list.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

TEST(WorkspaceGrid, GridsCellsChooserAndHeader) {
    struct GridCase {
        size_t panels;
        int32_t width, height;
        GridSize grid;
    };
    for (const GridCase& c : {GridCase{0, 800, 600, {0, 0}}, GridCase{1, 800, 600, {1, 1}},
                              GridCase{2, 800, 600, {2, 1}}, GridCase{2, 400, 900, {1, 2}},
                              GridCase{3, 800, 600, {2, 2}}, GridCase{5, 600, 600, {2, 3}},
                              GridCase{16, 1600, 1200, {4, 4}}}) {
        EXPECT_EQ(AutoGrid(c.panels, c.width, c.height), c.grid) << c.panels << " in " << c.width;
    }
    // Three panels: the third spans the second row; five in 2 x 3: the fifth spans the third.
    const std::vector<CellRect> three = PanelCells(3, {2, 2}, {0, 0, 800, 600});
    EXPECT_EQ(three, (std::vector<CellRect>{{0, 0, 400, 300}, {400, 0, 800, 300}, {0, 300, 800, 600}}));
    const std::vector<CellRect> five = PanelCells(5, {2, 3}, {10, 20, 610, 620});
    ASSERT_EQ(five.size(), 5u);
    EXPECT_EQ(five[4], (CellRect{10, 420, 610, 620}));
    EXPECT_EQ(five[3], (CellRect{310, 220, 610, 420}));

    EXPECT_EQ(ChooserCellAt(199, 159), (GridSize{4, 3}));
    EXPECT_EQ(ChooserCellAt(43, 20), (GridSize{1, 0})) << "the second column as drawn";
    EXPECT_EQ(ChooserCellAt(42, 20), (GridSize{0, 0})) << "a gap counts for the cell before";
    EXPECT_FALSE(ChooserCellAt(200, 10));
    EXPECT_EQ(ProgressPixels(150, 102), 100);
    EXPECT_EQ(ProgressPixels(-3, 102), 0);
}

class WorkspacePanels : public testing::Test {
protected:
    void SetUp() override {
        phantom::PhantomOptions options;
        options.columns = options.rows = 32;
        options.slices = 2;
        const auto folder = test::ScratchDir("workspace-ct");
        std::string error;
        ASSERT_TRUE(phantom::WriteCtSeries(folder, options, &error)) << error;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            ASSERT_EQ(ReadDicomFile(file, entry.path().string()), ReadStatus::Ok);
            image = CDicomImage::AttachTo(file, true);
            break;
        }
        WorkspaceServices services;
        services.viewport.states = &states;
        services.viewport.presets = &presets;
        services.model = &model;
        services.windows = &windows;
        workspace = std::make_unique<CWorkspace>(services, nullptr);
        workspace->resize(600, 600);
        workspace->show();  // panels and viewports get their sizes
    }
    std::vector<uint32_t> Ids() const {
        std::vector<uint32_t> ids;
        for (const CWorkspacePanel* panel : workspace->Panels()) ids.push_back(panel->Id());
        return ids;
    }

    CDicomFile file;
    CDicomImage* image = nullptr;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    StudyModel model;
    CViewerWndManager windows;
    std::unique_ptr<CWorkspace> workspace;
};

TEST_F(WorkspacePanels, FixedGridsActivePanelsAndCtrl) {
    for (int i = 0; i < 4; ++i) workspace->AddPanel(true);
    const std::vector<uint32_t> ids = Ids();
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_TRUE(ids[0] < ids[1] && ids[1] < ids[2] && ids[2] < ids[3]) << "ids only grow";
    EXPECT_EQ(workspace->ActivePanel()->Id(), ids[3]);
    // The first and third hold images: 1 x 1 drops the empty fourth and second, then the third.
    for (const size_t i : {0u, 2u}) workspace->Panels()[i]->Viewport().AddImage(CFileRef(), *image, 0);
    workspace->SetGrid(1, 1);
    EXPECT_EQ(Ids(), std::vector<uint32_t>{ids[0]});
    EXPECT_EQ(windows.PanelCount(), 1u);
    EXPECT_EQ(windows.FindPanel(ids[2]), nullptr) << "the map forgets removed panels";
    workspace->SetGrid(0, 2);
    EXPECT_EQ(workspace->Grid(), (GridSize{1, 1})) << "ignored";

    // 3 x 2 from one panel adds five; the last added is active.
    workspace->SetGrid(3, 2);
    ASSERT_EQ(workspace->Panels().size(), 6u);
    EXPECT_EQ(workspace->ActivePanel(), workspace->Panels().back());
    EXPECT_EQ(workspace->Panels()[4]->geometry(), QRect(200, 300, 200, 300));
    // Closing the active panel activates the next one, or the one before the last.
    const uint32_t second = workspace->Panels()[1]->Id();
    workspace->Activate(workspace->Panels()[1]);
    workspace->RemovePanel(second, true, false);
    EXPECT_EQ(workspace->ActivePanel(), workspace->Panels()[1]);
    workspace->Activate(workspace->Panels().back());
    workspace->RemovePanel(workspace->Panels().back()->Id(), true, false);
    EXPECT_EQ(workspace->ActivePanel(), workspace->Panels().back());

    // Ctrl on a fixed 2 x 2 adds a fifth panel, and the grid is automatic again.
    workspace->SetGrid(2, 2);
    workspace->PutSeries(1, true, std::nullopt);
    EXPECT_EQ(workspace->Panels().size(), 5u);
    EXPECT_EQ(workspace->LayoutMode(), CWorkspace::Mode::Auto);
    EXPECT_EQ(workspace->Grid(), (GridSize{2, 3}));
    // A drop goes to the panel under it, though another is active.
    CWorkspacePanel* under = workspace->Panels()[1];
    workspace->PutSeries(2, false, under->mapToGlobal(under->rect().center()));
    EXPECT_EQ(workspace->ActivePanel(), under);
    EXPECT_EQ(workspace->Panels().size(), 5u);
    // An area without pixels keeps the grid.
    workspace->resize(0, 0);
    workspace->Layout();
    EXPECT_EQ(workspace->Grid(), (GridSize{2, 3}));
}

// A removed panel goes through the same teardown as a cleared one: what the user set for
// the series (its window) is stored the same way, and nothing is left referring to it.
TEST_F(WorkspacePanels, RemovingAPanelLeavesWhatClearingLeaves) {
    std::vector<std::vector<uint8_t>> stored;
    for (const bool remove : {false, true}) {
        CWorkspacePanel* panel = workspace->AddPanel(true);
        CViewport2D& viewport = panel->Viewport();
        ASSERT_TRUE(viewport.AddImage(CFileRef(), *image, 0));
        ASSERT_TRUE(viewport.SelectPreset(2));  // a fixed preset: kept for the series
        const uint32_t id = panel->Id();
        if (remove) {
            workspace->RemovePanel(id, true, true);
        } else {
            panel->Clear();
        }
        EXPECT_EQ(windows.FindPanel(id) == nullptr, remove);
        stored.push_back(states.Get(ViewportSeriesKey(*image), StateRecord::kWindowState)
                             .value_or(std::vector<uint8_t>{}));
        states.Remove(ViewportSeriesKey(*image), StateRecord::kWindowState);
    }
    EXPECT_FALSE(stored[0].empty()) << "a clear keeps the window of the series";
    EXPECT_EQ(stored[0], stored[1]);
}

}  // namespace
}  // namespace vexel
