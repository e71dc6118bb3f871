// A temporary directory for one test, removed with everything in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct TmpDir {
    std::filesystem::path dir;
    TmpDir() {
        dir = std::filesystem::temp_directory_path() /
              ("tarvex-test-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::create_directories(dir);
    }
    ~TmpDir() { std::filesystem::remove_all(dir); }
    TmpDir(const TmpDir&) = delete;
    TmpDir& operator=(const TmpDir&) = delete;

    // The path of `rel` inside the directory.
    std::string at(const std::string& rel) const { return (dir / rel).string(); }
    // Writes `text` to `rel` (directories created); returns its path.
    std::string write(const std::string& rel, const std::string& text) const {
        auto p = dir / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    // The names of the directory's entries, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};
