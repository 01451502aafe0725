// `search-buffer-subr` and `search-not-ascii`.
//
// The multi-pattern search is Horspool's, with the shortest pattern length
// m as the window: a forward search aligns every pattern on its first m
// characters and looks at the window's last byte (the key); a backward
// search aligns them on their last m characters and looks at the window's
// first byte. Ignoring case, two bytes are equal when the lower-case table
// maps them to the same code, so the key and shift entries of a character
// are entered for every byte of its case class, accented letters included.
#include "logic/buffer_search.hpp"

#include <algorithm>
#include <cstring>

#include "core/args.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/strings.hpp"
#include "data/vectors.hpp"

namespace logic {
using namespace core;

const uint8_t* buffer_bytes(Value buffer, uint32_t n) {
  Addr a = data::address_arg(buffer);
  if (n == 0) return nullptr;
  return data::checked_bytes(buffer, a, n);
}

namespace {

constexpr uint32_t kBuckets = 256;
constexpr uint32_t kLongestKeyWindow = 255;

// The bytes that compare equal to c: c alone, or ignoring case every byte
// with the same lower-case image. next[b] is the next member of b's class,
// round a cycle.
struct CaseClasses {
  uint8_t next[256];
  explicit CaseClasses(bool ignore_case) {
    for (int c = 0; c < 256; ++c) next[c] = uint8_t(c);
    if (!ignore_case) return;
    int first[256], last[256];
    for (int& l : last) l = -1;
    for (int b = 0; b < 256; ++b) {
      uint8_t image = data::map_char(data::CharTable::Lower, uint8_t(b));
      if (last[image] < 0)
        first[image] = b;
      else
        next[last[image]] = uint8_t(b);
      last[image] = b;
      next[b] = uint8_t(first[image]);
    }
  }
  template <typename F>
  void each(uint8_t c, F f) const {
    uint8_t b = c;
    do {
      f(b);
      b = next[b];
    } while (b != c);
  }
};

}  // namespace

void prepare_search(const BufferSearch& search, SearchTables* t) {
  uint32_t m = UINT32_MAX;
  for (const std::string& p : search.patterns) m = std::min<uint32_t>(m, uint32_t(p.size()));
  t->m = m;
  CaseClasses classes(search.ignore_case);
  auto key = [&](const std::string& p) { return uint8_t(search.backward ? p[p.size() - m] : p[m - 1]); };
  // Buckets: count, place, then fill each from its end so that the last
  // pattern of the list comes first.
  uint32_t count[256] = {};
  for (const std::string& p : search.patterns) classes.each(key(p), [&](uint8_t b) { ++count[b]; });
  t->start[0] = 0;
  for (uint32_t c = 0; c < kBuckets; ++c) t->start[c + 1] = t->start[c] + count[c];
  t->members.assign(t->start[kBuckets], 0);
  for (uint32_t i = 0; i < search.patterns.size(); ++i)
    classes.each(key(search.patterns[i]), [&](uint8_t b) { t->members[t->start[b] + --count[b]] = i; });
  // Rising j leaves each shift at the smallest distance over all patterns.
  for (uint32_t c = 0; c < kBuckets; ++c) t->shift[c] = m;
  for (uint32_t j = 1; j < m; ++j) {
    for (const std::string& p : search.patterns) {
      uint8_t c = uint8_t(search.backward ? p[p.size() - j] : p[j - 1]);
      classes.each(c, [&](uint8_t b) { t->shift[b] = m - j; });
    }
  }
}

namespace {

// One running search: its own tables and the buffer it re-derives after
// each call of the boundary predicate.
class Scan {
 public:
  Scan(const BufferSearch& search, Value buffer, uint32_t end, Value boundary)
      : s_(search), buffer_(buffer), end_(end), boundary_(boundary) {
    prepare_search(search, &t_);
    refresh();
  }
  const SearchTables& tables() const { return t_; }

  // The index of the matching pattern and its first byte, or false.
  bool run(uint32_t start, uint32_t* which, uint32_t* at) {
    const int64_t m = t_.m;
    if (!s_.backward) {
      for (int64_t k = int64_t(start) + m - 1; k < int64_t(end_);) {
        uint8_t c = p_[k];
        int64_t q = k - (m - 1);
        for (uint32_t j = t_.start[c]; j < t_.start[c + 1]; ++j)
          if (candidate(t_.members[j], q, which, at)) return true;
        k += t_.shift[c];
      }
    } else {
      if (end_ == 0) return false;
      int64_t last = std::min<int64_t>(start, int64_t(end_) - 1);
      for (int64_t k = last - (m - 1); k >= 0;) {
        uint8_t c = p_[k];
        for (uint32_t j = t_.start[c]; j < t_.start[c + 1]; ++j) {
          uint32_t i = t_.members[j];
          int64_t q = k + m - int64_t(s_.patterns[i].size());
          if (candidate(i, q, which, at)) return true;
        }
        k -= t_.shift[c];
      }
    }
    return false;
  }

 private:
  void refresh() { p_ = buffer_bytes(buffer_, end_); }

