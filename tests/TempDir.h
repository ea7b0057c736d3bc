#pragma once
// A temporary folder for one test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelox5-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    mPath = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return mPath; }

 private:
  std::string mPath;
};
