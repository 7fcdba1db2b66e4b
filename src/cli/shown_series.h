// The series `vexel render` and `vexel export` work on, found as the viewer finds it: the
// paths scanned, series and images counted from 0 in display order.
#pragma once

#include <string>
#include <vector>

#include "engine/series_record.h"

namespace vexel {
class CMemoryManager;
class CViewport2D;
class StudyModel;
}  // namespace vexel

namespace vexel::cli {

// Scans the paths into model; every series in display order, none after saying so.
std::vector<SeriesId> ScanSeries(const std::vector<std::string>& paths, CMemoryManager& files,
                                 StudyModel& model);
// Scans the paths into model; the id of series `index`, or 0 after saying why not.
SeriesId ScanAndPickSeries(const std::vector<std::string>& paths, long index, CMemoryManager& files,
                           StudyModel& model);
// Lists every image of the series in the viewport and shows image `index`; false after
// saying why not.
bool LoadAndShow(CViewport2D& viewport, const StudyModel& model, SeriesId series, long index,
                 CMemoryManager& files);

}  // namespace vexel::cli
