// The arithmetic of the workspace: which grid holds n panels in an area, where each panel
// goes, and which cell of the split-screen chooser a point is over. Kept apart from the
// widgets so that it can be checked by itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vexel {

struct GridSize {
    uint32_t columns = 0;
    uint32_t rows = 0;
    friend bool operator==(const GridSize&, const GridSize&) = default;
};

struct CellRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    friend bool operator==(const CellRect&, const CellRect&) = default;
};

// The grid whose cells come closest to square for n panels in width x height; the earlier
// candidate wins a tie. 0 x 0 for no panels.
GridSize AutoGrid(size_t panels, int32_t width, int32_t height);

// The cells of n panels laid out row by row; a last row that is not full is shared by its
// panels alone. Empty when the grid has no cells.
std::vector<CellRect> PanelCells(size_t panels, GridSize grid, const CellRect& client);

// The split-screen chooser: a popup of 5 x 4 cells.
inline constexpr int32_t kChooserWidth = 200;
inline constexpr int32_t kChooserHeight = 160;
inline constexpr uint32_t kChooserColumns = 5;
inline constexpr uint32_t kChooserRows = 4;
// Column and row of a cell as drawn (every cell has a 4-pixel gap before it).
CellRect ChooserCell(uint32_t column, uint32_t row);
// The cell under a point, as the cells are drawn: a point in a gap or past the last cell
// counts for the cell before it; none outside the popup.
std::optional<GridSize> ChooserCellAt(int32_t x, int32_t y);

// The header: the close box's square, and the pixels of the progress bar.
CellRect CloseBox(int32_t panelWidth, int32_t headerHeight);
int32_t ProgressPixels(int32_t percent, int32_t width);

}  // namespace vexel
