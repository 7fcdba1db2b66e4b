// The ZIP module through CZIPEngine, with Info-ZIP as the oracle: archives made by `zip` (and
// by libzip where zip cannot make the case) are listed against `zipinfo -l` and extracted
// against `unzip -p`, from the file and from memory; damaged archives end in a read error,
// never in a short success; the writer's archives are read back by `unzip`; the engine
// refuses a missing or incomplete module and does not try again.
#include "engine/zip_engine.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCommand;

fs::path ModuleDir() {
    return test::BinaryDir() / "bin";
}

struct Entry {
    std::string name;
    uint64_t size = 0, compressed = 0;
    bool stored = false, encrypted = false, directory = false, link = false;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << e.name.substr(0, 60) << " " << e.size << "/" << e.compressed
               << (e.stored ? " stor" : "") << (e.encrypted ? " enc" : "")
               << (e.directory ? " dir" : "") << (e.link ? " link" : "");
}

// zipinfo -l rows: "-rw-r--r--  3.0 unx  1234 tx  567 defN 24-Dec-08 13:00 name".
std::vector<Entry> ZipInfo(const fs::path& archive) {
    std::istringstream lines(RunCommand("zipinfo -l " + Quote(archive) + " 2>/dev/null"));
    std::vector<Entry> entries;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::vector<std::string> f(9);
        for (std::string& field : f)
            in >> field;
        std::string name;
        if (f[0].size() != 10 || !(in >> std::ws) || !std::getline(in, name)) continue;
        entries.push_back({name, std::stoull(f[3]), std::stoull(f[5]), f[6] == "stor",
                           std::isupper(static_cast<unsigned char>(f[4][0])) != 0, f[0][0] == 'd',
                           f[0][0] == 'l'});
    }
    return entries;
}

std::vector<Entry> List(CZipArchive& archive, std::map<std::string, std::string>* contents) {
    std::vector<Entry> entries;
    uint64_t count = 0;
    EXPECT_TRUE(archive.EntryCount(count));
    for (uint64_t i = 0; i < count; ++i) {
        std::string name;
        VexelZipEntryInfo info{};
        EXPECT_EQ(archive.CurrentEntry(name, info), VEXEL_ZIP_OK);
        entries.push_back({name, info.uncompressedSize, info.compressedSize,
                           info.compressionMethod == 0, info.encrypted != 0, info.directory != 0,
                           info.symbolicLink != 0});
        CZipEntryReader reader;
        const int32_t opened = archive.OpenEntry(reader);
        EXPECT_EQ(opened, info.encrypted ? VEXEL_ZIP_ENCRYPTED : VEXEL_ZIP_OK) << name;
        std::string bytes;
        if (opened == VEXEL_ZIP_OK) {
            EXPECT_TRUE(reader.ReadAll([&](const uint8_t* d, size_t n) {
                bytes.append(reinterpret_cast<const char*>(d), n);
                return true;
            })) << name;
            (*contents)[name] = bytes;
        }
        EXPECT_EQ(archive.Next(), i + 1 < count ? VEXEL_ZIP_OK : VEXEL_ZIP_END);
    }
    return entries;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Pattern(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = (i / 512) % 2 ? char(seed >> 24) : char('a' + i % 7);  // half compressible
    }
    return bytes;
}

// The files every archive holds: text, an empty file, a 300 kB file in a subfolder, a link.
fs::path SourceTree() {
    const fs::path root = test::ScratchDir("zip_source");
    WriteFile(root / "dir/a.txt", std::string(5000, 'x') + "end\n");
    WriteFile(root / "dir/empty.bin", "");
    WriteFile(root / "dir/sub/large.bin", Pattern(300000, 7));
    fs::create_symlink("a.txt", root / "dir/link");
    return root;
}

// zip cannot store names that climb out of the folder, absolute names or very long names.
void MakeWithLibzip(const fs::path& archive, const std::vector<std::string>& names) {
    int error = 0;
    zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr);
    for (const std::string& name : names) {
        zip_source_t* source = zip_source_buffer(zip, name.c_str(), 7, 0);
        ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
    }
    ASSERT_EQ(zip_close(zip), 0);
}

struct ListCase {
    const char* name;
    const char* zipOptions;  // null: made with libzip
};

class ZipListing : public testing::TestWithParam<ListCase> {};

