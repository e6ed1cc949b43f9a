#include "common/systemQueries.h"

#include <spdlog/spdlog.h>

#include <windows.h>

#include <setupapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kiro {

namespace {

namespace fs = std::filesystem;

// Interface classes of monitors and USB devices, declared here rather than instantiated from
// the driver-kit headers.
constexpr GUID kMonitorInterfaceClass = {
    0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};
constexpr GUID kUsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct LocalFreeDeleter {
    void operator()(char* buffer) const { LocalFree(buffer); }
};

struct DeviceInfoSetDeleter {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceInfoSet = std::unique_ptr<void, DeviceInfoSetDeleter>;

struct HeapFreeDeleter {
    void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<void, HeapFreeDeleter>;

/// The file path of a loaded module; a null module is the executable.
fs::path GetModuleFilePath(HMODULE module) {
    for (DWORD size = 1024;; size *= 2) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0) {
            spdlog::error("Failed to query module filename: ec={}", GetLastError());
            return {};
        }
        // A cut name fills the whole buffer: try again with more room.
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
    }
}

BOOL CALLBACK AppendMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM monitors) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info)) {
        reinterpret_cast<std::vector<MONITORINFOEXW>*>(monitors)->push_back(info);
    }
    return TRUE;
}

/// A present device exposes `interfaceClass` with a device path that contains `pattern`
/// (case-sensitive).
bool IsDeviceInterfacePresent(const GUID& interfaceClass, std::wstring_view pattern) {
    HDEVINFO devices = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DeviceInfoSet set(devices);
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        // The end of the list is the usual failure (ERROR_NO_MORE_ITEMS); any failure ends the
        // scan, so a broken set cannot loop forever.
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &interfaceClass, index, &interfaceData)) {
            break;
        }
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &size, nullptr);
        // The size field counts only the record's fixed part, not the path that follows it.
        static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        const HeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
        if (!block) {
            continue;
        }
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        found = SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail, size, nullptr, nullptr) &&
                std::wstring_view(detail->DevicePath).find(pattern) != std::wstring_view::npos;
    }
    return found;
}

}  // namespace

fs::path GetExecutablePath() { return GetModuleFilePath(nullptr); }

fs::path GetLibraryPath(void* address) {
    if (address == nullptr) {
        address = reinterpret_cast<void*>(&GetModuleFilePath);
    }
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
        spdlog::error("Failed to query module handle: ec={}", GetLastError());
        return {};
    }
    return GetModuleFilePath(module);
}

fs::path GetAppDataPath() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
        return {};
    }
    return buffer;
}

fs::path GetEnvironmentPath(const char* name) {
    // The wide variant keeps paths outside the ANSI code page intact.
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wideName.c_str());
    return value != nullptr ? fs::path(value) : fs::path();
}

std::string GetLastErrorAsString() {
    const DWORD ec = GetLastError();
    if (ec == 0) {
        return {};
    }
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, ec, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
                       nullptr);
    const std::unique_ptr<char, LocalFreeDeleter> owner(text);
    std::string message = owner ? std::string(text, length) : std::string();
    // The system's text ends with a line break, which would split the lines it is logged in.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

bool GetNonPrimaryDisplayTopLeftCoordinate(int& x, int& y) {
    std::vector<MONITORINFOEXW> monitors;
    if (const int count = GetSystemMetrics(SM_CMONITORS); count > 0) {
        monitors.reserve(static_cast<std::size_t>(count));
    }
    EnumDisplayMonitors(nullptr, nullptr, AppendMonitor, reinterpret_cast<LPARAM>(&monitors));
    x = 0;
    y = 0;
    if (monitors.size() < 2) {
        return false;
    }
    for (const MONITORINFOEXW& monitor : monitors) {
        if ((monitor.dwFlags & MONITORINFOF_PRIMARY) == 0) {
            x = monitor.rcMonitor.left;
            y = monitor.rcMonitor.top;
            return true;
        }
    }
    return false;
}

bool isMonitorConnected() { return IsDeviceInterfacePresent(kMonitorInterfaceClass, L"#auo2e9a#"); }

bool isRealSenseConnected() { return IsDeviceInterfacePresent(kUsbDeviceInterfaceClass, L"vid_8086&pid_0b07"); }

void WaitForDebugger() {
    while (!IsDebuggerPresent()) {
        Sleep(100);
    }
}

}  // namespace kiro
