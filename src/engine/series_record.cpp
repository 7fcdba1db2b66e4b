#include "engine/series_record.h"

#include <algorithm>
#include <limits>
#include <tuple>

#include "engine/study_model_keys.h"

namespace vexel {

bool SeriesRecord::Accepts(const StudyFileKeys& keys) const {
    return !multiFrame && seriesNumber == keys.seriesNumber &&
           seriesInstanceUid == keys.seriesInstanceUid;
}

size_t SeriesRecord::AddFile(SeriesFileRecord file) {
    if (files.empty()) first = file;
    const uint32_t room = std::numeric_limits<uint32_t>::max() - frameTotal;
    frameTotal += std::min(file.numberOfFrames, room);
    const auto at = std::upper_bound(files.begin(), files.end(), file, SeriesFileBefore);
    const auto position = static_cast<size_t>(at - files.begin());
    files.insert(at, std::move(file));
    return position;
}

bool SeriesBefore(const SeriesRecord& a, const SeriesRecord& b) {
    // A single-frame series holds many files, so its first file depends on loading order and
    // cannot take part; a multi-frame series holds exactly one file.
    static const std::string kNoPath;
    using Key = std::tuple<int32_t, bool, int32_t, int32_t, const std::string&, const std::string&>;
    const auto key = [](const SeriesRecord& s) {
        return Key(s.seriesNumber, s.multiFrame, s.multiFrame ? s.first.acquisitionNumber : 0,
                   s.multiFrame ? s.first.instanceNumber : 0, s.seriesInstanceUid,
                   s.multiFrame ? s.first.path : kNoPath);
    };
    return key(a) < key(b);
}

}  // namespace vexel
