// The per-process state store and the preset table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "viewer/series_state_store.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

TEST(SeriesStateStore, WindowStateRoundTrip) {
    CSeriesStateStore store;
    const WindowState states[] = {{7, -400, 1500, 0}, {-1, 12.25f, 0.5f, 1}, {1, -65536, 1e9f, 1}};
    for (const WindowState& state : states) {
        store.PutWindowState("1.2.3", state);
        const auto back = store.GetWindowState("1.2.3");
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, state);
        const auto block = store.Get("1.2.3", StateRecord::kWindowState);
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ(block->size(), 16u);
    }
    EXPECT_EQ(store.Size(), 1u);
}

TEST(SeriesStateStore, AbsentAndForeignBlocksGiveNothing) {
    CSeriesStateStore store;
    EXPECT_FALSE(store.Get("series", StateRecord::kWindowState).has_value());
    EXPECT_FALSE(store.GetWindowState("series").has_value());
    EXPECT_FALSE(store.GetComputedWindow("image").has_value());
    // A block of another length under the window type is not a window state.
    const uint8_t shortBlock[5] = {1, 2, 3, 4, 5};
    store.Put("series", StateRecord::kWindowState, shortBlock, sizeof(shortBlock));
    EXPECT_FALSE(store.GetWindowState("series").has_value());
    store.Put("series", StateRecord::kWindowState, nullptr, 16);
    EXPECT_FALSE(store.GetWindowState("series").has_value());
    EXPECT_EQ(store.Get("series", StateRecord::kWindowState)->size(), 0u);
    // A default-constructed state is what a new viewport starts from.
    const WindowState fresh;
    EXPECT_EQ(fresh.presetId, -1);
    EXPECT_EQ(fresh.negative, 0);
}

TEST(SeriesStateStore, TypesAndKeysAreSeparate) {
    CSeriesStateStore store;
    const uint8_t one[1] = {1}, two[2] = {2, 2};
    store.Put("a*2", StateRecord::kMeasurements, one, 1);
    store.Put("a", StateRecord::kWindowState, two, 2);
    store.Put("a", StateRecord::kMeasurements, two, 1);
    EXPECT_EQ(store.Get("a*2", StateRecord::kMeasurements)->size(), 1u);
    EXPECT_EQ(store.Get("a", StateRecord::kWindowState)->size(), 2u);
    EXPECT_FALSE(store.Get("a*2", StateRecord::kWindowState).has_value());
    store.Remove("a", StateRecord::kWindowState);
    store.Remove("absent", StateRecord::kWindowState);
    EXPECT_FALSE(store.Get("a", StateRecord::kWindowState).has_value());
    EXPECT_TRUE(store.Get("a", StateRecord::kMeasurements).has_value());
    EXPECT_EQ(store.Size(), 2u);
}

TEST(SeriesStateStore, WorkersShareOneStore) {
    CSeriesStateStore store;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&store, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i % 50);
                store.PutWindowState(key, {t, float(i), 1, 0});
                ASSERT_TRUE(store.GetWindowState(key).has_value());
                if (i % 3 == 0) store.Remove(key, StateRecord::kWindowState);
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_LE(store.Size(), 200u);
}

struct PresetRow {
    int32_t id;
    const char* name;
    float centre;
    float width;
    uint32_t menuTextId;
    uint32_t nameTextId;
    char key;
};

TEST(WindowPresets, TableAsTheMenuShowsIt) {
    const PresetRow expected[] = {
        {-1, "", 0, 0, 0, 0, '\0'},
        {0, "D", 0, 0, 1201, 8001, '0'},
        {1, "F", 0, 0, 1202, 8002, '1'},
        {2, "CT Abdomen", 60, 400, 1203, 8003, '2'},
        {3, "CT Angio", 300, 600, 1204, 8004, '3'},
        {4, "CT Bone", 300, 1500, 1205, 8005, '4'},
        {5, "CT Brain", 40, 80, 1206, 8006, '5'},
        {6, "CT Chest", 40, 400, 1207, 8007, '6'},
        {7, "CT Lungs", -400, 1500, 1208, 8008, '7'},
    };
    CWindowPresetTable table;
    ASSERT_EQ(table.All().size(), std::size(expected));
    for (const PresetRow& row : expected) {
        const WindowPreset* preset = table.Find(row.id);
        ASSERT_NE(preset, nullptr) << row.id;
        EXPECT_EQ(preset->name, row.name);
        EXPECT_EQ(preset->centre, row.centre) << row.name;
        EXPECT_EQ(preset->width, row.width) << row.name;
        EXPECT_EQ(preset->menuTextId, row.menuTextId) << row.name;
        EXPECT_EQ(preset->nameTextId, row.nameTextId) << row.name;
        EXPECT_EQ(table.FindByKey(row.key), row.key ? preset : nullptr) << row.name;
    }
    EXPECT_EQ(table.Find(8), nullptr);
    EXPECT_EQ(table.Find(-2), nullptr);
    EXPECT_EQ(table.FindByKey('8'), nullptr);
    EXPECT_STREQ(kNegativeShortcut, "F11");
    EXPECT_EQ(kNegativeMenuTextId, 1221u);
}

TEST(WindowPresets, NamesComeFromTheTextTable) {
    CWindowPresetTable table(
        [](uint32_t id) { return id == 8008 ? std::string("TC Poumons") : std::string(); });
    EXPECT_EQ(table.Find(7)->name, "TC Poumons");
    EXPECT_EQ(table.Find(0)->name, "D");  // untranslated texts keep the English name
}

}  // namespace
}  // namespace vexel
