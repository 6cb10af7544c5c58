#include "platform/linux/LinuxSystemInfo.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

const std::string kData = ORVEL_TEST_DATA;

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
        LinuxSystemInfo info(kData + c.root);
        EXPECT_EQ(info.platformUUID(), c.uuid) << c.root;
        EXPECT_EQ(info.osMajorVersion(), c.major) << c.root;
    }
}

TEST(LinuxSystemInfoTest, ReleaseNumbersGiveTheSystemVersion) {
    struct Case {
        const char* root;
        SystemInfo::Version version;
    };
    const Case cases[] = {
        {"/os/debian12", {12, 0, 0}},
        {"/os/ubuntu2204", {22, 4, 0}},
        {"/os/bare", {0, 0, 0}},
    };
    for (const auto& c : cases) {
        LinuxSystemInfo info(kData + c.root);
        const auto v = info.osVersion();
        EXPECT_EQ(v, c.version) << c.root << " read " << v.major << "." << v.minor << "."
                                << v.patch;
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
        LinuxSystemInfo info(kData + c.root);
        EXPECT_EQ(info.hardwareModel(), c.model) << c.root;
        EXPECT_EQ(info.chassisType(), c.chassis) << c.root;
    }
}

}  // namespace
}  // namespace orvel
