#include "common/systemQueries.h"
#include "common/systemQueriesPosix.h"

#include <spdlog/spdlog.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace kiro {

namespace {

namespace fs = std::filesystem;

struct DlClose {
    void operator()(void* handle) const { dlclose(handle); }
};

/// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

/// sysfs attribute files end with a newline.
std::string_view TrimTrailingSpace(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

/// True when `matches` holds for some entry of `root`; a missing or unreadable root has none.
/// sysfs entries are symbolic links to the device directories, which the file reads follow.
template <typename Predicate>
bool AnyEntry(const fs::path& root, Predicate matches) {
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (matches(it->path())) {
            return true;
        }
    }
    return false;
}

bool IsEdidOf(std::string_view edid, std::string_view manufacturer, std::uint16_t productCode) {
    constexpr std::string_view kHeader("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8);
    if (edid.size() < 128 || edid.substr(0, kHeader.size()) != kHeader) {
        return false;
    }
    auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(edid[i])); };
    // Three letters of five bits each ('A' is 1), big-endian; the product code is little-endian.
    const unsigned packed = byte(8) << 8 | byte(9);
    const std::array<char, 3> letters{static_cast<char>('A' - 1 + (packed >> 10 & 0x1F)),
                                      static_cast<char>('A' - 1 + (packed >> 5 & 0x1F)),
                                      static_cast<char>('A' - 1 + (packed & 0x1F))};
    const unsigned product = byte(10) | byte(11) << 8;
    return std::string_view(letters.data(), letters.size()) == manufacturer && product == productCode;
}

/// The main program's dladdr name is only its argv[0], which need not be a usable path.
bool IsMainProgram(const link_map* module) {
    const std::unique_ptr<void, DlClose> program(dlopen(nullptr, RTLD_LAZY));
    link_map* main = nullptr;
    return program && dlinfo(program.get(), RTLD_DI_LINKMAP, &main) == 0 && main == module;
}

}  // namespace

namespace detail {

fs::path GetModuleFilePath(const char* moduleLink) {
    for (std::size_t size = 1024;; size *= 2) {
        std::string buffer(size, '\0');
        const ssize_t length = readlink(moduleLink, buffer.data(), buffer.size());
        if (length <= 0) {
            spdlog::error("Failed to query module filename: ec={}", errno);
            return {};
        }
        // readlink fills the whole buffer when the target was cut: try again with more room.
        if (static_cast<std::size_t>(length) < size) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
    }
}

bool IsUsbDevicePresent(const fs::path& usbDevicesRoot, std::string_view vendorId, std::string_view productId) {
    return AnyEntry(usbDevicesRoot, [&](const fs::path& device) {
        return EqualsIgnoringCase(TrimTrailingSpace(ReadFile(device / "idVendor")), vendorId) &&
               EqualsIgnoringCase(TrimTrailingSpace(ReadFile(device / "idProduct")), productId);
    });
}

bool IsEdidPanelPresent(const fs::path& drmRoot, std::string_view manufacturer, std::uint16_t productCode) {
    return AnyEntry(drmRoot, [&](const fs::path& connector) {
        return IsEdidOf(ReadFile(connector / "edid"), manufacturer, productCode);
    });
}

bool IsTracerAttached(const fs::path& statusFile) {
    std::ifstream status(statusFile);
    constexpr std::string_view kField = "TracerPid:";
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(kField)) {
            long pid = 0;
            std::istringstream(line.substr(kField.size())) >> pid;
            return pid != 0;
        }
    }
    return false;
}

}  // namespace detail

fs::path GetExecutablePath() { return detail::GetModuleFilePath("/proc/self/exe"); }

fs::path GetLibraryPath(void* address) {
    if (address == nullptr) {
        address = reinterpret_cast<void*>(&detail::GetModuleFilePath);
    }
    Dl_info info{};
    link_map* module = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0 || module == nullptr) {
        // dladdr gives no reason; an address outside every loaded object is a bad address.
        errno = EFAULT;
        spdlog::error("Failed to query module handle: ec={}", errno);
        return {};
    }
    if (IsMainProgram(module)) {
        return GetExecutablePath();
    }
    // An object opened by a relative path keeps that path as its name.
    std::error_code ec;
    fs::path path = fs::absolute(info.dli_fname, ec);
    return ec ? fs::path(info.dli_fname) : path;
}

fs::path GetAppDataPath() {
    // The first entry of XDG_DATA_DIRS; relative entries are invalid and skipped, as the XDG
    // base directory rules require. Its documented default starts with /usr/local/share.
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream entries(dirs != nullptr ? dirs : "");
    for (std::string entry; std::getline(entries, entry, ':');) {
        if (fs::path(entry).is_absolute()) {
            return entry;
        }
    }
    return "/usr/local/share";
}

fs::path GetEnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? fs::path(value) : fs::path();
}

std::string GetLastErrorAsString() {
    const int ec = errno;
    if (ec == 0) {
        return {};
    }
    std::array<char, 256> buffer{};
    return strerror_r(ec, buffer.data(), buffer.size());
}

bool GetNonPrimaryDisplayTopLeftCoordinate(int& x, int& y) {
    // Desktop coordinates and the primary display belong to a display server, which is not
    // assumed. Without one the kernel console shows the same picture on every connected
    // display; like a mirrored desktop on Windows, that counts as a single display.
    x = 0;
    y = 0;
    return false;
}

bool isMonitorConnected() { return detail::IsEdidPanelPresent("/sys/class/drm", "AUO", 0x2E9A); }

bool isRealSenseConnected() { return detail::IsUsbDevicePresent("/sys/bus/usb/devices", "8086", "0b07"); }

void WaitForDebugger() {
    while (!detail::IsTracerAttached("/proc/self/status")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace kiro
