// vexel: the command-line companion of the viewer, over the same core.
#include <cstdio>
#include <cstring>

#include "cli/decode_command.h"
#include "cli/dump_command.h"
#include "cli/export_command.h"
#include "cli/measure_command.h"
#include "cli/mpr_command.h"
#include "cli/suv_command.h"
#include "cli/render_command.h"
#include "cli/scan_command.h"
#include "dicom/dicom_dictionary.h"
#include "engine/memory_services.h"
#include "imaging/jpeg_engine.h"
#include "platform/memory_load.h"
#include "platform/version.h"

namespace {

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: vexel COMMAND [OPTIONS] ARGS...\n"
                 "       vexel --version | --help\n"
                 "commands:\n"
                 "  dump [--json] FILE...   list every element of each file\n"
                 "  decode FILE [--frame N | --all] [--out PATH]\n"
                 "                          decode frames, print their statistics and MD5\n"
                 "  scan [--json] PATH...    the patients, studies and series found\n"
                 "  render PATH --out FILE.png [OPTIONS]\n"
                 "                          draw a frame as the viewer shows it (render --help)\n"
                 "  measure FILE [--frame N] (--length|--ellipse|--angle|--cobb) POINTS [--json]\n"
                 "                          a measurement as the viewer shows it\n"
                 "  export PATH... --out DIR [OPTIONS]\n"
                 "                          write pictures or movies as the viewer exports them\n"
                 "                          (export --help)\n"
                 "  mpr PATH... [--series N] --plane coronal|sagittal|axial [--json]\n"
                 "                          the volumes of each series and their geometry\n"
                 "  suv PATH... [--json]     SUV of PET files and each series' range\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vexel %s (build %d)\n", vexel::kVersion, vexel::kBuildNumber);
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    vexel::CDicomDictionary dictionary;
    vexel::CJPEGEngine codecs;
    vexel::CSystemMemoryLoad memoryLoad;
    vexel::CMemoryServices memory(memoryLoad);
    vexel::CMemoryManager& files = memory.Manager();
    if (std::strcmp(argv[1], "dump") == 0) return vexel::cli::RunDump(argc - 2, argv + 2, files);
    if (std::strcmp(argv[1], "scan") == 0) return vexel::cli::RunScan(argc - 2, argv + 2, files);
    if (std::strcmp(argv[1], "decode") == 0) {
        return vexel::cli::RunDecode(argc - 2, argv + 2, files);
    }
    if (std::strcmp(argv[1], "measure") == 0) {
        return vexel::cli::RunMeasure(argc - 2, argv + 2, files);
    }
    if (std::strcmp(argv[1], "render") == 0) {
        return vexel::cli::RunRender(argc - 2, argv + 2, files);
    }
    if (std::strcmp(argv[1], "export") == 0) {
        return vexel::cli::RunExport(argc - 2, argv + 2, files, codecs);
    }
    if (std::strcmp(argv[1], "mpr") == 0) return vexel::cli::RunMpr(argc - 2, argv + 2, files);
    if (std::strcmp(argv[1], "suv") == 0) return vexel::cli::RunSuv(argc - 2, argv + 2, files);
    std::fprintf(stderr, "vexel: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return 2;
}
