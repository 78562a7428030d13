// COM numbers to device names, on a temporary folder standing in for /dev.

#include "link/PortNames.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace q218 {
namespace {

namespace fs = std::filesystem;

class PortNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "q218-dev-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dev = pattern;
    }
    void TearDown() override { fs::remove_all(dev); }

    void MakeDevice(const std::string& name) { std::ofstream(dev / name).put('\0'); }

    fs::path dev;
};

TEST_F(PortNamesTest, KernelNameWithoutAnAdministratorsLink) {
    EXPECT_EQ(LinuxPortName(1, dev), (dev / "ttyS0").string());
    EXPECT_EQ(LinuxPortName(4, dev), (dev / "ttyS3").string());
}

TEST_F(PortNamesTest, AdministratorsLinkWins) {
    MakeDevice("ttyUSB0");
    fs::create_symlink(dev / "ttyUSB0", dev / "COM3");
    EXPECT_EQ(LinuxPortName(3, dev), (dev / "COM3").string());
    EXPECT_EQ(LinuxPortName(2, dev), (dev / "ttyS1").string()) << "only COM3 has a link";
}

TEST_F(PortNamesTest, LinkOfAnUnpluggedAdapterIsSkipped) {
    fs::create_symlink(dev / "ttyUSB0", dev / "COM2");
    EXPECT_EQ(LinuxPortName(2, dev), (dev / "ttyS1").string());
}

TEST_F(PortNamesTest, NoNameForPortsBelowOne) {
    EXPECT_EQ(LinuxPortName(0, dev), "");
    EXPECT_EQ(LinuxPortName(-1, dev), "");
}

#ifndef _WIN32
TEST(UpdaterPortNamesTest, UsesTheLinuxNamingOnDev) {
    const PortNameMap names = UpdaterPortNames();
    for (std::int16_t port = 1; port <= 4; ++port) {
        EXPECT_EQ(names(port), LinuxPortName(port, "/dev"));
    }
}
#endif

}  // namespace
}  // namespace q218
