#include "app/workspace_grid.h"

#include <algorithm>
#include <cmath>

namespace vexel {
namespace {

constexpr int32_t kChooserMargin = 4;

uint32_t CeilDiv(size_t a, uint32_t b) {
    return uint32_t((a + b - 1) / b);
}

// Where cell i of `count` along `length` starts, in single precision as the layout has always
// placed it.
int32_t Edge(uint32_t i, int32_t length, uint32_t count) {
    return int32_t(float(i) * float(length) * (1.0f / float(count)));
}

int32_t ChooserEdge(int32_t i, int32_t inner, int32_t count) {
    return i * inner / count;
}

}  // namespace

GridSize AutoGrid(size_t panels, int32_t width, int32_t height) {
    if (panels == 0) return {};
    const float root = std::sqrt(float(panels));
    uint32_t k = uint32_t(root);
    if (float(k) < root) ++k;
    GridSize best;
    double bestError = 0;
    for (uint32_t c = 1; c <= k; ++c) {
        for (const uint32_t columns : {c, CeilDiv(panels, c)}) {
            const uint32_t rows = CeilDiv(panels, columns);
            // Cells as square as can be: the error is at least 1, 1 for square cells. An empty
            // area keeps the first candidate.
            double error = double(rows) * width / (double(columns) * height);
            if (!(error > 0) || !std::isfinite(error)) error = 1e30;
            if (error < 1) error = 1 / error;
            if (best.columns == 0 || error < bestError) {
                best = {columns, rows};
                bestError = error;
            }
        }
    }
    return best;
}

std::vector<CellRect> PanelCells(size_t panels, GridSize grid, const CellRect& client) {
    std::vector<CellRect> cells;
    if (grid.columns == 0 || grid.rows == 0) return cells;
    const int32_t w = client.right - client.left, h = client.bottom - client.top;
    uint32_t columns = grid.columns;
    for (uint32_t r = 0; r < grid.rows && cells.size() < panels; ++r) {
        // A last row that is not full is shared by the panels it holds.
        if (r == grid.rows - 1 && panels % grid.columns != 0 && panels > cells.size()) {
            columns = uint32_t(std::min<size_t>(panels - cells.size(), grid.columns));
        }
        for (uint32_t c = 0; c < columns && cells.size() < panels; ++c) {
            cells.push_back({client.left + Edge(c, w, columns), client.top + Edge(r, h, grid.rows),
                             client.left + Edge(c + 1, w, columns),
                             client.top + Edge(r + 1, h, grid.rows)});
        }
    }
    return cells;
}

CellRect ChooserCell(uint32_t column, uint32_t row) {
    const int32_t innerW = kChooserWidth - kChooserMargin - 2;
    const int32_t innerH = kChooserHeight - kChooserMargin - 2;
    const auto c = int32_t(column), r = int32_t(row);
    return {ChooserEdge(c, innerW, kChooserColumns) + kChooserMargin + 1,
            ChooserEdge(r, innerH, kChooserRows) + kChooserMargin + 1,
            ChooserEdge(c + 1, innerW, kChooserColumns) + 1,
            ChooserEdge(r + 1, innerH, kChooserRows) + 1};
}

std::optional<GridSize> ChooserCellAt(int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= kChooserWidth || y >= kChooserHeight) return std::nullopt;
    GridSize cell;
    for (uint32_t c = 1; c < kChooserColumns; ++c)
        if (x >= ChooserCell(c, 0).left) cell.columns = c;
    for (uint32_t r = 1; r < kChooserRows; ++r)
        if (y >= ChooserCell(0, r).top) cell.rows = r;
    return cell;
}

CellRect CloseBox(int32_t panelWidth, int32_t headerHeight) {
    const int32_t side = std::max(headerHeight - 5, 1);
    const int32_t left = panelWidth - headerHeight + 2;
    return {left, 2, left + side, 2 + side};
}

int32_t ProgressPixels(int32_t percent, int32_t width) {
    return std::clamp(percent, 0, 100) * std::max(width - 2, 0) / 100;
}

}  // namespace vexel
