// The set primitives: lists taken as sets, compared flat (equal?) or deep
// (nested lists compared as sets themselves).
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "data/hashtables.hpp"

namespace data {
using namespace core;

namespace {

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }
// nil and pairs are lists.
inline bool is_list(Value v) { return v.is(Tag::Pair); }

bool included(Value a, Value b, bool flat);

bool same(Value a, Value b, bool flat) {
  if (flat) return equal(a, b);
  check_native_stack();
  bool la = is_list(a), lb = is_list(b);
  if (la != lb) return false;
  if (!la) return equal(a, b);
  return included(a, b, false) && included(b, a, false);
}

bool included(Value a, Value b, bool flat) {
  for (; a.is_pair(); a = cdr(a))
    if (!set_member(car(a), b, flat)) return false;
  return true;
}

// Unlinks from a fresh list every pair whose element is the same as an
// earlier one.
Value remove_duplicates(Value list, bool flat) {
  for (Value p = list; p.is_pair(); p = cdr(p)) {
    Value x = car(p);
    Value prev = p;
    for (Value q = cdr(p); q.is_pair(); q = cdr(q)) {
      if (same(x, car(q), flat))
        set_cdr(prev, cdr(q));
      else
        prev = q;
    }
  }
  return list;
}

void copy_onto(Value list, ListBuilder& b) {
  for (; list.is_pair(); list = cdr(list)) b.add(car(list));
}

Value prim_memberset(Value x, Value set, Value flat) { return boolean(set_member(x, set, flat.truthy())); }

Value prim_include_p(Value a, Value b, Value flat) { return boolean(included(a, b, flat.truthy())); }

Value prim_equalset(Value a, Value b, Value flat) {
  bool f = flat.truthy();
  if (is_list(a) && is_list(b)) return boolean(included(a, b, f) && included(b, a, f));
  return boolean(same(a, b, f));
}

Value prim_intersection(Value a, Value b, Value flat) {
  ListBuilder out;
  for (; a.is_pair(); a = cdr(a))
    if (set_member(car(a), b, flat.truthy())) out.add(car(a));
  return out.head;
}

Value prim_difference(Value a, Value b, Value flat) {
  if (b.is_nil()) return a;
  Value out = kNil;
  for (; a.is_pair(); a = cdr(a))
    if (!set_member(car(a), b, flat.truthy())) out = cons(car(a), out);
  return out;
}

Value prim_union(Value a, Value b, Value flat) {
  ListBuilder out;
  copy_onto(a, out);
  copy_onto(b, out);
  return remove_duplicates(out.head, flat.truthy());
}

Value prim_makeset(Value list, Value flat) {
  ListBuilder out;
  copy_onto(list, out);
  return remove_duplicates(out.head, flat.truthy());
}

const NativeRow kSetNatives[] = {
    TV_PRIM("memberset", prim_memberset, "(memberset X SET [FLAT]) t when an element of SET is the same as X (nested lists compared as sets unless FLAT)"),
    TV_PRIM("include?", prim_include_p, "(include? A B [FLAT]) t when every element of A is a member of B"),
    TV_PRIM("equalset", prim_equalset, "(equalset A B [FLAT]) t when A and B are the same set (each included in the other; nested lists as sets unless FLAT)"),
    TV_PRIM("intersection", prim_intersection, "(intersection A B [FLAT]) a new list of the elements of A that are members of B, in A's order"),
    TV_PRIM("difference", prim_difference, "(difference A B [FLAT]) a new list of the elements of A not in B, in reverse order; A itself when B is nil"),
    TV_PRIM("union", prim_union, "(union A B [FLAT]) a new list of the elements of A then B, later duplicates removed"),
    TV_PRIM("makeset", prim_makeset, "(makeset LIST [FLAT]) a new list of the elements of LIST, later duplicates removed"),
};

}  // namespace

bool set_member(Value x, Value set, bool flat) {
  for (; set.is_pair(); set = cdr(set))
    if (same(x, car(set), flat)) return true;
  return false;
}

extern const core::Module kSetsModule{"sets", nullptr, [](core::Runtime&) { register_natives(kSetNatives); }};

}  // namespace data
