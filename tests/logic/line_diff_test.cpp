// compare-buffers: the change records turn the first text into the second,
// the path is as short as GNU diff --minimal finds it, the records of the
// editor's cases, and the line limit.
#include "logic/line_diff.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "data/handles.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

const char CR = '\r';

// Applies change records, from the last to the first, to the first text.
std::string apply(const logic::LineDiff& d, std::string a, const std::string& b) {
  for (size_t i = d.changes.size(); i-- > 0;) {
    const logic::LineChange& c = d.changes[i];
    if (c.kind == logic::LineChange::Deletion)
      a.erase(c.start, c.end - c.start);
    else
      a.insert(c.position, b, c.start, c.end - c.start);
  }
  return a;
}

// Deleted plus inserted lines of the records (texts whose lines all end
// with a carriage return).
int changed_lines(const logic::LineDiff& d, const std::string& a, const std::string& b) {
  int n = 0;
  for (const logic::LineChange& c : d.changes) {
    const std::string& t = c.kind == logic::LineChange::Deletion ? a : b;
    for (uint32_t i = c.start; i < c.end; ++i) n += t[i] == CR;
  }
  return n;
}

logic::LineDiff compare(const std::string& a, const std::string& b) {
  return logic::compare_lines(reinterpret_cast<const uint8_t*>(a.data()), uint32_t(a.size()),
                              reinterpret_cast<const uint8_t*>(b.data()), uint32_t(b.size()));
}

// GNU diff's count of deleted plus inserted lines, or -1 without diff.
int diff_minimal(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  static int serial = 0;
  auto dir = std::filesystem::temp_directory_path();
  std::string stem = "talven-diff-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  auto pa = dir / (stem + "-a"), pb = dir / (stem + "-b");
  {
    std::ofstream fa(pa), fb(pb);
    for (auto& l : a) fa << l << '\n';
    for (auto& l : b) fb << l << '\n';
  }
  std::string cmd = "diff --minimal '" + pa.string() + "' '" + pb.string() + "' 2>/dev/null";
  FILE* f = popen(cmd.c_str(), "r");
  if (f == nullptr) return -1;
  int n = 0;
  char line[4096];
  while (std::fgets(line, sizeof line, f))
    if (line[0] == '<' || line[0] == '>') ++n;
  int rc = pclose(f);
  std::filesystem::remove(pa);
  std::filesystem::remove(pb);
  return WIFEXITED(rc) && WEXITSTATUS(rc) <= 1 ? n : -1;
}

std::string join(const std::vector<std::string>& lines) {
  std::string s;
  for (auto& l : lines) s += l + CR;
  return s;
}

class LineDiff : public NativeCallTest {
 protected:
  Value buffer(const std::string& s) {
    Addr a = data::new_pointer(uint32_t(s.size()));
    if (!s.empty()) std::memcpy(at_addr(a), s.data(), s.size());
    return data::box_pointer(a);
  }
  std::string records(const std::string& a, const std::string& b) {
    return text(callv("compare-buffers", {buffer(a), fix(int(a.size())), buffer(b), fix(int(b.size()))}));
  }
};

