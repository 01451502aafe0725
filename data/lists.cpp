// The list library.
#include "data/lists.hpp"

#include <memory>
#include <tuple>
#include <vector>

#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "data/state.hpp"

namespace data {

using namespace core;

namespace {

Value truth(bool b) { return b ? rt().sym.t : kNil; }

constexpr uint32_t kFreeSteps = 256;

// The cursor of a walk over the pairs of a list. It notices a cycle (the
// walk meets, going forward, a pair that a second cursor at half its speed
// already passed) and signals error 2 with the list. The second cursor sets
// out only after kFreeSteps: short lists, the common case, are walked at
// the cost of following their links, and a cycle is still met, a little
// later.
class WalkCursor {
 public:
  explicit WalkCursor(Value list) : list_(list), at_(list), slow_(list) {}
  Value pair() const { return at_; }
  Value item() const { return car(at_); }
  void next() {
    at_ = cdr(at_);
    if (++steps_ > kFreeSteps) [[unlikely]]
      chase();
  }

 protected:
  Value list_, at_;

 private:
  [[gnu::noinline]] void chase() {
    if ((steps_ & 1) == 0) slow_ = cdr(slow_);
    if (at_ == slow_ && at_.is_pair()) error(Err::WrongType, list_);
  }
  Value slow_;
  uint32_t steps_ = 0;
};

// A walk that signals error 2 with the list at a non-nil end that is not a
// pair.
class Walk : public WalkCursor {
 public:
  using WalkCursor::WalkCursor;
  // True while the walk is at a pair.
  bool more() const {
    if (at_.is_pair()) return true;
    if (!at_.is_nil()) error(Err::WrongType, list_);
    return false;
  }
};

// The same walk where a dotted end simply ends the list.
class DottedWalk : public WalkCursor {
 public:
  using WalkCursor::WalkCursor;
  bool more() const { return at_.is_pair(); }
  Value rest() const { return at_; }
};

// Functions given to the library: a symbol stands for its value.
Value call1(Value f, Value a) { return call_by_name(f, {a}); }
Value call2(Value f, Value a, Value b) { return call_by_name(f, {a, b}); }

// The compared value of an element: the element, or the key function's
// result for it.
Value compared(Value key, Value x) { return key.is_nil() ? x : call1(key, x); }
// Whether a wanted value matches a compared one: equal?, or the test.
bool matches(Value test, Value wanted, Value c) {
  return test.is_nil() ? equal(wanted, c) : true_value(call2(test, wanted, c));
}

Value need_pair(Value x) {
  if (!x.is_pair()) error(Err::WrongType, x);
  return x;
}
// car and cdr of a list: nil for nil, error 2 for anything but a list.
Value list_car(Value x) {
  if (x.is_pair()) return car(x);
  if (x.is_nil()) return kNil;
  error(Err::WrongType, x);
}
Value list_cdr(Value x) {
  if (x.is_pair()) return cdr(x);
  if (x.is_nil()) return kNil;
  error(Err::WrongType, x);
}

// The tail after n pairs, nil past the end; a dotted end met on the way is
// error 2 with the list.
Value tail_after(Value list, uint32_t n) {
  DottedWalk w(list);
  for (uint32_t i = 0; i < n; ++i) {
    if (!w.more()) {
      if (!w.rest().is_nil()) error(Err::WrongType, list);
      return kNil;
    }
    w.next();
  }
  if (!w.more() && !w.rest().is_nil()) error(Err::WrongType, list);
  return w.rest();
}

int32_t int16_of(Value v) { return int16_t(uint16_t(read_integer(v))); }

}  // namespace

uint32_t list_length(Value list) {
  // A proper list of up to kFreeSteps pairs is counted by following its
  // links alone; anything else takes the checked walk.
  const uint8_t* base = rt().zones.node_base;
  uint32_t n = 0;
  Value at = list;
  for (; n < kFreeSteps && at.is_pair(); ++n) at = Value(reinterpret_cast<const Node*>(base + at.payload())->cdr);
  if (at.is_nil()) return n;
  n = 0;
  for (Walk w(list); w.more(); w.next()) ++n;
  return n;
}

namespace {

// ---- Accessors and constructors ------------------------------------------

Value prim_pair_p(Value x) { return truth(x.is_pair()); }
Value prim_list_p(Value x) { return truth(x.is(Tag::Pair)); }
Value prim_atom_p(Value x) { return truth(!x.is_pair()); }
Value prim_car(Value x) { return list_car(x); }
Value prim_cdr(Value x) { return list_cdr(x); }

// The composition of car and cdr: bit i of the path, starting with the
// letter nearest the r, is 1 for a cdr.
Value cxr(unsigned path, unsigned letters, Value x) {
  for (unsigned i = 0; i < letters; ++i) x = (path >> i) & 1 ? list_cdr(x) : list_car(x);
  return x;
}

Value prim_caar(Value x) { return cxr(0, 2, x); }
Value prim_cadr(Value x) { return cxr(1, 2, x); }
Value prim_cdar(Value x) { return cxr(2, 2, x); }
Value prim_cddr(Value x) { return cxr(3, 2, x); }
Value prim_caaar(Value x) { return cxr(0, 3, x); }
Value prim_caadr(Value x) { return cxr(1, 3, x); }
Value prim_cadar(Value x) { return cxr(2, 3, x); }
Value prim_caddr(Value x) { return cxr(3, 3, x); }
Value prim_cdaar(Value x) { return cxr(4, 3, x); }
Value prim_cdadr(Value x) { return cxr(5, 3, x); }
Value prim_cddar(Value x) { return cxr(6, 3, x); }
Value prim_cdddr(Value x) { return cxr(7, 3, x); }
Value prim_caaaar(Value x) { return cxr(0, 4, x); }
Value prim_caaadr(Value x) { return cxr(1, 4, x); }
Value prim_caadar(Value x) { return cxr(2, 4, x); }
Value prim_caaddr(Value x) { return cxr(3, 4, x); }
Value prim_cadaar(Value x) { return cxr(4, 4, x); }
Value prim_cadadr(Value x) { return cxr(5, 4, x); }
Value prim_caddar(Value x) { return cxr(6, 4, x); }
Value prim_cadddr(Value x) { return cxr(7, 4, x); }
Value prim_cdaaar(Value x) { return cxr(8, 4, x); }
Value prim_cdaadr(Value x) { return cxr(9, 4, x); }
Value prim_cdadar(Value x) { return cxr(10, 4, x); }
Value prim_cdaddr(Value x) { return cxr(11, 4, x); }
Value prim_cddaar(Value x) { return cxr(12, 4, x); }
Value prim_cddadr(Value x) { return cxr(13, 4, x); }
Value prim_cdddar(Value x) { return cxr(14, 4, x); }
Value prim_cddddr(Value x) { return cxr(15, 4, x); }

template <uint32_t N>
Value prim_nth(Value list) {
  return list_car(tail_after(list, N));
}

Value prim_set_car_x(Value p, Value v) {
  set_car(need_pair(p), v);
  return v;
}
Value prim_set_cdr_x(Value p, Value v) {
  set_cdr(need_pair(p), v);
  return v;
}
template <uint32_t N>
Value prim_set_nth_x(Value list, Value v) {
  Value t = tail_after(list, N);
  if (!t.is_pair()) error(Err::WrongType, list);
  set_car(t, v);
  return v;
}

Value prim_cons(Value a, Value d) { return cons(a, d); }

Value prim_list(Value* rest) {
  // Built from the last value back: the values stay on the Lisp stack, and
  // the list made so far is held where the collector sees it.
  Value* end = rest;
  while (!end->is_end()) ++end;
  Value list = kNil;
  while (end > rest) list = cons(*--end, list);
  return list;
}

Value prim_cons_list(Value* rest) {
  if (rest->is_end()) return kNil;
  ListBuilder b;
  Value* p = rest;
  for (; !p[1].is_end(); ++p) b.add(*p);
  return b.finish(*p);
}

// Copies the top-level pairs of a proper list in front of `rest`.
Value copy_onto(Value list, Value rest) {
  ListBuilder b;
  for (Walk w(list); w.more(); w.next()) b.add(w.item());
  return b.finish(rest);
}

Value prim_append(Value* rest) {
  Value* end = rest;
  while (!end->is_end()) ++end;
  // The last argument that is not nil is shared; earlier ones are copied.
  Value* last = end;
  while (last != rest && last[-1].is_nil()) --last;
  if (last == rest) return kNil;
  Value result = *--last;
  while (last != rest) {
    Value a = *--last;
    if (a.is_nil()) continue;
    result = copy_onto(a, result);
  }
  return result;
}

Value prim_append_x(Value* rest) {
  Value first = kNil, prev_last = kNil;
  for (Value* p = rest; !p->is_end(); ++p) {
    Value a = *p;
    if (a.is_nil()) continue;
    if (first.is_nil()) first = a;
    if (!prev_last.is_nil()) set_cdr(prev_last, a);
    bool is_last = true;
    for (Value* q = p + 1; !q->is_end(); ++q)
      if (!q->is_nil()) is_last = false;
    if (is_last) break;
    // Every argument but the last must be a proper list to be joined.
    Value lp = need_pair(a);
    for (Walk w(a); w.more(); w.next()) lp = w.pair();
    prev_last = lp;
  }
  return first;
}

bool memq_p(Value x, Value list) {
  for (Walk w(list); w.more(); w.next())
    if (w.item() == x) return true;
  return false;
}

Value prim_add(Value x, Value list) { return memq_p(x, list) ? list : cons(x, list); }

Value prim_length(Value list) { return make_integer(int32_t(list_length(list))); }

Value last_pair(Value list) {
  if (!list.is(Tag::Pair)) error(Err::WrongType, list);
  Value last = kNil;
  for (DottedWalk w(list); w.more(); w.next()) last = w.pair();
  return last;
}
Value prim_last(Value list) { return list_car(last_pair(list)); }
Value prim_last_pair(Value list) { return last_pair(list); }

Value prim_list_tail(Value list, Value n) { return tail_after(list, uint32_t(read_integer(n)) & kPayloadMask); }
Value prim_list_ref(Value list, Value n) { return list_car(prim_list_tail(list, n)); }

Value prim_reversed_ref(Value list, Value n) {
  int64_t len = list_length(list);
  int64_t k = read_integer(n);
  if (k < 0 || k >= len) return kNil;
  return list_car(tail_after(list, uint32_t(len - 1 - k)));
}

Value prim_butlast(Value list) {
  ListBuilder b;
  for (Walk w(list); w.more(); w.next())
    if (cdr(w.pair()).is_pair()) b.add(w.item());
  return b.finish();
}

Value prim_reverse(Value list) {
  uint32_t n = list_length(list);
  if (n < 2) return list;
  Value out = kNil;
  for (Walk w(list); w.more(); w.next()) out = cons(w.item(), out);
  return out;
}

Value prim_reverse_x(Value list) {
  list_length(list);  // a dotted or circular list is refused before any change
  Value prev = kNil;
  while (list.is_pair()) {
    Value next = cdr(list);
    set_cdr(list, prev);
    prev = list;
    list = next;
  }
  return prev;
}

Value prim_copy_list(Value list) {
  if (!list.is(Tag::Pair)) error(Err::WrongType, list);
  ListBuilder b;
  DottedWalk w(list);
  for (; w.more(); w.next()) b.add(w.item());
  return b.finish(w.rest());
}

// Copies through cars by recursion (bounded by the native stack check) and
// through cdrs by iteration.
Value copy_tree(Value x) {
  if (!x.is_pair()) return x;
  check_native_stack();
  ListBuilder b;
  DottedWalk w(x);
  for (; w.more(); w.next()) b.add(copy_tree(w.item()));
  return b.finish(w.rest());
}
Value prim_copy_tree(Value x) { return copy_tree(x); }

Value prim_subseq(Value list, Value start, Value end) {
  int32_t from = int16_of(start);
  int32_t to = end.is_nil() ? INT32_MAX : int16_of(end);
  ListBuilder b;
  int32_t i = 0;
  for (Walk w(list); w.more() && i < to; w.next(), ++i)
    if (i >= from) b.add(w.item());
  return b.finish();
}

// ---- Search and association ---------------------------------------------

// The searches that only compare words walk their first kFreeSteps pairs
// here, reading the nodes from one base (nothing in the loop allocates);
// longer lists, improper ends and cycles go on to the checked walk.
template <typename Found>
[[gnu::always_inline]] inline Value quick_search(Value list, Found found, Value& at) {
  const uint8_t* base = rt().zones.node_base;
  at = list;
  for (uint32_t n = 0; n < kFreeSteps && at.is_pair(); ++n) {
    const Node& p = *reinterpret_cast<const Node*>(base + at.payload());
    if (found(word_value(p.car), base)) return at;
    at = Value(p.cdr);
  }
  return kNoValue;
}

Value prim_memq(Value x, Value list) {
  Value at;
  Value hit = quick_search(list, [x](Value item, const uint8_t*) { return item == x; }, at);
  if (!hit.is_no_value()) return hit;
  if (at.is_nil()) return kNil;
  for (Walk w(list); w.more(); w.next())
    if (w.item() == x) return w.pair();
  return kNil;
}
Value prim_memv(Value x, Value list) {
  for (Walk w(list); w.more(); w.next())
    if (eqv(w.item(), x)) return w.pair();
  return kNil;
}
Value prim_member(Value x, Value list, Value key, Value test) {
  for (Walk w(list); w.more(); w.next())
    if (matches(test, x, compared(key, w.item()))) return w.pair();
  return kNil;
}
Value prim_find(Value x, Value list, Value key, Value test) {
  for (Walk w(list); w.more(); w.next())
    if (matches(test, x, compared(key, w.item()))) return w.item();
  return kNil;
}
Value prim_find_if(Value pred, Value list, Value key) {
  for (Walk w(list); w.more(); w.next())
    if (true_value(call1(pred, compared(key, w.item())))) return w.item();
  return kNil;
}
Value prim_collect_if(Value pred, Value list, Value key) {
  ListBuilder b;
  for (Walk w(list); w.more(); w.next())
    if (true_value(call1(pred, compared(key, w.item())))) b.add(w.item());
  return b.finish();
}
Value prim_count_if(Value pred, Value list, Value key) {
  int32_t n = 0;
  for (Walk w(list); w.more(); w.next())
    if (true_value(call1(pred, compared(key, w.item())))) ++n;
  return make_integer(n);
}
Value prim_some(Value pred, Value list) {
  for (Walk w(list); w.more(); w.next()) {
    Value r = call1(pred, w.item());
    if (true_value(r)) return r;
  }
  return kNil;
}
Value prim_every(Value pred, Value list) {
  for (Walk w(list); w.more(); w.next())
    if (!true_value(call1(pred, w.item()))) return kNil;
  return rt().sym.t;
}

// Association lists: entries that are not pairs are passed over.
Value prim_assq(Value k, Value alist) {
  Value at;
  Value hit = quick_search(
      alist,
      [k](Value e, const uint8_t* base) {
        return e.is_pair() && word_value(reinterpret_cast<const Node*>(base + e.payload())->car) == k;
      },
      at);
  if (!hit.is_no_value()) return car(hit);
  if (at.is_nil()) return kNil;
  for (Walk w(alist); w.more(); w.next())
    if (w.item().is_pair() && car(w.item()) == k) return w.item();
  return kNil;
}
Value prim_assv(Value k, Value alist) {
  for (Walk w(alist); w.more(); w.next())
    if (w.item().is_pair() && eqv(car(w.item()), k)) return w.item();
  return kNil;
}
Value prim_assoc(Value k, Value alist, Value key, Value test) {
  for (Walk w(alist); w.more(); w.next()) {
    Value e = w.item();
    if (e.is_pair() && matches(test, k, compared(key, car(e)))) return e;
  }
  return kNil;
}
Value prim_associate(Value k, Value v, Value alist) {
  Value e = prim_assv(k, alist);
  if (e.is_pair()) {
    set_cdr(e, v);
    return alist;
  }
  return cons(cons(k, v), alist);
}

// Property lists: keys at the even places, compared by identity. A key
// without a value at the end is still found.
Value prim_getprop(Value k, Value plist) {
  for (Walk w(plist); w.more(); w.next()) {
    if (w.item() == k) return w.pair();
    w.next();
    if (!w.more()) break;
  }
  return kNil;
}
Value prim_getf(Value k, Value plist, Value dflt) {
  Value t = prim_getprop(k, plist);
  return t.is_pair() ? list_car(cdr(t)) : dflt;
}
Value prim_remprop_x(Value k, Value plist) {
  Value before = kNil;  // the value pair before the key, or nil at the front
  for (Walk w(plist); w.more(); w.next()) {
    if (w.item() == k) {
      Value after = cdr(w.pair());
      if (after.is_pair()) after = cdr(after);
      if (before.is_nil()) return after;
      set_cdr(before, after);
      return plist;
    }
    w.next();
    if (!w.more()) break;
    before = w.pair();
  }
  return plist;
}
Value prim_for_each_property(Value f, Value plist) {
  for (Walk w(plist); w.more(); w.next()) {
    Value k = w.item();
    w.next();
    Value v = w.more() ? w.item() : kNil;
    call2(f, k, v);
    if (!w.more()) break;
  }
  return kNoValue;
}

// ---- Editing -------------------------------------------------------------

Value prim_remove(Value x, Value list, Value key, Value test) {
  uint32_t index = 0;
  Value hit = kNil;
  for (Walk w(list); w.more(); w.next(), ++index)
    if (matches(test, x, compared(key, w.item()))) {
      hit = w.pair();
      break;
    }
  if (hit.is_nil()) return list;
  ListBuilder b;
  Value p = list;
  for (uint32_t i = 0; i < index; ++i, p = cdr(p)) b.add(car(p));
  return b.finish(cdr(hit));
}

Value prim_remove_x(Value x, Value list, Value key, Value test) {
  Value prev = kNil;
  for (Walk w(list); w.more(); w.next()) {
    if (matches(test, x, compared(key, w.item()))) {
      if (prev.is_nil()) return cdr(w.pair());
      set_cdr(prev, cdr(w.pair()));
      return list;
    }
    prev = w.pair();
  }
  return list;
}

Value prim_remove_tail_x(Value pair, Value list) {
  Value prev = kNil;
  for (Walk w(list); w.more(); w.next()) {
    if (w.pair() == pair) {
      if (prev.is_nil()) return cdr(pair);
      set_cdr(prev, cdr(pair));
      return list;
    }
    prev = w.pair();
  }
  return list;
}

Value prim_replace_x(Value old, Value now, Value list) {
  for (Walk w(list); w.more(); w.next())
    if (equal(w.item(), old)) {
      set_car(w.pair(), now);
      break;
    }
  return list;
}

Value prim_change_rank_x(Value list, Value from_v, Value to_v) {
  int32_t n = int32_t(list_length(list));
  int32_t from = read_integer(from_v);
  int32_t to = to_v.is_nil() ? n : std::min(int16_of(to_v), n);
  if (to < 0) to = 0;
  if (from < 0 || from >= n || to == from || to == from + 1) return list;
  // The pair that was at index to - 1 before the removal (none for the front).
  Value after = to == 0 ? kNil : tail_after(list, uint32_t(to - 1));
  Value moved = tail_after(list, uint32_t(from));
  if (from == 0) {
    list = cdr(moved);
  } else {
    set_cdr(tail_after(list, uint32_t(from - 1)), cdr(moved));
  }
  if (after.is_nil()) {
    set_cdr(moved, list);
    return moved;
  }
  set_cdr(moved, cdr(after));
  set_cdr(after, moved);
  return list;
}

Value prim_partition(Value list, Value groups, Value key) {
  // One entry (g) per group, each with its last pair for appending.
  ListBuilder entries;
  for (Walk w(groups); w.more(); w.next()) entries.add(cons(w.item(), kNil));
  Value result = entries.finish();
  std::vector<Value> ends;  // the entries' last pairs; reachable from result
  for (Value e = result; e.is_pair(); e = cdr(e)) ends.push_back(car(e));
  for (Walk w(list); w.more(); w.next()) {
    Value c = compared(key, w.item());
    size_t i = 0;
    for (Value e = result; e.is_pair(); e = cdr(e), ++i) {
      if (equal(car(car(e)), c)) {
        Value p = cons(w.item(), kNil);
        set_cdr(ends[i], p);
        ends[i] = p;
        break;
      }
    }
  }
  return result;
}

// Rows as a fresh list of cursors, one per row; a row must be a list.
Value row_cursors(Value rows) {
  ListBuilder b;
  for (Walk w(rows); w.more(); w.next()) {
    if (!w.item().is(Tag::Pair)) error(Err::WrongType, w.item());
    b.add(w.item());
  }
  return b.finish();
}

// Shorter rows than the first give nil in the missing places.
Value prim_transpose(Value rows) {
  Value cursors = row_cursors(rows);
  ListBuilder columns;
  while (cursors.is_pair() && car(cursors).is_pair()) {
    ListBuilder column;
    for (Value c = cursors; c.is_pair(); c = cdr(c)) {
      Value row = car(c);
      column.add(list_car(row));
      set_car(c, list_cdr(row));
    }
    columns.add(column.finish());
  }
  return columns.finish();
}

// The same linking the rows' own pairs into the columns; a fresh pair
// stands for a missing place of a short row.
Value prim_transpose_x(Value rows) {
  Value cursors = row_cursors(rows);
  ListBuilder columns;
  while (cursors.is_pair() && car(cursors).is_pair()) {
    Value head = kNil, tail = kNil;
    for (Value c = cursors; c.is_pair(); c = cdr(c)) {
      Value p = car(c);
      if (p.is_pair()) {
        set_car(c, list_cdr(p));
      } else {
        p = cons(kNil, kNil);
      }
      set_cdr(p, kNil);
      if (tail.is_nil())
        head = p;
      else
        set_cdr(tail, p);
      tail = p;
    }
    columns.add(head);
  }
  return columns.finish();
}

// ---- Sorting -------------------------------------------------------------

// The sort's work array: entries (element, key), a root of the collector
// while the sort runs. The guard frees it on every way out, a throw from
// the predicate included. A sort called from another sort's predicate
// keeps the outer array among the roots and gives it back when it ends.
class SortWork {
 public:
  explicit SortWork(uint32_t n) : words_(new Value[2 * size_t(n)]), n_(n) {
    DataState& r = data_state();
    for (size_t i = 0; i < 2 * size_t(n); ++i) words_[i] = kNil;
    if (r.sort_work != nullptr) r.sort_outer.emplace_back(r.sort_work, r.sort_work_words);
    r.sort_work = words_.get();
    r.sort_work_words = 2 * n;
  }
  ~SortWork() {
    DataState& r = data_state();
    if (r.sort_outer.empty()) {
      r.sort_work = nullptr;
      r.sort_work_words = 0;
    } else {
      std::tie(r.sort_work, r.sort_work_words) = r.sort_outer.back();
      r.sort_outer.pop_back();
    }
  }
  SortWork(const SortWork&) = delete;
  SortWork& operator=(const SortWork&) = delete;

