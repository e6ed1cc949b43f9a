#include "common/systemQueries.h"
#include "common/systemQueriesPosix.h"

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <link.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;
using kiro::detail::IsEdidPanelPresent;
using kiro::detail::IsUsbDevicePresent;

void FunctionInTheProgram() {}

/// A fresh temporary directory, removed with everything in it.
class SysfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kiroSystemQueriesXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    /// Writes `dir/device/file`, the device entry linking to its real directory as in sysfs.
    void Write(const std::string& dir, const std::string& device, const std::string& file, std::string_view content) {
        const fs::path real = root_ / "devices" / device;
        fs::create_directories(real);
        fs::create_directories(root_ / dir);
        if (!fs::exists(root_ / dir / device)) {
            fs::create_directory_symlink(real, root_ / dir / device);
        }
        std::ofstream(real / file, std::ios::binary) << content;
    }

    fs::path root_;
};

/// A base EDID block with the manufacturer and product bytes as stored.
std::string Edid(unsigned char m0, unsigned char m1, unsigned char p0, unsigned char p1, std::size_t size = 128) {
    std::string edid("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8);
    edid += {static_cast<char>(m0), static_cast<char>(m1), static_cast<char>(p0), static_cast<char>(p1)};
    edid.resize(size, '\x01');
    return edid;
}

TEST_F(SysfsTest, ModuleLinksComeBackWholeOrAreLogged) {
    // Around the first buffer's 1024 characters and past two doublings (the limit is 4095).
    for (const std::size_t length : {1023u, 1024u, 1025u, 4095u}) {
        std::string target = "/";
        while (target.size() < length) {
            target += "directory/";
        }
        target.resize(length);
        const fs::path link = root_ / std::to_string(length);
        fs::create_symlink(target, link);
        EXPECT_EQ(kiro::detail::GetModuleFilePath(link.c_str()), target) << length;
    }
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(1);
    spdlog::default_logger()->sinks().push_back(sink);
    EXPECT_TRUE(kiro::detail::GetModuleFilePath((root_ / "missing").c_str()).empty());
    spdlog::default_logger()->sinks().pop_back();
    const auto logged = sink->last_raw();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, spdlog::level::err);
    EXPECT_EQ(std::string_view(logged[0].payload.data(), logged[0].payload.size()),
              "Failed to query module filename: ec=2");
}

TEST(SystemQueriesPosixTest, ProgramAddressGivesTheExecutableWhateverItsArgumentZero) {
    // dladdr names the main program by argv[0], whose characters program_invocation_name shares.
    const std::string original = program_invocation_name;
    std::fill_n(program_invocation_name, original.size(), 'x');
    const fs::path found = kiro::GetLibraryPath(reinterpret_cast<void*>(&FunctionInTheProgram));
    std::copy(original.begin(), original.end(), program_invocation_name);
    EXPECT_EQ(found, fs::read_symlink("/proc/self/exe"));
}

