// COM numbers to device names, on a temporary folder standing in for /dev.

#include "link/PortNames.h"

#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

namespace q218 {
namespace {

namespace fs = std::filesystem;

class PortNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of its own: other build folders may run this test at the same time.
        do {
            dev =
                fs::temp_directory_path() / ("q218-dev-" + std::to_string(std::random_device{}()));
        } while (!fs::create_directory(dev));
    }
    void TearDown() override { fs::remove_all(dev); }

    void MakeDevice(const std::string& name) { std::ofstream(dev / name).put('\0'); }

    // The udev link `name` -> `target`. MinGW's runtime makes no symbolic links on Windows
    // ("function not supported"), where the Linux naming's links cannot be tested.
    bool Link(const std::string& target, const std::string& name) {
        std::error_code error;
        fs::create_symlink(dev / target, dev / name, error);
        EXPECT_TRUE(!error || error == std::errc::function_not_supported) << error.message();
        return !error;
    }

    fs::path dev;
};

TEST_F(PortNamesTest, KernelNameWithoutAnAdministratorsLink) {
    EXPECT_EQ(LinuxPortName(1, dev), (dev / "ttyS0").string());
    EXPECT_EQ(LinuxPortName(4, dev), (dev / "ttyS3").string());
}

TEST_F(PortNamesTest, AdministratorsLinkWins) {
    MakeDevice("ttyUSB0");
    if (!Link("ttyUSB0", "COM3")) {
        GTEST_SKIP() << "no symbolic links here";
    }
    EXPECT_EQ(LinuxPortName(3, dev), (dev / "COM3").string());
    EXPECT_EQ(LinuxPortName(2, dev), (dev / "ttyS1").string()) << "only COM3 has a link";
}

TEST_F(PortNamesTest, LinkOfAnUnpluggedAdapterIsSkipped) {
    if (!Link("ttyUSB0", "COM2")) {
        GTEST_SKIP() << "no symbolic links here";
    }
    EXPECT_EQ(LinuxPortName(2, dev), (dev / "ttyS1").string());
}

TEST_F(PortNamesTest, NoNameForPortsBelowOne) {
    EXPECT_EQ(LinuxPortName(0, dev), "");
    EXPECT_EQ(LinuxPortName(-1, dev), "");
}

TEST(UpdaterPortNamesTest, UsesThePlatformsNaming) {
    const PortNameMap names = UpdaterPortNames();
    for (std::int16_t port = 1; port <= 4; ++port) {
#ifdef _WIN32
        EXPECT_EQ(names(port), "COM" + std::to_string(port));
#else
        EXPECT_EQ(names(port), LinuxPortName(port, "/dev"));
#endif
    }
    EXPECT_EQ(names(0), "");
}

}  // namespace
}  // namespace q218