  bool candidate(uint32_t i, int64_t q, uint32_t* which, uint32_t* at) {
    const std::string& pat = s_.patterns[i];
    int64_t len = int64_t(pat.size());
    if (q < 0 || q + len > int64_t(end_)) return false;
    if (!equal(pat, uint32_t(q))) return false;
    if (boundary_.truthy()) {
      // Whole words: each neighbour is absent or a boundary. A forward
      // search asks about the byte after first, a backward one about the
      // byte before; a false answer ends the test.
      int64_t before = q - 1, after = q + len;
      int64_t first = s_.backward ? before : after;
      int64_t second = s_.backward ? after : before;
      if (!boundary_at(first) || !boundary_at(second)) return false;
      // The predicate may have resized the buffer under us; the match is
      // reported only if its bytes are still there and still match.
      if (!equal(pat, uint32_t(q))) return false;
    }
    *which = i;
    *at = uint32_t(q);
    return true;
  }

  bool equal(const std::string& pat, uint32_t q) const {
    const uint8_t* b = p_ + q;
    size_t n = pat.size();
    if (!s_.ignore_case) return std::memcmp(b, pat.data(), n) == 0;
    for (size_t j = 0; j < n; ++j)
      if (data::map_char(data::CharTable::Lower, b[j]) != data::map_char(data::CharTable::Lower, uint8_t(pat[j])))
        return false;
    return true;
  }

  bool boundary_at(int64_t pos) {
    if (pos < 0 || pos >= int64_t(end_)) return true;
    Value code = make_fixnum(p_[pos]);
    Value answer = call_by_name(boundary_, {code});
    refresh();  // Lisp ran: the block may have moved, shrunk or gone
    return answer.truthy();
  }

  const BufferSearch& s_;
  Value buffer_;
  uint32_t end_;
  Value boundary_;
  SearchTables t_;
  const uint8_t* p_ = nullptr;
};

Value search_match_symbol() { return intern_static("Search-Match"); }

// Fills the first 256 elements of the bucket vector with the bucket lists.
void publish_buckets(const SearchTables& t, Value* patterns) {
  Value vec = lookup(search_match_symbol());
  if (!vec.is(Tag::Vector) || data::vector_length(vec) < kBuckets) error(Err::WrongType, vec);
  for (uint32_t c = 0; c < kBuckets; ++c) {
    Value list = kNil;
    for (uint32_t j = t.start[c + 1]; j-- > t.start[c];) list = cons(patterns[t.members[j]], list);
    data::set_vector_element(vec, c, list);
  }
}

}  // namespace

// (search-buffer-subr patterns pointer start end backward ignore-case
// boundary): (pattern . offset) of the match found, or nil.
static Value prim_search_buffer_subr(Value patterns, Value buffer, Value start, Value end, Value backward,
                                     Value ignore_case, Value boundary) {
  BufferSearch search;
  search.backward = backward.truthy();
  search.ignore_case = ignore_case.truthy();
  // The pattern strings stay on the Lisp stack, where the collector sees
  // them whatever the boundary predicate does to the list; their bytes are
  // copied out, since heap bytes move.
  StackMark mark;
  Value* kept = rt().zones.sp;
  if (patterns.is(Tag::String)) patterns = cons(patterns, kNil);
  Value ps = patterns;
  for (; ps.is_pair(); ps = cdr(ps)) {
    Value p = arg_string(car(ps));
    push(p);
    search.patterns.emplace_back(string_text(p));
  }
  if (!ps.is_nil() || search.patterns.empty()) error(Err::WrongType, patterns);
  uint32_t shortest = 0;
  for (uint32_t i = 1; i < search.patterns.size(); ++i)
    if (search.patterns[i].size() < search.patterns[shortest].size()) shortest = i;
  size_t m = search.patterns[shortest].size();
  if (m == 0 || m > kLongestKeyWindow) error(Err::WrongType, kept[shortest]);

  uint32_t from = arg_count(start);
  uint32_t to = arg_count(end);
  // Every offset lies inside the buffer's block.
  buffer_bytes(buffer, std::max(from, to));

  Scan scan(search, buffer, to, boundary);
  publish_buckets(scan.tables(), kept);
  uint32_t which, at;
  if (!scan.run(from, &which, &at)) return kNil;
  return cons(kept[which], make_integer(int32_t(at)));
}

// (search-not-ascii pointer start end): (nil . offset) of the first byte
// above 127 in [start, end), or nil.
static Value prim_search_not_ascii(Value buffer, Value start, Value end) {
  uint32_t from = arg_count(start);
  uint32_t to = arg_count(end);
  const uint8_t* p = buffer_bytes(buffer, std::max(from, to));
  for (uint32_t i = from; i < to; ++i)
    if (p[i] > 127) return cons(kNil, make_integer(int32_t(i)));
  return kNil;
}

static const NativeRow kBufferSearchNatives[] = {
    TV_PRIM2("search-buffer-subr", prim_search_buffer_subr, "(search-buffer-subr PATTERNS POINTER START END BACKWARD NOCASE BOUNDARY) the first match of one of the strings PATTERNS in the bytes at POINTER (forward from START, or backward), as (PATTERN . OFFSET); nil when none; BOUNDARY, a predicate of character codes, asks for whole words"),
    TV_PRIM2("search-not-ascii", prim_search_not_ascii, "(search-not-ascii POINTER START END) (nil . OFFSET) of the first byte above 127 from START to END - 1; nil when none"),
};

void register_buffer_search_natives() {
  register_natives(kBufferSearchNatives);
  search_match_symbol();
}

}  // namespace logic