TEST_P(ZipListing, NamesSizesKindsAndBytesMatchInfoZip) {
    if (!test::HaveProgram("zip") || !test::HaveProgram("unzip"))
        GTEST_SKIP() << "zip or unzip missing";
    const fs::path source = SourceTree();
    const fs::path archive = test::ScratchDir(std::string("zip_") + GetParam().name) / "a.zip";
    if (GetParam().zipOptions == nullptr) {
        // unzip cuts names at 4 KiB; 3,000 bytes still pass the reader's 1 KiB first try.
        MakeWithLibzip(archive, {"../../x", "/abs/x", std::string(3000, 'n')});
    } else {
        int code = 0;
        RunCommand("cd " + Quote(source) + " && zip -q " + GetParam().zipOptions + " " +
                       Quote(archive) + " dir",
                   &code);
        ASSERT_EQ(code, 0);
    }
    const std::vector<Entry> expected = ZipInfo(archive);
    ASSERT_FALSE(expected.empty());
    CZIPEngine engine(ModuleDir());
    const std::vector<uint8_t> memory = test::ReadFileBytes(archive);
    for (bool inMemory : {false, true}) {
        CZipArchive opened = inMemory ? engine.OpenArchiveInMemory(memory.data(), memory.size())
                                      : engine.OpenArchive(archive.string());
        ASSERT_TRUE(opened) << "in memory: " << inMemory;
        std::map<std::string, std::string> contents;
        EXPECT_EQ(List(opened, &contents), expected) << "in memory: " << inMemory;
        for (const auto& [name, bytes] : contents) {
            EXPECT_EQ(bytes, RunCommand("unzip -p " + Quote(archive) + " " + Quote(name)))
                << name.substr(0, 40);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipListing,
                         testing::Values(ListCase{"stored", "-0 -r"}, ListCase{"deflated", "-9 -r"},
                                         ListCase{"zip64", "-fz -r"}, ListCase{"symlink", "-y -r"},
                                         ListCase{"encrypted", "-e -P secret -r"},
                                         ListCase{"hostile_names", nullptr}),
                         [](const auto& p) { return std::string(p.param.name); });

enum class Damage { FlipData, Truncate, ShrinkDeclaredSize };
struct DamageCase {
    const char* name;
    const char* zipOptions;
    Damage damage;
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

void Damaged(std::vector<uint8_t>& bytes, Damage damage) {
    const size_t dataStart = 30 + (bytes[26] | bytes[27] << 8) + (bytes[28] | bytes[29] << 8);
    if (damage == Damage::FlipData) bytes[dataStart + Le32(bytes, 18) / 2] ^= 0x55;
    if (damage == Damage::Truncate) bytes.resize(bytes.size() / 2);
    if (damage == Damage::ShrinkDeclaredSize) {
        for (size_t at :
             {size_t(22), size_t(std::search(bytes.begin(), bytes.end(), "PK\1\2", "PK\1\2" + 4) -
                                 bytes.begin() + 24)}) {
            const uint32_t half = Le32(bytes, at) / 2;
            std::memcpy(&bytes[at], &half, 4);
        }
    }
}

class ZipDamage : public testing::TestWithParam<DamageCase> {};

TEST_P(ZipDamage, EndsInAnErrorNeverInAShortSuccess) {
    if (!test::HaveProgram("zip")) GTEST_SKIP() << "zip missing";
    const fs::path dir = test::ScratchDir(std::string("zip_damage_") + GetParam().name);
    WriteFile(dir / "data.bin", Pattern(200000, 3));
    int code = 0;
    RunCommand("cd " + Quote(dir) + " && zip -q " + GetParam().zipOptions + " a.zip data.bin",
               &code);
    ASSERT_EQ(code, 0);
    std::vector<uint8_t> bytes = test::ReadFileBytes(dir / "a.zip");
    Damaged(bytes, GetParam().damage);
    CZIPEngine engine(ModuleDir());
    CZipArchive archive = engine.OpenArchiveInMemory(bytes.data(), bytes.size());
    if (GetParam().damage == Damage::Truncate && !archive) return;  // refused at once: fine
    ASSERT_TRUE(archive);
    CZipEntryReader reader;
    if (GetParam().damage == Damage::Truncate && archive.OpenEntry(reader) != VEXEL_ZIP_OK) return;
    if (!reader.IsOpen()) {
        ASSERT_EQ(archive.OpenEntry(reader), VEXEL_ZIP_OK);
    }
    std::string name;
    VexelZipEntryInfo info{};
    ASSERT_EQ(archive.CurrentEntry(name, info), VEXEL_ZIP_OK);
    uint64_t total = 0;
    EXPECT_FALSE(reader.ReadAll([&](const uint8_t*, size_t n) { return (total += n) <= 200000; }));
    EXPECT_LT(total, info.uncompressedSize) << "the last block of a damaged entry is withheld";
    EXPECT_EQ(reader.ReadBlock(), -1) << "an error stays an error";
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ZipDamage,
    testing::Values(DamageCase{"flip_stored", "-0", Damage::FlipData},
                    DamageCase{"flip_deflated", "-9", Damage::FlipData},
                    DamageCase{"truncated_stored", "-0", Damage::Truncate},
                    DamageCase{"truncated_deflated", "-9", Damage::Truncate},
                    DamageCase{"shrunk_stored", "-0", Damage::ShrinkDeclaredSize},
                    DamageCase{"shrunk_deflated", "-9", Damage::ShrinkDeclaredSize}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ZipEngine, NamesOf64KiBAreReportedWholeOrCut) {
    const fs::path archive = test::ScratchDir("zip_long_name") / "a.zip";
    const std::string name(65535, 'n');
    MakeWithLibzip(archive, {name});
    CZIPEngine engine(ModuleDir());
    CZipArchive opened = engine.OpenArchive(archive.string());
    ASSERT_TRUE(opened);
    std::string whole;
    VexelZipEntryInfo info{};
    ASSERT_EQ(opened.CurrentEntry(whole, info), VEXEL_ZIP_OK);
    EXPECT_EQ(whole, name);
    char cut[1024];
    std::memset(cut, 'x', sizeof cut);
    const VexelZipInterface* api = engine.Interface();
    VexelZip* raw = api->openArchive(archive.c_str());
    ASSERT_EQ(api->getCurrentEntryInfo(raw, cut, sizeof cut), VEXEL_ZIP_OK);
    EXPECT_EQ(std::string(cut), name.substr(0, 1023));
    api->closeArchive(raw);
}

TEST(ZipEngine, LoadsOnlyAWholeModuleAndNeverRetries) {
    const fs::path empty = test::ScratchDir("zip_no_module");
    const struct {
        fs::path folder;
        bool loads;
    } cases[] = {{ModuleDir(), true}, {empty, false}, {ModuleDir() / "zip-null-slot", false}};
    for (const auto& c : cases) {
        CZIPEngine engine(c.folder);
        bool results[2] = {};
        std::thread other([&] { results[1] = engine.EnsureLoaded(); });
        results[0] = engine.EnsureLoaded();
        other.join();
        EXPECT_EQ(results[0], c.loads) << c.folder;
        EXPECT_EQ(results[1], c.loads) << c.folder;
        EXPECT_EQ(engine.Interface() != nullptr, c.loads) << c.folder;
    }
    CZIPEngine engine(empty);
    EXPECT_FALSE(engine.EnsureLoaded());
    fs::copy_file(ModuleDir() / CZIPEngine::kModuleName, empty / CZIPEngine::kModuleName);
    EXPECT_FALSE(engine.EnsureLoaded()) << "a failed load is not retried";
    EXPECT_FALSE(engine.OpenArchive((empty / "none.zip").string()));
}

TEST(ZipEngine, WrittenArchivesReadBackByUnzipAndNeverReplaceAFile) {
    if (!test::HaveProgram("unzip")) GTEST_SKIP() << "unzip missing";
    CZIPEngine engine(ModuleDir());
    const VexelZipInterface* api = engine.Interface();
    ASSERT_NE(api, nullptr);
    const fs::path archive = test::ScratchDir("zip_writer") / "report.zip";
    const std::map<std::string, std::string> files = {{"report.txt", "signal 11\n"},
                                                      {"maps/maps.txt", Pattern(100000, 9)}};
    VexelZipWriter* writer = api->createArchive(archive.c_str());
    ASSERT_NE(writer, nullptr);
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(api->addFile(writer, name.c_str(), bytes.data(), bytes.size()), VEXEL_ZIP_OK);
    }
    EXPECT_NE(api->addFile(writer, "report.txt", "x", 1), VEXEL_ZIP_OK) << "duplicate name";
    ASSERT_EQ(api->closeWriter(writer), VEXEL_ZIP_OK);
    for (const Entry& entry : ZipInfo(archive)) {
        ASSERT_TRUE(files.count(entry.name)) << entry;
        EXPECT_FALSE(entry.stored) << entry;
        EXPECT_EQ(RunCommand("unzip -p " + Quote(archive) + " " + Quote(entry.name)),
                  files.at(entry.name));
    }
    EXPECT_EQ(ZipInfo(archive).size(), files.size());
    const std::vector<uint8_t> before = test::ReadFileBytes(archive);
    EXPECT_EQ(api->createArchive(archive.c_str()), nullptr);
    EXPECT_EQ(test::ReadFileBytes(archive), before);
}

}  // namespace
}  // namespace vexel