  Value& element(uint32_t i) { return words_[2 * size_t(i)]; }
  Value& key(uint32_t i) { return words_[2 * size_t(i) + 1]; }
  void swap(uint32_t a, uint32_t b) {
    std::swap(words_[2 * size_t(a)], words_[2 * size_t(b)]);
    std::swap(words_[2 * size_t(a) + 1], words_[2 * size_t(b) + 1]);
  }
  uint32_t size() const { return n_; }

 private:
  std::unique_ptr<Value[]> words_;
  uint32_t n_;
};

struct Sorter {
  SortWork& work;
  Value pred;

  bool before(uint32_t a, uint32_t b) { return true_value(call2(pred, work.key(a), work.key(b))); }

  // Quicksort of [lo, hi) with the middle entry as pivot; the smaller part
  // goes to the recursive call, so the depth stays logarithmic.
  void sort(uint32_t lo, uint32_t hi) {
    while (hi - lo >= 2) {
      uint32_t m = lo + (hi - lo) / 2;
      work.swap(m, lo);
      uint32_t i = lo, j = hi;
      for (;;) {
        ++i;
        while (i < hi && before(i, lo)) ++i;
        --j;
        while (j > lo && !before(j, lo)) --j;
        if (j <= i) break;
        work.swap(i, j);
      }
      if (j == lo) {
        ++lo;
        continue;
      }
      work.swap(lo, j);
      if (hi - (j + 1) <= j - lo) {
        sort(j + 1, hi);
        hi = j;
      } else {
        sort(lo, j);
        lo = j + 1;
      }
    }
  }
};

Value prim_sort(Value pred, Value list, Value key, Value dup) {
  uint32_t n = list_length(list);
  if (n == 0) return kNil;
  SortWork work(n);
  uint32_t i = 0;
  for (Walk w(list); w.more() && i < n; w.next(), ++i) work.element(i) = work.key(i) = w.item();
  if (!key.is_nil())
    for (i = 0; i < n; ++i) work.key(i) = call1(key, work.element(i));
  Sorter{work, pred}.sort(0, n);
  Value out = kNil;
  for (i = n; i-- > 0;) {
    if (i > 0 && !dup.is_nil() && true_value(call2(dup, work.key(i - 1), work.key(i)))) continue;
    out = cons(work.element(i), out);
  }
  return out;
}

// ---- Iteration -------------------------------------------------------------

template <bool Collect>
Value counted_loop(Value from_v, Value to_v, Value f, Value down) {
  int64_t from = read_integer(from_v), to = read_integer(to_v);
  bool descending = true_value(down);
  ListBuilder b;
  if (descending) {
    for (int64_t k = from; k >= to; --k) {
      Value r = call1(f, make_integer(int32_t(k)));
      if (Collect) b.add(r);
    }
  } else {
    for (int64_t k = from; k <= to; ++k) {
      Value r = call1(f, make_integer(int32_t(k)));
      if (Collect) b.add(r);
    }
  }
  return Collect ? b.finish() : kNoValue;
}
Value prim_for(Value from, Value to, Value f, Value down) { return counted_loop<false>(from, to, f, down); }
Value prim_for_collect(Value from, Value to, Value f, Value down) { return counted_loop<true>(from, to, f, down); }

const core::NativeRow kListNatives[] = {
    TV_PRIM("pair?", prim_pair_p, "(pair? X) t when X is a pair (a list other than nil), else nil"),
    TV_PRIM("list?", prim_list_p, "(list? X) t when X is nil or a pair, else nil"),
    TV_PRIM("atom?", prim_atom_p, "(atom? X) t when X is not a pair, else nil"),
    TV_PRIM("car", prim_car, "(car LIST) the first element of LIST; nil for nil"),
    TV_PRIM("cdr", prim_cdr, "(cdr LIST) LIST without its first pair; nil for nil"),
    TV_PRIM("caar", prim_caar, "(caar LIST) the car of the car; nil where a step meets nil"),
    TV_PRIM("cadr", prim_cadr, "(cadr LIST) the car of the cdr (the second element); nil where a step meets nil"),
    TV_PRIM("cdar", prim_cdar, "(cdar LIST) the cdr of the car; nil where a step meets nil"),
    TV_PRIM("cddr", prim_cddr, "(cddr LIST) the cdr of the cdr (LIST after two pairs); nil where a step meets nil"),
    TV_PRIM("caaar", prim_caaar, "(caaar LIST) the car of the car of the car; nil where a step meets nil"),
    TV_PRIM("caadr", prim_caadr, "(caadr LIST) the car of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("cadar", prim_cadar, "(cadar LIST) the car of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("caddr", prim_caddr, "(caddr LIST) the car of the cdr of the cdr (the third element); nil where a step meets nil"),
    TV_PRIM("cdaar", prim_cdaar, "(cdaar LIST) the cdr of the car of the car; nil where a step meets nil"),
    TV_PRIM("cdadr", prim_cdadr, "(cdadr LIST) the cdr of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("cddar", prim_cddar, "(cddar LIST) the cdr of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("cdddr", prim_cdddr, "(cdddr LIST) the cdr of the cdr of the cdr (LIST after three pairs); nil where a step meets nil"),
    TV_PRIM("caaaar", prim_caaaar, "(caaaar LIST) the car of the car of the car of the car; nil where a step meets nil"),
    TV_PRIM("caaadr", prim_caaadr, "(caaadr LIST) the car of the car of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("caadar", prim_caadar, "(caadar LIST) the car of the car of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("caaddr", prim_caaddr, "(caaddr LIST) the car of the car of the cdr of the cdr; nil where a step meets nil"),
    TV_PRIM("cadaar", prim_cadaar, "(cadaar LIST) the car of the cdr of the car of the car; nil where a step meets nil"),
    TV_PRIM("cadadr", prim_cadadr, "(cadadr LIST) the car of the cdr of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("caddar", prim_caddar, "(caddar LIST) the car of the cdr of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("cadddr", prim_cadddr, "(cadddr LIST) the car of the cdr of the cdr of the cdr (the fourth element); nil where a step meets nil"),
    TV_PRIM("cdaaar", prim_cdaaar, "(cdaaar LIST) the cdr of the car of the car of the car; nil where a step meets nil"),
    TV_PRIM("cdaadr", prim_cdaadr, "(cdaadr LIST) the cdr of the car of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("cdadar", prim_cdadar, "(cdadar LIST) the cdr of the car of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("cdaddr", prim_cdaddr, "(cdaddr LIST) the cdr of the car of the cdr of the cdr; nil where a step meets nil"),
    TV_PRIM("cddaar", prim_cddaar, "(cddaar LIST) the cdr of the cdr of the car of the car; nil where a step meets nil"),
    TV_PRIM("cddadr", prim_cddadr, "(cddadr LIST) the cdr of the cdr of the car of the cdr; nil where a step meets nil"),
    TV_PRIM("cdddar", prim_cdddar, "(cdddar LIST) the cdr of the cdr of the cdr of the car; nil where a step meets nil"),
    TV_PRIM("cddddr", prim_cddddr, "(cddddr LIST) the cdr of the cdr of the cdr of the cdr (LIST after four pairs); nil where a step meets nil"),
    TV_PRIM("first", prim_nth<0>, "(first LIST) the element at index 0; nil for nil"),
    TV_PRIM("second", prim_nth<1>, "(second LIST) the element at index 1; nil past the end"),
    TV_PRIM("third", prim_nth<2>, "(third LIST) the element at index 2; nil past the end"),
    TV_PRIM("fourth", prim_nth<3>, "(fourth LIST) the element at index 3; nil past the end"),
    TV_PRIM("fifth", prim_nth<4>, "(fifth LIST) the element at index 4; nil past the end"),
    TV_PRIM("sixth", prim_nth<5>, "(sixth LIST) the element at index 5; nil past the end"),
    TV_PRIM("seventh", prim_nth<6>, "(seventh LIST) the element at index 6; nil past the end"),
    TV_PRIM("eighth", prim_nth<7>, "(eighth LIST) the element at index 7; nil past the end"),
    TV_PRIM("ninth", prim_nth<8>, "(ninth LIST) the element at index 8; nil past the end"),
    TV_PRIM("tenth", prim_nth<9>, "(tenth LIST) the element at index 9; nil past the end"),
    TV_PRIM("set-car!", prim_set_car_x, "(set-car! PAIR VALUE) stores VALUE in the car of PAIR; returns VALUE"),
    TV_PRIM("set-cdr!", prim_set_cdr_x, "(set-cdr! PAIR VALUE) stores VALUE in the cdr of PAIR; returns VALUE"),
    TV_PRIM("set-first!", prim_set_car_x, "(set-first! PAIR VALUE) the same as set-car!"),
    TV_PRIM("set-second!", prim_set_nth_x<1>, "(set-second! LIST VALUE) stores VALUE as the element at index 1; returns VALUE (error 2 when LIST is shorter)"),
    TV_PRIM("set-third!", prim_set_nth_x<2>, "(set-third! LIST VALUE) stores VALUE as the element at index 2; returns VALUE"),
    TV_PRIM("set-fourth!", prim_set_nth_x<3>, "(set-fourth! LIST VALUE) stores VALUE as the element at index 3; returns VALUE"),
    TV_PRIM("set-fifth!", prim_set_nth_x<4>, "(set-fifth! LIST VALUE) stores VALUE as the element at index 4; returns VALUE"),
    TV_PRIM("set-sixth!", prim_set_nth_x<5>, "(set-sixth! LIST VALUE) stores VALUE as the element at index 5; returns VALUE"),
    TV_PRIM("set-seventh!", prim_set_nth_x<6>, "(set-seventh! LIST VALUE) stores VALUE as the element at index 6; returns VALUE"),
    TV_PRIM("set-eighth!", prim_set_nth_x<7>, "(set-eighth! LIST VALUE) stores VALUE as the element at index 7; returns VALUE"),
    TV_PRIM("set-ninth!", prim_set_nth_x<8>, "(set-ninth! LIST VALUE) stores VALUE as the element at index 8; returns VALUE"),
    TV_PRIM("set-tenth!", prim_set_nth_x<9>, "(set-tenth! LIST VALUE) stores VALUE as the element at index 9; returns VALUE"),
    TV_PRIM("cons", prim_cons, "(cons CAR CDR) a new pair"),
    TV_PRIM("list", prim_list, "(list X...) a new list of the arguments"),
    TV_PRIM("cons-list", prim_cons_list, "(cons-list X... LAST) a new list of the arguments but the last, ending in LAST as its final cdr; nil without arguments"),
    TV_PRIM("append", prim_append, "(append LIST...) the lists joined: the last non-nil one is shared, the earlier ones copied at the top level"),
    TV_PRIM("append!", prim_append_x, "(append! LIST...) joins the lists in place, linking each last pair to the next non-nil list; returns the first non-nil one"),
    TV_PRIM("add", prim_add, "(add X LIST) LIST when X is already an element (eq?), else (X . LIST)"),
    TV_PRIM("length", prim_length, "(length LIST) the number of pairs of LIST"),
    TV_PRIM("last", prim_last, "(last LIST) the last element of LIST; nil for nil"),
    TV_PRIM("last-pair", prim_last_pair, "(last-pair LIST) the last pair of LIST; nil for nil"),
    TV_PRIM("list-tail", prim_list_tail, "(list-tail LIST N) LIST after its first N pairs; nil when shorter"),
    TV_PRIM("list-ref", prim_list_ref, "(list-ref LIST N) the element at index N; nil past the end"),
    TV_PRIM("reversed-ref", prim_reversed_ref, "(reversed-ref LIST N) the element N places from the end (0 is the last); nil when N is out of range"),
    TV_PRIM("butlast", prim_butlast, "(butlast LIST) a new list of all elements but the last"),
    TV_PRIM("reverse", prim_reverse, "(reverse LIST) a new list of the elements in reverse order (a list shorter than two is returned itself)"),
    TV_PRIM("reverse!", prim_reverse_x, "(reverse! LIST) reverses LIST in place; returns its new first pair"),
    TV_PRIM("copy-list", prim_copy_list, "(copy-list LIST) a copy of the top-level pairs of LIST (a dotted end is kept)"),
    TV_PRIM("copy-tree", prim_copy_tree, "(copy-tree X) a copy of every pair reachable from X through cars and cdrs; other values shared"),
    TV_PRIM("subseq", prim_subseq, "(subseq LIST START [END]) a new list of the elements from index START up to END excluded (to the end without END)"),
    TV_PRIM("memq", prim_memq, "(memq X LIST) the first tail of LIST whose car is X (eq?); nil when none"),
    TV_PRIM("memv", prim_memv, "(memv X LIST) the first tail of LIST whose car is eqv? to X; nil when none"),
    TV_PRIM("member", prim_member, "(member X LIST [KEY] [TEST]) the first tail whose car matches X (equal?, or TEST of X and the car's KEY); nil when none"),
    TV_PRIM("find", prim_find, "(find X LIST [KEY] [TEST]) the first element that matches X (equal?, or TEST of X and its KEY); nil when none"),
    TV_PRIM("find-if", prim_find_if, "(find-if PRED LIST [KEY]) the first element for which PRED (of the element or its KEY) is true; nil when none"),
    TV_PRIM("collect-if", prim_collect_if, "(collect-if PRED LIST [KEY]) a new list of the elements for which PRED (of the element or its KEY) is true"),
    TV_PRIM("count-if", prim_count_if, "(count-if PRED LIST [KEY]) how many elements PRED (of the element or its KEY) finds true"),
    TV_PRIM("some", prim_some, "(some PRED LIST) the first true result of PRED on an element; nil when none"),
    TV_PRIM("every", prim_every, "(every PRED LIST) t when PRED is true for every element (so for nil), else nil"),
    TV_PRIM("assq", prim_assq, "(assq KEY ALIST) the first entry of ALIST whose car is KEY (eq?); nil when none"),
    TV_PRIM("assv", prim_assv, "(assv KEY ALIST) the first entry of ALIST whose car is eqv? to KEY; nil when none"),
    TV_PRIM("assoc", prim_assoc, "(assoc KEY ALIST [KEY-FN] [TEST]) the first entry whose car matches KEY (equal?, or TEST of KEY and KEY-FN of the car); nil when none"),
    TV_PRIM("associate", prim_associate, "(associate KEY VALUE ALIST) sets the cdr of KEY's entry (eqv?) to VALUE and returns ALIST; without one, ALIST with (KEY . VALUE) in front"),
    TV_PRIM("getprop", prim_getprop, "(getprop KEY PLIST) the tail of the property list starting at KEY; nil when absent"),
    TV_PRIM("getf", prim_getf, "(getf KEY PLIST [DEFAULT]) the value after KEY in the property list; DEFAULT when absent"),
    TV_PRIM("remprop!", prim_remprop_x, "(remprop! KEY PLIST) removes KEY and its value in place; returns PLIST, or its rest when KEY came first"),
    TV_PRIM2("for-each-property", prim_for_each_property, "(for-each-property F PLIST) applies F to each key and value of the property list in order; no value"),
    TV_PRIM("remove", prim_remove, "(remove X LIST [KEY] [TEST]) LIST without its first element matching X: the part before is copied, the rest shared"),
    TV_PRIM("remove!", prim_remove_x, "(remove! X LIST [KEY] [TEST]) unlinks the first element matching X in place; returns LIST, or its rest when the first matched"),
    TV_PRIM("remove-tail!", prim_remove_tail_x, "(remove-tail! PAIR LIST) unlinks that very PAIR from LIST; returns LIST, or its rest when PAIR was first"),
    TV_PRIM("replace!", prim_replace_x, "(replace! OLD NEW LIST) the first element equal? to OLD becomes NEW, in place; returns LIST"),
    TV_PRIM("change-rank!", prim_change_rank_x, "(change-rank! LIST FROM [TO]) moves the element at index FROM before the one at index TO (to the end without TO), in place; returns the new first pair"),
    TV_PRIM("partition", prim_partition, "(partition LIST GROUPS [KEY]) a list of (G X...) for each G of GROUPS, with the elements whose value (or KEY) is equal? to G; others dropped"),
    TV_PRIM2("transpose", prim_transpose, "(transpose ROWS) a new list of the columns of the list of lists ROWS; the first row sets the count, short rows give nil"),
    TV_PRIM2("transpose!", prim_transpose_x, "(transpose! ROWS) the same as transpose, reusing the rows' pairs"),
    TV_PRIM("sort", prim_sort, "(sort PRED LIST [KEY] [DUP]) a new list sorted so that PRED, given two elements (or their KEYs), is true when the first goes first; an element for which DUP of its predecessor and it is true is dropped; not stable"),
    TV_PRIM("for", prim_for, "(for FROM TO F [DOWN]) applies F to each integer from FROM to TO inclusive, descending when DOWN is true; no value"),
    TV_PRIM("for-collect", prim_for_collect, "(for-collect FROM TO F [DOWN]) the same as for, returning the list of F's results"),
};

}  // namespace

extern const core::Module kListsModule{"lists", nullptr, [](core::Runtime&) {
                                         register_natives(kListNatives);
                                         set_inline_op(&native_entry<prim_car>, InlineOp::Car);
                                         set_inline_op(&native_entry<prim_cdr>, InlineOp::Cdr);
                                         set_inline_op(&native_entry<prim_pair_p>, InlineOp::PairP);
                                         set_inline_op(&native_entry<prim_cons>, InlineOp::Cons);
                                       }};

}  // namespace data
