// Crash safety of resource file writes: a process that dies at any write,
// or a write that fails, leaves the file in its old or its new state, and
// the next open rolls an interrupted commit back.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "storage/resfile.hpp"
#include "tests/storage/crash_loop.hpp"
#include "tests/storage/rsrc_files.hpp"

namespace {
using namespace storage;
using namespace rsrc_testing;

using Commits = ScratchDir;

std::span<const uint8_t> text(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }
// The bytes of a literal, which outlive the span.
std::span<const uint8_t> text(const char* s) { return {reinterpret_cast<const uint8_t*>(s), std::strlen(s)}; }

void make_base(const std::string& file) {
  ASSERT_EQ(ResFile::create(file), 0);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  std::string a = "first", b = "second";
  add_ref(f->map, fourcc("TEST"), 128, &a, 0);
  add_ref(f->map, fourcc("TEST"), 129, &b, 1);
  ASSERT_EQ(f->update([](const ForkRef& r, std::span<const uint8_t>& out) {
    out = text(r.id == 128 ? "Hello" : "World");
    return true;
  }),
            0);
}

// The sequence under test: a grown resource written alone, an added one
// updated, a shortened one rewritten in place and updated again (what
// closing does). Answers the first failing code; records the listing after
// each step that succeeded.
int sequence(const std::string& file, std::vector<std::string>* listings) {
  std::unique_ptr<ResFile> f;
  if (int e = ResFile::open(file, f)) return e;
  auto note = [&] {
    std::string l;
    list_fork(*f, l);
    if (listings) listings->push_back(l);
  };
  std::string grown = "World, and a good deal more of it";
  ForkRef* r = find_ref(f->map, fourcc("TEST"), 129);
  r->attrs |= kResChanged;
  if (int e = f->write_resource(*r, text(grown))) return e;
  note();
  std::string name = "third";
  add_ref(f->map, fourcc("MORE"), 7, &name, 0);
  auto data = [](const ForkRef& ref, std::span<const uint8_t>& out) {
    out = text(ref.id == 7 ? "added data" : "Hi");
    return true;
  };
  if (int e = f->update(data)) return e;
  note();
  find_ref(f->map, fourcc("TEST"), 128)->attrs |= kResChanged;
  find_ref(f->map, fourcc("TEST"), 129)->name = "renamed";
  f->map.attrs |= kMapChanged;
  if (int e = f->update(data)) return e;
  note();
  return 0;
}

std::string listing_of(const std::string& file, int& code) {
  std::unique_ptr<ResFile> f;
  code = ResFile::open(file, f);
  std::string l;
  if (code == 0) code = list_fork(*f, l);
  return l;
}

// The states the sequence passes through from the base file at `pristine`,
// the first one included; `file` is left in the last.
std::vector<std::string> states_of_sequence(const std::string& file, const std::string& pristine) {
  make_base(pristine);
  int code = 0;
  std::vector<std::string> states{listing_of(pristine, code)};
  spit(file, slurp(pristine));
  EXPECT_EQ(sequence(file, &states), 0);
  return states;
}

TEST_F(Commits, ProcessDeathAtEveryWriteLeavesOldOrNewState) {
  std::string file = path("crash.rsrc"), pristine = path("pristine.rsrc");
  std::vector<std::string> states = states_of_sequence(file, pristine);
  kill_at_every_write({
      .restore = [&] { spit(file, slurp(pristine)); },
      .run = [&] { return sequence(file, nullptr) == 0; },
      .state = [&](int& c) { return listing_of(file, c); },
      .states = states,
      .distinct = 4,
  });
}

TEST_F(Commits, FailedWriteRollsBackAtOnce) {
  std::string file = path("fail.rsrc"), pristine = path("pristine.rsrc");
  std::vector<std::string> states = states_of_sequence(file, pristine);
  ASSERT_EQ(states.size(), 4u);
  int code = 0;
  for (uint64_t n = 1; n < 200; ++n) {
    spit(file, slurp(pristine));
    set_write_fault(n, FaultMode::Fail);
    std::vector<std::string> reached;
    int e = sequence(file, &reached);
    bool done = writes_done() < n;
    clear_write_fault();
    if (done) {
      EXPECT_EQ(e, 0);
      break;
    }
    EXPECT_EQ(e, kResWriteErr) << n;
    // The file is in the state of the last step that succeeded, and no
    // journal is left behind.
    std::string l = listing_of(file, code);
    ASSERT_EQ(code, 0) << n;
    EXPECT_EQ(l, states[reached.size()]) << n;
    EXPECT_TRUE(std::filesystem::is_empty(state + "/talven")) << n;
  }
}

TEST_F(Commits, JournalsAreCheckedBeforeUse) {
  std::string file = path("j.rsrc");
  make_base(file);
  std::vector<uint8_t> before = slurp(file);
  // A commit that dies after its journal and half its first write.
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<ResFile> f;
    if (ResFile::open(file, f)) _exit(1);
    ForkRef* r = find_ref(f->map, fourcc("TEST"), 128);
    r->attrs |= kResChanged;
    set_write_fault(4, FaultMode::Exit);  // journal write, rename, then the data
    f->write_resource(*r, text("a longer replacement"));
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 75);
  ASSERT_NE(slurp(file), before);
  struct stat st;
  stat(file.c_str(), &st);
  std::string journal = journal_path({st.st_dev, st.st_ino});
  std::vector<uint8_t> good = slurp(journal);
  ASSERT_FALSE(good.empty());

  // Readers that must not write see the committed state through the
  // journal, and the file stays as the crash left it.
  bool pending = false;
  std::string why;
  int view = committed_view(file, pending, why);
  ASSERT_GE(view, 0);
  std::vector<uint8_t> seen(before.size() + 16);
  ssize_t got = pread(view, seen.data(), seen.size(), 0);
  close(view);
  EXPECT_TRUE(pending);
  EXPECT_EQ(std::vector<uint8_t>(seen.begin(), seen.begin() + std::max<ssize_t>(got, 0)), before);
  EXPECT_NE(slurp(file), before);

  // A torn journal is dropped and the file is not touched.
  std::vector<uint8_t> torn(good.begin(), good.end() - 3);
  spit(journal, torn);
  std::vector<uint8_t> damaged = slurp(file);
  EXPECT_EQ(recover_file(file), 0);
  EXPECT_EQ(slurp(file), damaged);
  EXPECT_TRUE(slurp(journal).empty());
  // A journal for the same inode under another path is left alone.
  spit(journal, good);
  std::string other = path("other.rsrc");
  ASSERT_EQ(link(file.c_str(), other.c_str()), 0);
  EXPECT_EQ(recover_file(other), 0);
  EXPECT_EQ(slurp(file), damaged);
  // The valid one restores the old bytes and size.
  EXPECT_EQ(recover_file(file), 0);
  EXPECT_EQ(slurp(file), before);
  EXPECT_TRUE(slurp(journal).empty());
  // A journal left unnamed by a writer's death is removed at the next open,
  // and the file it never touched is left as it is.
  spit(journal + ".new", torn);
  EXPECT_EQ(recover_file(file), 0);
  EXPECT_EQ(access((journal + ".new").c_str(), F_OK), -1);
  EXPECT_EQ(slurp(file), before);
}

}  // namespace