TEST_F(LineDiff, RecordsRebuildTheSecondTextWithAsFewChangesAsDiffMinimal) {
  if (std::system("diff --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU diff missing (scripts/deps.sh installs it)";
  std::mt19937 rng(2026);
  const char* words[] = {"a", "b", "c", "d", "", "a b"};
  for (int round = 0; round < 60; ++round) {
    // Every tenth pair is long and unrelated: its path spans several
    // checkpoint blocks.
    size_t lines = round % 10 == 9 ? 150 + rng() % 100 : 1 + rng() % 30;
    std::vector<std::string> a(lines);
    for (auto& l : a) l = words[rng() % 6];
    // The second text: the first with random deletions, insertions and
    // replacements, or an unrelated text.
    std::vector<std::string> b;
    if (round % 10 == 9) {
      b.resize(150 + rng() % 100);
      for (auto& l : b) l = words[rng() % 6];
    } else {
      for (auto& l : a) {
        int r = int(rng() % 8);
        if (r == 0) continue;
        if (r == 1) b.push_back(words[rng() % 6]);
        if (r == 2) {
          b.push_back(words[rng() % 6]);
          continue;
        }
        b.push_back(l);
      }
      if (b.empty()) b.push_back("z");
    }
    std::string ta = join(a), tb = join(b);
    logic::LineDiff d = compare(ta, tb);
    EXPECT_EQ(apply(d, ta, tb), tb) << round;
    EXPECT_EQ(changed_lines(d, ta, tb), diff_minimal(a, b)) << round;
  }
}

TEST_F(LineDiff, RecordsOfTheEditorsCases) {
  std::string abc = std::string("a\rb\rc\r"), axc = std::string("a\rx\rc\r");
  EXPECT_EQ(records(abc, abc), "(0)");
  EXPECT_EQ(records("", ""), "(0)");
  // A replacement counts once.
  EXPECT_EQ(records(abc, axc), "(1 (0 4 2 4) (1 4 2 4))");
  // Runs join; a deletion and an insertion apart count twice.
  EXPECT_EQ(records("a\rb\rc\rd\r", "c\rd\re\rf\r"), "(2 (0 4 0 4) (1 8 4 8))");
  // A last line without a carriage return is a whole line, and the records
  // end at the text's length.
  EXPECT_EQ(records("a\rb", "a\rc"), "(1 (0 3 2 3) (1 3 2 3))");
  EXPECT_EQ(records("a\rb", "a\rb\r"), "(0)");
  EXPECT_EQ(records("a\r", "a\rb"), "(1 (1 2 2 3))");
  EXPECT_EQ(records("", "a\r"), "(1 (0 0 0 0) (1 0 0 2))");
  // A line feed is an ordinary byte.
  EXPECT_EQ(records("a\nb\r", "a\r"), "(1 (0 4 0 4) (1 4 0 2))");
}

TEST_F(LineDiff, TheLineLimitIs8191) {
  // 8,191 lines compare, even wholly different texts (the slowest case:
  // smaller in the unoptimised sanitizer build); 8,192 lines are error 2
  // with the script's element count.
#ifdef NDEBUG
  const int different = 8191;
#else
  const int different = 2000;
#endif
  std::string a, b;
  for (int i = 0; i < 8191; ++i) {
    a += "a" + std::to_string(i) + CR;
    b += (i < different ? "b" : "a") + std::to_string(i) + CR;
  }
  logic::LineDiff d = compare(a, b);
  EXPECT_EQ(d.count, 1u);
  ASSERT_EQ(d.changes.size(), 2u);
  EXPECT_EQ(apply(d, a, b), b);
  std::string c = a + "x" + CR;
  std::string culprit;
  EXPECT_EQ(error_in([&] { compare(c, b); }, &culprit), 2);
  EXPECT_EQ(culprit, "16385");
  // A text of many lines against a near copy: a few changes.
  std::string e = a;
  e.replace(e.find("a4000"), 5, "z4000");
  d = compare(a, e);
  EXPECT_EQ(d.count, 1u);
  EXPECT_EQ(apply(d, a, e), e);
}

TEST_F(LineDiff, LengthsAreCheckedAgainstTheBuffers) {
  Value p = buffer("abc");
  EXPECT_EQ(error_of([&] { callv("compare-buffers", {p, fix(4), p, fix(3)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("compare-buffers", {p, fix(3), p, fix(-1)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("compare-buffers", {fix(1), fix(0), p, fix(3)}); }), 2);
  EXPECT_EQ(text(callv("compare-buffers", {p, fix(3), p, fix(0)})), "(1 (0 3 0 3) (1 3 0 0))");
}

}  // namespace
}  // namespace core::testing
