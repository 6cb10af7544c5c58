#include "platform/linux/LinuxSystemInfo.h"
#include "support/RealThings.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace orvel {
namespace {

TEST(LinuxSystemInfoTest, ReadsMachineIdAndReleaseMajor) {
    struct Case {
        const char* root;
        std::optional<std::string> uuid;
        int major;
    };
    const Case cases[] = {
        {"/os/debian12", "3F6C1E0A-9B2D-4C5E-8F7A-6B5C4D3E2F10", 12},
        {"/os/ubuntu2204", std::nullopt, 22},
        {"/os/bare", std::nullopt, 0},
    };
    for (const auto& c : cases) {
        LinuxSystemInfo info(test::kTestData + c.root);
        EXPECT_EQ(info.platformUUID(), c.uuid) << c.root;
        EXPECT_EQ(info.osMajorVersion(), c.major) << c.root;
    }
}

TEST(LinuxSystemInfoTest, ReleaseNumbersGiveTheSystemVersion) {
    struct Case {
        const char* root;
        SystemInfo::Version version;
        const char* name;
    };
    const Case cases[] = {
        {"/os/debian12", {12, 0, 0}, "Debian GNU/Linux 12 (bookworm)"},
        {"/os/ubuntu2204", {22, 4, 0}, "Ubuntu 22.04.4 LTS (Jammy Jellyfish)"},  // no PRETTY_NAME
        {"/os/bare", {0, 0, 0}, "Linux"},
    };
    for (const auto& c : cases) {
        LinuxSystemInfo info(test::kTestData + c.root);
        const auto v = info.osVersion();
        EXPECT_EQ(v, c.version) << c.root << " read " << v.major << "." << v.minor << "."
                                << v.patch;
        EXPECT_EQ(info.osName(), c.name) << c.root;
    }
}

TEST(LinuxSystemInfoTest, DmiIdsGiveTheModelAndChassis) {
    struct Case {
        const char* root;
        std::optional<std::string> model;
        std::optional<int> chassis;
    };
    const Case cases[] = {
        {"/os/debian12", "ThinkPad X1 Carbon Gen 11", 10},
        {"/os/ubuntu2204", "OptiPlex 7090", 3},
        {"/os/bare", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        LinuxSystemInfo info(test::kTestData + c.root);
        EXPECT_EQ(info.hardwareModel(), c.model) << c.root;
        EXPECT_EQ(info.chassisType(), c.chassis) << c.root;
    }
}

std::string hostName() {
    char name[256] = {};
    EXPECT_EQ(gethostname(name, sizeof name - 1), 0);
    return name;
}

TEST(LinuxSystemInfoTest, TheComputersNameIsThePrettyHostNameElseTheHostName) {
    struct Case {
        const char* root;
        std::string name;
    };
    const Case cases[] = {
        {"/os/debian12", "Alex's \"Work\" Laptop"},
        {"/os/ubuntu2204", hostName()},  // an empty pretty name counts as none
        {"/os/bare", hostName()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinuxSystemInfo(test::kTestData + c.root).localizedHostName(), c.name) << c.root;
    }
}

TEST(LinuxSystemInfoTest, AssignmentsReadAsTheShellWouldReadThem) {
    struct Case {
        const char* text;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"KEY=plain", "plain"},
        {"KEY='single \"kept\"'", "single \"kept\""},
        {"KEY=\"escaped \\\" and \\\\\"", "escaped \" and \\"},
        {"OTHER=1\nKEY=first\nKEY=last\n", "last"},
        {"KEYS=no\n#KEY=comment", std::nullopt},
        {"KEY=", ""},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinuxSystemInfo::assignmentValue(c.text, "KEY"), c.value) << c.text;
    }
}

TEST(LinuxSystemInfoTest, TheFullNameIsThePasswdCommentUpToItsFirstComma) {
    const std::pair<const char*, const char*> cases[] = {
        {"Alex Example,Room 4,555-1234,,", "Alex Example"},
        {"Alex Example", "Alex Example"},
        {",Room 4", ""},
        {"", ""},
    };
    for (const auto& [gecos, name] : cases) {
        EXPECT_EQ(LinuxSystemInfo::fullNameFromGecos(gecos), name) << gecos;
    }
}

TEST(LinuxSystemInfoTest, UserAndMachineFactsComeFromTheRunningSystem) {
    LinuxSystemInfo info;
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(info.architecture(), names.machine);
    EXPECT_EQ(info.kernelRelease(), names.release);
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(info.userName(), entry->pw_name);
    EXPECT_EQ(info.homeDirectory(), entry->pw_dir);
    EXPECT_EQ(info.fullUserName(), LinuxSystemInfo::fullNameFromGecos(entry->pw_gecos));
}

}  // namespace
}  // namespace orvel
