#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// A fresh folder per test, removed afterwards, named after the running test
// so parallel test processes never share one.
class TempFolder {
public:
    TempFolder() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("flashlock-test-") + test->test_suite_name() + "-" + test->name();
        for (char& c : name) {
            if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') {
                c = '_';
            }
        }
        // Runs of the suite side by side (other build folders, other
        // checkouts) must not share a folder: the name carries this run's own tag.
        static const std::string run = std::to_string(std::random_device()());
        path = std::filesystem::path(testing::TempDir()) / (name + "-" + run);
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    TempFolder(TempFolder&&) = delete;
    TempFolder& operator=(TempFolder&&) = delete;

    [[nodiscard]] std::string file(const std::string& name) const { return (path / name).string(); }

    std::filesystem::path path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
