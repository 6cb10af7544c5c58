#include "support/OrvelTest.h"

#include "foundation/DateFormatting.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace orvel::test {

void installHelpPages(SimPaths& paths) {
    std::filesystem::create_directories(paths.resourcesDirectory());
    std::filesystem::create_directory_symlink(std::string(ORVEL_RESOURCES) + "/help",
                                              paths.resourcesDirectory() + "/help");
}

void acceptAgreement(SimPaths& paths) {
    const std::string folder = paths.applicationSupportDirectory();
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/eula-assent.json")
        << R"({"version":"1.0-draft","sha256":"x","timestamp":1,"appVersion":"0.1.0",)"
           R"("build":"1","scrolledToEnd":true})";
}

void OrvelTest::SetUp() {
    // Times of day print the same everywhere.
    setenv("TZ", "UTC", 1);
    tzset();
    setCurrentLocaleIdentifier("en_US");
    releaseServices();
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    RunLoop::install(std::move(loop));
    auto sim = std::make_unique<SimPlatform>();
    sim_ = sim.get();
    Platform::install(std::move(sim));

    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = ::testing::TempDir() + "orvel-" + std::to_string(::getpid()) + "-" +
               info->test_suite_name() + "-" + info->name();
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_);
    sim_->paths().setRoot(scratch_);
    installHelpPages(sim_->paths());
}

void OrvelTest::TearDown() {
    releaseServices();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    sim_ = nullptr;
    loop_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

bool OrvelTest::drainUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < limit) {
        loop().drain();
    }
    return done();
}

}  // namespace orvel::test
