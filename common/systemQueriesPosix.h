#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

// The Linux scans behind the system queries, each taking the root it reads so that tests can
// point it at a fake tree. Internal: not part of the library's interface.

namespace kiro::detail {

/// The target of a module link such as /proc/self/exe, read whole however long it is. On
/// failure logs "Failed to query module filename: ec={errno}" and returns an empty path.
std::filesystem::path GetModuleFilePath(const char* moduleLink);

/// A device directory under `usbDevicesRoot` (like /sys/bus/usb/devices) has the given
/// idVendor and idProduct; hex ids compare case-insensitively.
bool IsUsbDevicePresent(const std::filesystem::path& usbDevicesRoot, std::string_view vendorId,
                        std::string_view productId);

/// A connector under `drmRoot` (like /sys/class/drm) has an EDID that names the three-letter
/// `manufacturer` and `productCode`.
bool IsEdidPanelPresent(const std::filesystem::path& drmRoot, std::string_view manufacturer,
                        std::uint16_t productCode);

/// The process status file (like /proc/self/status) names a tracer: TracerPid is not 0.
bool IsTracerAttached(const std::filesystem::path& statusFile);

}  // namespace kiro::detail
