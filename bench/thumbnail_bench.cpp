// Thumbnails and the thumbnail box. One thumbnail: a decoded 512 x 512 CT slice reduced to
// 90 x 90 by RenderThumbnail (an off-screen viewport with its whole pipeline), against
// DCMTK's interpolated scaling of the same file with the file's first window, 8-bit output;
// the file is parsed and its pixels decoded once, before the clock, for both. The box: 1,000
// rows (8 patients, 4 studies each, 30 series per study, every series with its thumbnail)
// scrolled by one wheel notch and painted into an image, as the window would paint it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QWheelEvent>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/dicom_thumb_box.h"
#include "bench_corpus.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/thumbnail.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmimgle/dcmimage.h"
#include "qt_bench_main.h"

namespace vexel {
namespace {

std::string SlicePath() {
    std::string error;
    const auto paths = bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, {1, 512, 512}, &error);
    if (paths.empty()) std::fprintf(stderr, "corpus: %s\n", error.c_str());
    return paths.empty() ? std::string() : paths.front();
}

void BM_RenderThumbnail(benchmark::State& state) {
    CDicomFile file;
    file.SetDeferredValues(true);
    const std::string path = SlicePath();
    CDicomImage* image = path.empty() || ReadDicomFile(file, path) != ReadStatus::Ok
                             ? nullptr
                             : CDicomImage::AttachTo(file, true);
    if (image == nullptr || image->DecodeAllIdleFrames() == 0)
        return state.SkipWithError("no decoded CT slice");
    for (auto _ : state) {
        auto thumbnail = RenderThumbnail(*image);
        if (!thumbnail) return state.SkipWithError("no thumbnail");
        benchmark::DoNotOptimize(thumbnail->pixels.data());
    }
}
BENCHMARK(BM_RenderThumbnail)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_DcmtkScaledImage(benchmark::State& state) {
    const std::string path = SlicePath();
    DicomImage image(path.c_str());
    if (image.getStatus() != EIS_Normal) return state.SkipWithError("DCMTK cannot read it");
    if (image.getWindowCount() > 0) {
        image.setWindow(0);
    } else {
        image.setMinMaxWindow();
    }
    image.getOutputData(8);  // the pixels are decoded and windowed once before the clock
    for (auto _ : state) {
        std::unique_ptr<DicomImage> scaled(image.createScaledImage(90UL, 90UL, 1));
        if (!scaled) return state.SkipWithError("no scaled image");
        benchmark::DoNotOptimize(scaled->getOutputData(8));
    }
}
BENCHMARK(BM_DcmtkScaledImage)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A box of exactly 1,000 rows in a window 900 pixels high.
struct BoxRig {
    StudyModel model;
    CDicomThumbBox box{model};
    QImage target;

    BoxRig() {
        box.resize(CListBoxBase::kWidth, 900);
        Thumbnail thumbnail;
        thumbnail.width = thumbnail.height = kThumbnailSide;
        for (int i = 0; i < kThumbnailSide * kThumbnailSide; ++i)
            thumbnail.pixels.push_back(uint32_t(i % 90 * 0x020202 + i / 90 * 0x010000));
        for (int patient = 0; patient < 8; ++patient) {
            for (int study = 0; study < 4; ++study) {
                for (int series = 1; series <= 30; ++series) {
                    StudyFileKeys keys;
                    keys.patientName = "Patient^" + std::to_string(patient);
                    keys.studyInstanceUid = "2.25." + std::to_string(patient * 10 + study);
                    keys.studyDescription = "Chest abdomen pelvis";
                    keys.studyDate = "20240131";
                    keys.studyTime = "101500";
                    keys.seriesNumber = series;
                    keys.seriesInstanceUid = keys.studyInstanceUid + "." + std::to_string(series);
                    keys.seriesDescription = "Axial 1.25 mm soft tissue";
                    keys.modality = "CT";
                    keys.file.sopInstanceUid = keys.seriesInstanceUid + ".1";
                    keys.file.path = "/bench/" + keys.file.sopInstanceUid;
                    const AddFileResult result = model.AddFile(keys);
                    box.Apply(result);
                    box.SetThumbnail(result.series, thumbnail);
                }
            }
        }
        target = QImage(box.size(), QImage::Format_RGB32);
        box.ScrollBy(500);
        box.MarkSeries(box.SeriesAt(502));
        box.render(&target);
    }
};

void BM_ThumbBoxWheelStepPaint(benchmark::State& state) {
    BoxRig rig;
    if (rig.box.Count() != 1000) return state.SkipWithError("not 1,000 rows");
    int direction = 1;
    for (auto _ : state) {
        // One notch down, then one up, so the list never reaches an end.
        const QPointF at(75, 450);
        QWheelEvent wheel(at, at, QPoint(), QPoint(0, direction * CDicomThumbBox::kWheelNotch),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&rig.box, &wheel);
        direction = -direction;
        rig.box.render(&rig.target);
        benchmark::DoNotOptimize(rig.target.constBits());
    }
    state.counters["rows"] = rig.box.Count();
    state.counters["visible"] = rig.box.LastVisible() - rig.box.FirstVisible() + 1;
}
BENCHMARK(BM_ThumbBoxWheelStepPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vexel

VEXEL_QT_BENCHMARK_MAIN()
