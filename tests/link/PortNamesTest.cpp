// COM numbers to device names, on a temporary folder standing in for /dev.

#include "link/PortNames.h"

#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#if defined(__unix__)
#include <grp.h>
#include <unistd.h>

#include "link/PortAccess.h"
#endif

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

#if defined(__unix__)

// The advice names the group that owns the port, whichever it is, and tells a login that is
// already in it from an account that must join it.
TEST_F(PortNamesTest, PermissionAdviceNamesThePortsOwnGroup) {
    MakeDevice("ttyUSB0");
    const std::string port = (dev / "ttyUSB0").string();
    const group* foreign = getgrnam("uucp");
    if (foreign == nullptr) {
        foreign = getgrnam("dialout");
    }
    ASSERT_NE(foreign, nullptr) << "no uucp or dialout group to test with";
    const std::string name = foreign->gr_name;
    if (chown(port.c_str(), static_cast<uid_t>(-1), foreign->gr_gid) != 0) {
        GTEST_SKIP() << "this account cannot give a file to the group " << name;
    }
    const std::string advice = PermissionAdvice(port);
    if (getegid() != foreign->gr_gid) {
        EXPECT_NE(advice.find("group " + name), std::string::npos) << advice;
        EXPECT_TRUE(advice.find("usermod -aG " + name) != std::string::npos ||
                    advice.find("newgrp " + name) != std::string::npos)
            << advice;
    }
    ASSERT_EQ(chown(port.c_str(), static_cast<uid_t>(-1), getegid()), 0);
    const std::string own = PermissionAdvice(port);
    EXPECT_NE(own.find("although this login is in the port's group"), std::string::npos) << own;
    EXPECT_EQ(PermissionAdvice((dev / "missing").string()), "permission denied.");
}

// Joining root's group is never the advice (it opens far more than a port), and a login that
// began before the account joined needs a new login, not another usermod.
TEST(GroupAdvice, AdvisesWhatHelpsTheAccount) {
    const struct {
        const char* name;
        const char* group;
        bool rootGroup;
        GroupStanding standing;
        const char* says;
        const char* never;
    } rows[] = {
        {"root's group", "root", true, GroupStanding::Outside, "sudo chown \"$USER\" /dev/pts/7",
         "usermod"},
        {"a serial group", "dialout", false, GroupStanding::Outside, "usermod -aG dialout",
         "chown"},
        {"joined since login", "dialout", false, GroupStanding::JoinedSinceLogin, "newgrp dialout",
         "usermod"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string advice =
            GroupAdvice("/dev/pts/7", row.group, row.rootGroup, row.standing);
        EXPECT_NE(advice.find(row.says), std::string::npos) << advice;
        EXPECT_EQ(advice.find(row.never), std::string::npos) << advice;
    }
}
#endif

}  // namespace
}  // namespace q218
