#include "common/assetManager.h"
#include "common/exception.h"
#include "common/systemQueries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using kiro::AssetLocation;
using kiro::AssetManager;

/// A fresh folder of asset files for one test.
class AssetManagerTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        directory = fs::temp_directory_path() / "kiroAssetManagerTest" / info->name();
        fs::remove_all(directory);
        fs::create_directories(directory);
        location.directory = directory;
    }
    void TearDown() override { fs::remove_all(directory); }

    void Write(const std::string& name, const std::string& bytes) {
        fs::create_directories((directory / name).parent_path());
        std::ofstream(directory / name, std::ios::binary) << bytes;
    }

    static std::string Utf8(const fs::path& path) {
        const auto text = path.u8string();
        return {reinterpret_cast<const char*>(text.data()), text.size()};
    }

    std::unique_ptr<AssetManager> assets = AssetManager::Create(nullptr);
    fs::path directory;
    AssetLocation location;
};

TEST_F(AssetManagerTest, DefaultLocationIsTheAssetsFolderBesideTheLibrary) {
    const fs::path expected = kiro::GetLibraryPath().parent_path() / "assets" / "a" / "b.bin";
    EXPECT_EQ(assets->ResolvePath("a/b.bin", nullptr), expected);
}

TEST_F(AssetManagerTest, EmptyLocationIsFilledOnFirstUse) {
    AssetLocation empty;
    const fs::path resolved = assets->ResolvePath("x.bin", &empty);
    EXPECT_EQ(empty.directory, kiro::GetLibraryPath().parent_path() / "assets");
    EXPECT_EQ(resolved, empty.directory / "x.bin");
}

TEST_F(AssetManagerTest, ModuleAddressSelectsAnotherModule) {
    // An address inside the test executable resolves beside the executable.
    static int marker = 0;
    AssetLocation inExecutable;
    inExecutable.moduleAddress = &marker;
    EXPECT_EQ(assets->ResolvePath("m.bin", &inExecutable), kiro::GetExecutablePath().parent_path() / "assets" / "m.bin");
}

TEST_F(AssetManagerTest, PresetDirectoryIgnoresModuleAddress) {
    static int marker = 0;
    location.moduleAddress = &marker;
    EXPECT_EQ(assets->ResolvePath("m.bin", &location), directory / "m.bin");
}

TEST_F(AssetManagerTest, ReadsAreBinarySafe) {
    const std::string bytes("a\0b\r\n\0\xff", 7);
    Write("sub/data.bin", bytes);

    const std::string text = assets->ReadString("sub/data.bin", &location);
    EXPECT_EQ(text, bytes);

    const kiro::AssetBuffer buffer = assets->ReadBytes("sub/data.bin", &location);
    ASSERT_EQ(buffer.size, bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data.get()), buffer.size), bytes);
}

TEST_F(AssetManagerTest, MissingFileThrows) {
    const std::string expected =
        "failed to open asset \"none.bin\" (\"" + Utf8(directory / "none.bin") + "\") in kiro::";
    try {
        assets->ReadBytes("none.bin", &location);
        FAIL() << "no exception";
    } catch (const kiro::Exception& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind(expected, 0), 0u) << what;
        EXPECT_NE(what.find("AssetManager::Read common/assetManager:"), std::string::npos) << what;
    }
    EXPECT_THROW(assets->ReadString("none.bin", &location), kiro::Exception);
}

TEST_F(AssetManagerTest, EmptyFileThrowsWithItsPosition) {
    Write("empty.bin", "");
    for (int i = 0; i < 2; ++i) {
        try {
            if (i == 0) {
                assets->ReadBytes("empty.bin", &location);
            } else {
                assets->ReadString("empty.bin", &location);
            }
            FAIL() << "no exception";
        } catch (const kiro::Exception& e) {
            const std::string expected = "invalid asset \"empty.bin\" (\"" + Utf8(directory / "empty.bin") + "\"): pos=0 in ";
            EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
        }
    }
}

TEST_F(AssetManagerTest, DirectoryIsNotAnAsset) {
    fs::create_directories(directory / "folder");
    try {
        assets->ReadString("folder", &location);
        FAIL() << "no exception";
    } catch (const kiro::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("failed to open asset \"folder\"", 0), 0u) << e.what();
    }
}

}  // namespace
