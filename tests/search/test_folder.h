// A folder of its own for each file-writing test, and the files in it read and
// written whole.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zemlaro::test {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void PutFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string Utf8(const std::u8string& text) { return std::string(text.begin(), text.end()); }

// A fresh folder for one test, removed with everything in it.
class Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    // A name no other folder has: create_directory says false when it was there.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
      const fs::path candidate =
          fs::path(::testing::TempDir()) / ("table_export_" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) folder_ = candidate;
    }
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }

  // Names and paths are UTF-8, as the program's are; std::filesystem's narrow
  // strings would be the system's ANSI code page on Windows.
  std::string At(const std::string& name) const {
    return Utf8((folder_ / fs::path(std::u8string(name.begin(), name.end()))).u8string());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(Utf8(entry.path().filename().u8string()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

}  // namespace zemlaro::test
