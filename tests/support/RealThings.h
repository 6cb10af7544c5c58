#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

// For tests of real things (processes, sockets): waiting for an event with a limit of seconds,
// and reading what a process wrote.

namespace orvel::test {

// Checks `condition` until it holds or `limitSeconds` have passed.
inline bool waitUntil(const std::function<bool()>& condition, double limitSeconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(limitSeconds * 1000));
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string firstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

// The fixture trees the Linux readers are pointed at.
inline const std::string kTestData = ORVEL_TEST_DATA;
inline const std::string kSysfs = kTestData + "/sysfs/";

}  // namespace orvel::test
