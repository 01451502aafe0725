// A minimal evaluator: self-evaluating data, global symbols and primitive
// calls. Stands in until the full evaluator lands.
#include "core/eval.hpp"

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace core {

static Value call_primitive(Value fn, Value forms, bool evaluate) {
  StackMark mark;
  uint32_t code = native_code(fn);
  uint32_t n = code & kArityCount;
  if (n > 8) error(Err::WrongType, fn);
  Value* base = rt().zones.sp;
  for (uint32_t i = 0; i < n; ++i) {
    Value a = kNil;
    if (forms.is_pair()) {
      a = evaluate ? eval(car(forms)) : car(forms);
      forms = cdr(forms);
    }
    push(a);
  }
  if (code & kArityRest) {
    for (; forms.is_pair(); forms = cdr(forms)) push(evaluate ? eval(car(forms)) : car(forms));
    push(kEndArgs);
  }
  push(kEndArgs);
  return native_function(fn)(base);
}

Value eval(Value x) {
  if (x.is_symbol()) {
    Value v = symbol_value(x);
    if (v.is_no_value()) error(Err::Unbound, x);
    return v;
  }
  if (!x.is_pair()) return x;
  Value fn = eval(car(x));
  if (fn.is(Tag::Primitive)) return call_primitive(fn, cdr(x), true);
  if (fn.is(Tag::Special)) {
    Value args[2] = {cdr(x), kEndArgs};
    return native_function(fn)(args);
  }
  error(Err::NotFunction, car(x));
}

Value apply_list(Value fn, Value args) {
  if (!fn.is(Tag::Primitive)) error(Err::NotFunction, fn);
  return call_primitive(fn, args, false);
}

Value apply_vector(Value fn, Value* args, Value) {
  Value list = kNil;
  Value* end = args;
  while (!end->is_end()) ++end;
  while (end != args) list = cons(*--end, list);
  return apply_list(fn, list);
}

Value call_by_name(Value fn, std::initializer_list<Value> args) {
  if (fn.is_symbol()) fn = symbol_value(fn);
  Value list = kNil;
  for (auto it = args.end(); it != args.begin();) list = cons(*--it, list);
  return apply_list(fn, list);
}

void register_eval_natives() {}

}  // namespace core
