#include "common/assetManager.h"

#include "common/exceptionInternal.h"
#include "common/systemQueries.h"

#include <fstream>
#include <functional>
#include <string_view>

namespace kiro {

namespace {

std::string ToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

class FileAssetManager final : public AssetManager {
public:
    AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) override {
        AssetBuffer buffer;
        Read(name, location, [&buffer](std::size_t size) {
            buffer.data = std::make_unique<uint8_t[]>(size);
            buffer.size = size;
            return reinterpret_cast<char*>(buffer.data.get());
        });
        return buffer;
    }

    std::string ReadString(const std::string& name, AssetLocation* location) override {
        std::string text;
        Read(name, location, [&text](std::size_t size) {
            text.resize(size);
            return text.data();
        });
        return text;
    }

    std::filesystem::path ResolvePath(const std::string& name, AssetLocation* location) override {
        AssetLocation& where = location != nullptr ? *location : defaultLocation_;
        if (where.directory.empty()) {
            where.directory = GetLibraryPath(where.moduleAddress).parent_path() / "assets";
        }
        return where.directory / std::filesystem::path(name);
    }

private:
    /// Reads the whole file into the storage that `allocate(size)` provides.
    void Read(const std::string& name, AssetLocation* location, const std::function<char*(std::size_t)>& allocate) {
        const std::filesystem::path path = ResolvePath(name, location);
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        // A directory opens as a stream on some systems but reports a meaningless size.
        std::error_code error;
        if (!file.is_open() || std::filesystem::is_directory(path, error)) {
            KIRO_THROW("failed to open asset \"{}\" (\"{}\")", name, ToUtf8(path));
        }
        const auto position = static_cast<int64_t>(file.tellg());
        if (position < 1) {
            KIRO_THROW("invalid asset \"{}\" (\"{}\"): pos={}", name, ToUtf8(path), position);
        }
        const auto size = static_cast<std::size_t>(position);
        char* target = allocate(size);
        file.seekg(0);
        file.read(target, static_cast<std::streamsize>(size));
        if (file.fail() || file.bad()) {
            KIRO_THROW("failed to read asset \"{}\" (\"{}\")", name, ToUtf8(path));
        }
    }

    AssetLocation defaultLocation_;
};

}  // namespace

AssetManager::~AssetManager() = default;

std::unique_ptr<AssetManager> AssetManager::Create(Platform*) { return std::make_unique<FileAssetManager>(); }

}  // namespace kiro
