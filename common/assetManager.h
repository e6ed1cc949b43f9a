#pragma once

#include "common/export.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace kiro {

class Platform;

struct AssetBuffer {
    std::size_t size = 0;
    std::unique_ptr<uint8_t[]> data;
};

/// Where assets lie: the "assets" folder beside a module's file. Caller-owned; an empty
/// `directory` is computed on first use and stored back.
struct AssetLocation {
    std::filesystem::path directory;
    void* moduleAddress = nullptr;  // any address inside the module; null means this library
};

/// Reads read-only data files by name. Detector plug-ins call it through these virtual
/// operations, so their order is part of the binary interface. Reads throw kiro::Exception
/// when a file is missing, empty or short. A null location means the manager's own default
/// location; two threads must not make their first call with the same location at once.
class KIRO_API AssetManager {
public:
    virtual ~AssetManager();

    virtual AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) = 0;
    /// The whole file, bytes unchanged.
    virtual std::string ReadString(const std::string& name, AssetLocation* location) = 0;
    virtual std::filesystem::path ResolvePath(const std::string& name, AssetLocation* location) = 0;

    /// A manager that reads from the file system. The platform is not used.
    static std::unique_ptr<AssetManager> Create(Platform* platform);
};

}  // namespace kiro
