// Helpers of the resource file tests: a scratch folder with its own state
// directory, whole-file reads and writes, the shared sample corpus.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "storage/sha256.hpp"

namespace rsrc_testing {

inline std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void spit(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string file_sha(const std::string& path) { return storage::sha256_hex(slurp(path)); }

// The sample corpus beside the project (or beside the worktrees), or "".
inline std::string corpus_dir() {
  for (const char* rel : {"/../shared/corpus", "/../../shared/corpus"}) {
    std::string d = std::string(TALVEN_SOURCE_DIR) + rel;
    struct stat st;
    if (stat((d + "/rsrc").c_str(), &st) == 0) return d;
  }
  return "";
}
// Where the corpus is looked for first, for the line a skipped test prints.
inline std::string corpus_place() { return std::string(TALVEN_SOURCE_DIR) + "/../shared/corpus/rsrc"; }

// A scratch folder; the rollback journals go to its own state directory
// and the flushes are skipped.
struct Scratch {
  Scratch() {
    char tmpl[] = "/tmp/talven-rsrc-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    state = dir + "/state";
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("TALVEN_NO_FSYNC", "1", 1);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string dir, state;
};

class ScratchDir : public ::testing::Test, public Scratch {};

}  // namespace rsrc_testing