TEST(SystemQueriesPosixTest, LibraryOpenedByARelativePathGetsAnAbsolutePath) {
    const fs::path library = kiro::GetLibraryPath(reinterpret_cast<void*>(&gnu_get_libc_version)).parent_path() /
                             "libanl.so.1";
    ASSERT_TRUE(library.is_absolute() && fs::exists(library)) << library;
    const fs::path relative = fs::relative(library, fs::current_path());
    const std::unique_ptr<void, int (*)(void*)> handle(dlopen(relative.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_TRUE(handle) << dlerror();
    link_map* module = nullptr;
    ASSERT_EQ(dlinfo(handle.get(), RTLD_DI_LINKMAP, &module), 0);
    ASSERT_EQ(fs::path(module->l_name), relative) << "the loader no longer keeps relative names";
    // The module's dynamic section lies inside its image.
    const fs::path found = kiro::GetLibraryPath(const_cast<ElfW(Dyn)*>(module->l_ld));
    EXPECT_TRUE(found.is_absolute() && fs::equivalent(found, library)) << found;
}

TEST(SystemQueriesPosixTest, ErrnoAndEnvironmentAnswerTheTextAndFolderQueries) {
    errno = ENOENT;
    const std::string text = kiro::GetLastErrorAsString();
    EXPECT_EQ(text, std::strerror(ENOENT));

    const char* saved = std::getenv("XDG_DATA_DIRS");
    const std::string previous = saved ? saved : "";
    for (const auto& [dirs, expected] : {std::pair{"/opt/kiro/share:/usr/share", "/opt/kiro/share"},
                                         {"relative/share::/srv/share", "/srv/share"},
                                         {"", "/usr/local/share"},
                                         {":relative", "/usr/local/share"}}) {
        setenv("XDG_DATA_DIRS", dirs, 1);
        EXPECT_EQ(kiro::GetAppDataPath(), expected) << dirs;
    }
    unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(kiro::GetAppDataPath(), "/usr/local/share");
    if (saved) {
        setenv("XDG_DATA_DIRS", previous.c_str(), 1);
    }
}

TEST_F(SysfsTest, UsbCameraNeedsBothIdsOnOneDevice) {
    EXPECT_FALSE(IsUsbDevicePresent(root_ / "usb", "8086", "0b07"));
    Write("usb", "1-1:1.0", "bInterfaceClass", "0e\n");
    Write("usb", "1-1", "idVendor", "8086\n");
    Write("usb", "1-1", "idProduct", "0b3a\n");
    Write("usb", "1-2", "idVendor", "8087\n");
    Write("usb", "1-2", "idProduct", "0b07\n");
    Write("usb", "1-3", "idVendor", "808\n");
    Write("usb", "1-3", "idProduct", "0b070\n");
    Write("usb", "1-4", "idVendor", "8086\n");
    EXPECT_FALSE(IsUsbDevicePresent(root_ / "usb", "8086", "0b07"));

    Write("usb", "2-1", "idVendor", "8086");
    Write("usb", "2-1", "idProduct", "0B07\n");
    EXPECT_TRUE(IsUsbDevicePresent(root_ / "usb", "8086", "0b07"));
    EXPECT_TRUE(IsUsbDevicePresent(root_ / "usb", "8086", "0B07"));
}

// "AUO" packs to 0x06AF; product 0x2E9A is stored low byte first.
TEST_F(SysfsTest, PanelNeedsAValidEdidWithItsCodesInTheirByteOrder) {
    auto panelPresent = [&] { return IsEdidPanelPresent(root_ / "drm", "AUO", 0x2E9A); };
    EXPECT_FALSE(panelPresent());
    std::string badHeader = Edid(0x06, 0xAF, 0x9A, 0x2E);
    badHeader[7] = '\xFF';
    Write("drm", "card0", "dev", "226:0\n");
    Write("drm", "card0-HDMI-A-1", "edid", "");
    Write("drm", "card0-eDP-1", "edid", Edid(0x06, 0xAF, 0x2E, 0x9A));
    Write("drm", "card0-DP-1", "edid", Edid(0xAF, 0x06, 0x9A, 0x2E));
    Write("drm", "card0-DP-2", "edid", Edid(0x4D, 0x10, 0x9A, 0x2E));
    Write("drm", "card0-DP-3", "edid", Edid(0x06, 0xAF, 0x9A, 0x2E, 127));
    Write("drm", "card0-DP-4", "edid", badHeader);
    EXPECT_FALSE(panelPresent());
    EXPECT_TRUE(IsEdidPanelPresent(root_ / "drm", "SHP", 0x2E9A));

    Write("drm", "card1-eDP-1", "edid", Edid(0x06, 0xAF, 0x9A, 0x2E, 256));
    EXPECT_TRUE(panelPresent());
}

TEST_F(SysfsTest, TracerPidOtherThanZeroMeansADebugger) {
    Write("proc", "traced", "status", "Name:\tt\nState:\tS (sleeping)\nTracerPid:\t4242\n");
    Write("proc", "untraced", "status", "Name:\tt\nTracerPid:\t0\nUid:\t0\n");
    Write("proc", "noField", "status", "Name:\tt\n");
    EXPECT_TRUE(kiro::detail::IsTracerAttached(root_ / "proc/traced/status"));
    EXPECT_FALSE(kiro::detail::IsTracerAttached(root_ / "proc/untraced/status"));
    EXPECT_FALSE(kiro::detail::IsTracerAttached(root_ / "proc/noField/status"));
    EXPECT_FALSE(kiro::detail::IsTracerAttached(root_ / "proc/missing/status"));
}

TEST(SystemQueriesPosixTest, WaitForDebuggerReturnsOnceTheProcessIsTraced) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(60);  // ends the child rather than hanging the test if the wait never returns
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            _exit(2);
        }
        kiro::WaitForDebugger();
        _exit(0);
    }
    // This process is the child's tracer: a signal stops the child until it is resumed.
    int status = 0;
    while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<std::intptr_t>(WSTOPSIG(status))));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "tracing is not permitted here";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
