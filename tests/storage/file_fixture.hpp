// A machine whose home, configuration, data and temporary folders are fresh
// folders of the test's own, so that file tests never touch the user's.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "storage/files.hpp"
#include "storage/paths.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {

class FileTest : public NativeCallTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/talven-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* sub : {"/home", "/config", "/data", "/tmp", "/work"})
      std::filesystem::create_directory(root_ + sub);
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
    unsetenv("TALVEN_DIALOG_SCRIPT");
    NativeCallTest::SetUp();
  }
  void TearDown() override {
    NativeCallTest::TearDown();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // A file under the work folder with the given bytes; its POSIX path.
  std::string make_file(const std::string& name, const std::string& bytes) {
    std::string path = root_ + "/work/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  // The per-user temporary folder the runtime uses under this test's TMPDIR.
  std::string temp_folder() const { return root_ + "/tmp/talven-" + std::to_string(getuid()); }

  std::string root_;
};

}  // namespace core::testing
