// The kill-at-every-write loop of the storage tests: a child process runs a
// writing sequence and dies at its n-th write, for n = 1, 2, ... until the
// sequence runs past its last write; after every death the file must open
// and be in one of the states the sequence passes through, and every one
// of those states must be met by some death. This is what "every write
// leaves the old state or the new" means for a whole sequence.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/commit.hpp"

namespace rsrc_testing {

struct CrashLoop {
  // Puts the file back in its first state before each run.
  std::function<void()> restore;
  // The writing sequence, run in the child: true when it ran to its end.
  // An exception counts as false.
  std::function<bool()> run;
  // The state of the file as a fresh open finds it; code is 0 when it opens.
  std::function<std::string(int& code)> state;
  // The states between the steps of the sequence, the first one included,
  // and how many of them differ.
  std::vector<std::string> states;
  size_t distinct = 0;
  // More checks after each death (n is the write it died at).
  std::function<void(uint64_t n)> after_death = nullptr;
  uint64_t most_writes = 200;
};

inline void kill_at_every_write(const CrashLoop& loop) {
  const std::set<std::string> valid(loop.states.begin(), loop.states.end());
  ASSERT_EQ(valid.size(), loop.distinct);
  std::set<std::string> seen;
  for (uint64_t n = 1;; ++n) {
    ASSERT_LT(n, loop.most_writes);
    loop.restore();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      storage::set_write_fault(n, storage::FaultMode::Exit);
      bool done = false;
      try {
        done = loop.run();
      } catch (...) {
      }
      _exit(done ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    int code = 0;
    std::string s = loop.state(code);
    ASSERT_EQ(code, 0) << "died at write " << n;
    EXPECT_TRUE(valid.count(s)) << "died at write " << n << ":\n" << s;
    seen.insert(s);
    if (loop.after_death) loop.after_death(n);
    if (WEXITSTATUS(status) == 0) break;  // the sequence ran past its last write
    EXPECT_EQ(WEXITSTATUS(status), 75) << "died at write " << n;
  }
  // Every state was reached by some death, the interrupted ones included.
  EXPECT_EQ(seen, valid);
}

}  // namespace rsrc_testing
