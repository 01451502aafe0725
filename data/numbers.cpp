// The numeric primitives, the number syntax and the printed form of reals.
#include "data/numbers.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/args.hpp"
#include "core/clock.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "data/state.hpp"

namespace data {
using namespace core;

namespace {

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }
inline bool is_real(Value v) { return v.is(Tag::Real); }
inline bool flag_set(Value v) { return v.truthy() && !v.is_no_value(); }
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A number argument as a double, accepting only numbers (error 2).
double number(Value v) { return read_double(v); }

// An integer result from 64-bit arithmetic, wrapped to 32 bits.
Value wrapped(int64_t n) { return make_integer(int32_t(uint32_t(uint64_t(n)))); }

}  // namespace

// ---- Syntax and printed form -------------------------------------------------

bool parse_integer_text(const char* s, int32_t& out) {
  while (is_blank(*s)) ++s;
  bool negative = false;
  if (*s == '-') {
    negative = true;
    ++s;
  }
  if (*s == 0) return false;
  int64_t n = 0;
  int digits = 0;
  while (*s >= '0' && *s <= '9') {
    if (++digits > 10) return false;
    n = n * 10 + (*s++ - '0');
  }
  while (is_blank(*s)) ++s;
  if (*s != 0) return false;
  if (negative) n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return false;
  out = int32_t(n);
  return true;
}

bool parse_real_text(const char* s, char mark, double& out) {
  while (is_blank(*s)) ++s;
  std::string copy;
  if (*s == '-') copy += *s++;
  while (*s >= '0' && *s <= '9') copy += *s++;
  if (*s == mark && mark != 0) {
    copy += '.';
    ++s;
    while (*s >= '0' && *s <= '9') copy += *s++;
  }
  if (*s == 'e' || *s == 'E') {
    copy += *s++;
    if (*s == '+' || *s == '-' || (*s >= '0' && *s <= '9')) {
      copy += *s++;
      while (*s >= '0' && *s <= '9') copy += *s++;
    }
  }
  while (is_blank(*s)) ++s;
  if (*s != 0) return false;
  // The text is now plain C syntax with a period; an exponent letter left
  // without digits is ignored by the conversion.
  const char* start = copy.c_str();
  char* stop = nullptr;
  double d = std::strtod(start, &stop);
  if (stop == start) return false;
  out = d;
  return true;
}

std::string format_real(double d, char mark) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-27.15g", d);
  std::string text(buf);
  size_t blank = text.find(' ');
  if (blank != std::string::npos) text.resize(blank);
  bool point = text.find('.') != std::string::npos;
  bool exponent = text.find_first_of("eE") != std::string::npos;
  for (char& c : text)
    if (c == '.') c = char(mark);
  if (!point && !exponent) {
    text += char(mark);
    text += '0';
  }
  return text;
}

Value real_to_integer(double d) {
  double t = std::trunc(d);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) error(Err::WrongType, make_real(d));
  return make_integer(int32_t(t));
}

// ---- Predicates -------------------------------------------------------------

static Value prim_number_p(Value x) { return boolean(is_integer(x) || is_real(x)); }
static Value prim_rational_p(Value) { return kNil; }
static Value prim_integer_p(Value x) { return boolean(is_integer(x)); }
static Value prim_inexact_p(Value x) { return boolean(!is_integer(x)); }

// The sign of a number: integers compared as integers, reals as doubles.
static int sign_of(Value x) {
  if (is_integer(x)) {
    int32_t n = read_integer(x);
    return (n > 0) - (n < 0);
  }
  double d = number(x);
  return (d > 0) - (d < 0);
}
static Value prim_zero_p(Value x) {
  if (is_real(x)) return boolean(real_value(x) == 0);
  return boolean(sign_of(x) == 0);
}
static Value prim_positive_p(Value x) { return boolean(sign_of(x) > 0); }
static Value prim_negative_p(Value x) { return boolean(sign_of(x) < 0); }

// ---- Sums and products --------------------------------------------------------

namespace {

// A running sum or product: a wrapping 32-bit integer until the first real.
struct Accumulator {
  bool real = false;
  uint32_t i;
  double d = 0;

  explicit Accumulator(uint32_t unit) : i(unit) {}
  void add(Value v) {
    if (!real && is_integer(v)) {
      i += uint32_t(read_integer(v));
      return;
    }
    to_real(v);
    d += number(v);
  }
  void multiply(Value v) {
    if (!real && is_integer(v)) {
      i *= uint32_t(read_integer(v));
      return;
    }
    to_real(v);
    d *= number(v);
  }
  void to_real(Value v) {
    if (real) return;
    number(v);  // a non-number is error 2 before the switch
    real = true;
    d = double(int32_t(i));
  }
  Value result() const { return real ? make_real(d) : make_integer(int32_t(i)); }
};

size_t count_args(const Value* rest) {
  size_t n = 0;
  while (!rest[n].is_end()) ++n;
  return n;
}

}  // namespace

static Value prim_add(Value* rest) {
  Accumulator a(0);
  for (; !rest->is_end(); ++rest) a.add(*rest);
  return a.result();
}

static Value prim_multiply(Value* rest) {
  Accumulator a(1);
  for (; !rest->is_end(); ++rest) a.multiply(*rest);
  return a.result();
}

static Value prim_subtract(Value* rest) {
  if (rest->is_end()) error(Err::NoOperands, kNil);
  Value first = rest[0];
  if (rest[1].is_end()) {
    if (is_real(first)) return make_real(-real_value(first));
    return make_integer(int32_t(0u - uint32_t(read_integer(first))));
  }
  Accumulator s(0);
  for (Value* p = rest + 1; !p->is_end(); ++p) s.add(*p);
  if (is_real(first) || s.real) return make_real(number(first) - (s.real ? s.d : double(int32_t(s.i))));
  return make_integer(int32_t(uint32_t(read_integer(first)) - s.i));
}

// Always a real. The divisor's product is taken in doubles, so that integer
// divisors cannot wrap to zero on the way.
static Value prim_divide(Value* rest) {
  if (rest->is_end()) error(Err::NoOperands, kNil);
  double first = number(rest[0]);
  if (rest[1].is_end()) return make_real(1.0 / first);
  double product = 1.0;
  for (Value* p = rest + 1; !p->is_end(); ++p) product *= number(*p);
  return make_real(first / product);
}

// ---- Comparisons -------------------------------------------------------------

namespace {

enum class Relation { Greater, Less, LessEqual, GreaterEqual, Equal, NotEqual };

template <typename T>
bool holds(Relation r, T a, T b) {
  switch (r) {
    case Relation::Greater: return a > b;
    case Relation::Less: return a < b;
    case Relation::LessEqual: return a <= b;
    case Relation::GreaterEqual: return a >= b;
    case Relation::Equal: return a == b;
    case Relation::NotEqual: return a != b;
  }
  return false;
}

Value compare_chain(Relation r, const Value* rest) {
  if (rest->is_end()) error(Err::NoOperands, kNil);
  // Every argument must be a number, even after the relation has failed.
  for (const Value* p = rest; !p->is_end(); ++p) number(*p);
  for (const Value* p = rest; !p[1].is_end(); ++p) {
    bool ok = is_integer(p[0]) && is_integer(p[1]) ? holds(r, read_integer(p[0]), read_integer(p[1]))
                                                   : holds(r, number(p[0]), number(p[1]));
    if (!ok) return kNil;
  }
  return rt().sym.t;
}

Value extreme(const Value* rest, bool largest) {
  size_t n = count_args(rest);
  if (n == 0) error(Err::NoOperands, kNil);
  bool real = false;
  int32_t best_i = 0;
  double best_d = 0;
  for (size_t k = n; k-- > 0;) {
    Value v = rest[k];
    bool first = k == n - 1;
    if (!real && is_integer(v)) {
      int32_t x = read_integer(v);
      if (first || (largest ? x > best_i : x < best_i)) best_i = x;
      continue;
    }
    double x = number(v);
    if (!real) {
      best_d = first ? x : double(best_i);
      real = true;
    }
    if (first || (largest ? x > best_d : x < best_d)) best_d = x;
  }
  return real ? make_real(best_d) : make_integer(best_i);
}

}  // namespace

static Value prim_greater(Value* r) { return compare_chain(Relation::Greater, r); }
static Value prim_less(Value* r) { return compare_chain(Relation::Less, r); }
static Value prim_less_equal(Value* r) { return compare_chain(Relation::LessEqual, r); }
static Value prim_greater_equal(Value* r) { return compare_chain(Relation::GreaterEqual, r); }
static Value prim_equal(Value* r) { return compare_chain(Relation::Equal, r); }
static Value prim_not_equal(Value* r) { return compare_chain(Relation::NotEqual, r); }
static Value prim_max(Value* r) { return extreme(r, true); }
static Value prim_min(Value* r) { return extreme(r, false); }

static Value prim_abs(Value x) {
  if (is_real(x)) return make_real(std::fabs(real_value(x)));
  int32_t n = read_integer(x);
  return n < 0 ? make_integer(int32_t(0u - uint32_t(n))) : x;
}

static Value prim_relate(Value a, Value b) {
  int32_t x = read_integer(a), y = read_integer(b);
  return make_fixnum(x > y ? 1 : x == y ? 0 : -1);
}

// ---- Rounding and division ---------------------------------------------------

namespace {

enum class Rounding { Floor, Ceiling, Truncate, Round };

Value round_number(Value x, Value divisor, Rounding how) {
  double d;
  if (divisor.is_nil()) {
    if (is_integer(x)) return x;
    d = number(x);
  } else {
    double q = number(divisor);
    d = number(x);
    if (q == 0) error(Err::DivideByZero, kNil);
    d /= q;
  }
  switch (how) {
    case Rounding::Floor: d = std::floor(d); break;
    case Rounding::Ceiling: d = std::ceil(d); break;
    case Rounding::Truncate: d = std::trunc(d); break;
    case Rounding::Round: d = std::floor(d + 0.5); break;
  }
  return real_to_integer(d);
}

}  // namespace

static Value prim_floor(Value x, Value q) { return round_number(x, q, Rounding::Floor); }
static Value prim_ceiling(Value x, Value q) { return round_number(x, q, Rounding::Ceiling); }
static Value prim_truncate(Value x, Value q) { return round_number(x, q, Rounding::Truncate); }
static Value prim_round(Value x, Value q) { return round_number(x, q, Rounding::Round); }

static Value prim_round_float(Value x, Value digits) {
  double f = 1.0;
  if (!digits.is_nil()) f = std::pow(10.0, double(int16_t(read_integer(digits))));
  return make_real(std::floor(number(x) * f + 0.5) / f);
}

// Integer division in 64 bits, so that -2147483648 by -1 wraps instead of
// trapping.
static Value prim_quotient(Value a, Value b) {
  int64_t x = read_integer(a), y = read_integer(b);
  if (y == 0) error(Err::DivideByZero, kNil);
  return wrapped(x / y);
}

static Value prim_remainder(Value a, Value b) {
  if (is_integer(a) && is_integer(b)) {
    int64_t x = read_integer(a), y = read_integer(b);
    if (y == 0) error(Err::DivideByZero, kNil);
    return wrapped(x % y);
  }
  return make_real(std::fmod(number(a), number(b)));
}

static Value prim_modulo(Value a, Value b) {
  if (is_integer(a) && is_integer(b)) {
    int64_t x = read_integer(a), y = read_integer(b);
    if (y == 0) error(Err::DivideByZero, kNil);
    int64_t r = x - y * (x / y);
    if (r != 0 && ((r < 0) != (y < 0))) r += y;
    return wrapped(r);
  }
  double x = number(a), y = number(b);
  if (y == 0) error(Err::DivideByZero, kNil);
  double r = std::fmod(x, y);
  if ((r < 0 && y > 0) || (r > 0 && y < 0)) r += y;
  return make_real(r);
}

static Value prim_even_p(Value x) { return boolean((read_integer(x) & 1) == 0); }
static Value prim_odd_p(Value x) { return boolean((read_integer(x) & 1) != 0); }

// ---- Random ------------------------------------------------------------------

int random_draw() {
  uint32_t& seed = data_state().random_seed;
  seed = seed * 214013u + 2531011u;
  return int((seed >> 16) & 0x7FFF);
}

static Value prim_random(Value limit) {
  int n = int16_t(uint16_t(arg_int(limit)));
  // A limit outside 1..32767 would divide by zero or never end the loop.
  if (n < 1) error(Err::WrongType, limit);
  for (int k = int((clock_ms() / 64) % 4); k > 0; --k) random_draw();
  int q = 32767 / n;
  int v;
  do v = random_draw() / q;
  while (v >= n);
  return make_fixnum(v);
}

// ---- Transcendental functions --------------------------------------------------

template <double (*F)(double)>
static Value real_function(Value x) {
  return make_real(F(number(x)));
}

static Value prim_atan(Value y, Value x) {
  if (x.is_nil()) return make_real(std::atan(number(y)));
  return make_real(std::atan2(number(y), number(x)));
}

static Value prim_expt(Value base, Value exponent) { return make_real(std::pow(number(base), number(exponent))); }

// ---- Bits ----------------------------------------------------------------------

static uint32_t bit_of(Value bit) { return 1u << (uint32_t(read_integer(bit)) & 31); }
static Value prim_bit_test(Value n, Value bit) { return boolean((uint32_t(read_integer(n)) & bit_of(bit)) != 0); }
static Value prim_bit_set(Value n, Value bit) { return make_integer(int32_t(uint32_t(read_integer(n)) | bit_of(bit))); }
static Value prim_bit_clear(Value n, Value bit) {
  return make_integer(int32_t(uint32_t(read_integer(n)) & ~bit_of(bit)));
}
static Value prim_bit_and(Value a, Value b) { return make_integer(read_integer(a) & read_integer(b)); }
static Value prim_bit_or(Value a, Value b) { return make_integer(read_integer(a) | read_integer(b)); }
static Value prim_bit_xor(Value a, Value b) { return make_integer(read_integer(a) ^ read_integer(b)); }
static Value prim_bit_not(Value a) { return make_integer(~read_integer(a)); }

// ---- Interpolation and growth -------------------------------------------------

static Value prim_interpolate(Value a, Value b, Value t, Value round_flag) {
  double x = number(a), y = number(b), f = number(t);
  double r = x + (y - x) * f;
  if (flag_set(round_flag)) return real_to_integer(std::floor(r + 0.5));
  return make_real(r);
}

static Value prim_progressive_growth(Value n) {
  int64_t k = read_integer(n);
  if (k == 0) return make_fixnum(1);
  int64_t half = k > 0 ? (k + 1) / 2 : k / 2;  // ceiling of k / 2
  return wrapped(k + half);
}

static const NativeRow kNumberNatives[] = {
    TV_PRIM("number?", prim_number_p, "(number? X) t for an integer or a real, else nil"),
    TV_PRIM("complex?", prim_number_p, "(complex? X) the same as number?"),
    TV_PRIM("real?", prim_number_p, "(real? X) the same as number?"),
    TV_PRIM("rational?", prim_rational_p, "(rational? X) always nil"),
    TV_PRIM("integer?", prim_integer_p, "(integer? X) t for a fixnum or long integer, else nil"),
    TV_PRIM("exact?", prim_integer_p, "(exact? X) the same as integer?"),
    TV_PRIM("inexact?", prim_inexact_p, "(inexact? X) t for anything that is not an integer"),
    TV_PRIM("zero?", prim_zero_p, "(zero? NUMBER) t when NUMBER is 0"),
    TV_PRIM("positive?", prim_positive_p, "(positive? NUMBER) t when NUMBER is above 0"),
    TV_PRIM("negative?", prim_negative_p, "(negative? NUMBER) t when NUMBER is below 0"),
    TV_PRIM("+", prim_add, "(+ NUMBER...) the sum, an integer (32 bits, wrapping) until a real takes part; 0 without arguments"),
    TV_PRIM("*", prim_multiply, "(* NUMBER...) the product, an integer (32 bits, wrapping) until a real takes part; 1 without arguments"),
    TV_PRIM("-", prim_subtract, "(- NUMBER NUMBER...) the negation of one argument, or the first minus the sum of the rest"),
    TV_PRIM("/", prim_divide, "(/ NUMBER NUMBER...) always a real: 1.0 divided by one argument, or the first divided by the product of the rest"),
    TV_PRIM(">", prim_greater, "(> NUMBER...) t when each argument is greater than the next"),
    TV_PRIM("<", prim_less, "(< NUMBER...) t when each argument is less than the next"),
    TV_PRIM("<=", prim_less_equal, "(<= NUMBER...) t when no argument is greater than the next"),
    TV_PRIM(">=", prim_greater_equal, "(>= NUMBER...) t when no argument is less than the next"),
    TV_PRIM("=", prim_equal, "(= NUMBER...) t when all arguments are numerically equal"),
    TV_PRIM("/=", prim_not_equal, "(/= NUMBER...) t when no two neighbouring arguments are equal"),
    TV_PRIM("max", prim_max, "(max NUMBER...) the largest argument; a real when any argument is a real"),
    TV_PRIM("min", prim_min, "(min NUMBER...) the smallest argument; a real when any argument is a real"),
    TV_PRIM("abs", prim_abs, "(abs NUMBER) the absolute value; a real stays a real"),
    TV_PRIM("relate", prim_relate, "(relate A B) 1 when integer A > B, 0 when equal, -1 when A < B"),
    TV_PRIM("floor", prim_floor, "(floor X [DIVISOR]) the largest integer not above X (or X / DIVISOR)"),
    TV_PRIM("ceiling", prim_ceiling, "(ceiling X [DIVISOR]) the smallest integer not below X (or X / DIVISOR)"),
    TV_PRIM("truncate", prim_truncate, "(truncate X [DIVISOR]) X (or X / DIVISOR) rounded toward zero, an integer"),
    TV_PRIM("round", prim_round, "(round X [DIVISOR]) X (or X / DIVISOR) rounded to the nearest integer, halves up"),
    TV_PRIM("round-float", prim_round_float, "(round-float X [DIGITS]) the real X rounded to DIGITS decimal places (0 without), halves up"),
    TV_PRIM("quotient", prim_quotient, "(quotient A B) the integer quotient truncated toward zero; error 58 for B = 0"),
    TV_PRIM("remainder", prim_remainder, "(remainder A B) the remainder of A by B with the sign of A; error 58 for the integer B = 0"),
    TV_PRIM("modulo", prim_modulo, "(modulo A B) the remainder of A by B with the sign of B; error 58 for B = 0"),
    TV_PRIM("even?", prim_even_p, "(even? INTEGER) t when INTEGER is even"),
    TV_PRIM("odd?", prim_odd_p, "(odd? INTEGER) t when INTEGER is odd"),
    TV_PRIM("random", prim_random, "(random N) a pseudo-random integer from 0 to N - 1 (N from 1 to 32767)"),
    TV_PRIM("sin", real_function<std::sin>, "(sin X) the sine of X radians, a real"),
    TV_PRIM("cos", real_function<std::cos>, "(cos X) the cosine of X radians, a real"),
    TV_PRIM("tan", real_function<std::tan>, "(tan X) the tangent of X radians, a real"),
    TV_PRIM("asin", real_function<std::asin>, "(asin X) the arc sine of X in radians, a real"),
    TV_PRIM("acos", real_function<std::acos>, "(acos X) the arc cosine of X in radians, a real"),
    TV_PRIM("exp", real_function<std::exp>, "(exp X) e to the power X, a real"),
    TV_PRIM("log", real_function<std::log>, "(log X) the natural logarithm of X, a real"),
    TV_PRIM("sqrt", real_function<std::sqrt>, "(sqrt X) the square root of X, a real"),
    TV_PRIM("atan", prim_atan, "(atan Y [X]) the arc tangent of Y, or the angle of the point (X, Y) from -pi to pi; a real"),
    TV_PRIM("expt", prim_expt, "(expt BASE EXPONENT) BASE to the power EXPONENT, always a real"),
    TV_PRIM("bit-test", prim_bit_test, "(bit-test N BIT) t when bit BIT (0 to 31) of integer N is set"),
    TV_PRIM("bit-set", prim_bit_set, "(bit-set N BIT) N with bit BIT (0 to 31) set"),
    TV_PRIM("bit-clear", prim_bit_clear, "(bit-clear N BIT) N with bit BIT (0 to 31) cleared"),
    TV_PRIM("bit-and", prim_bit_and, "(bit-and A B) the bitwise and of the 32-bit integers"),
    TV_PRIM("bit-or", prim_bit_or, "(bit-or A B) the bitwise or of the 32-bit integers"),
    TV_PRIM("bit-xor", prim_bit_xor, "(bit-xor A B) the bitwise exclusive or of the 32-bit integers"),
    TV_PRIM("bit-not", prim_bit_not, "(bit-not N) the bitwise complement of the 32-bit integer N"),
    TV_PRIM("interpolate", prim_interpolate, "(interpolate A B T [ROUND]) A + (B - A) * T: a real, or the nearest integer (halves up) when ROUND is true"),
    TV_PRIM("progressive-growth", prim_progressive_growth, "(progressive-growth N) the next size of a buffer growing by half: N + ceiling(N / 2), 1 for 0"),
};

static void install_module(core::Runtime&) {
  register_natives(kNumberNatives);
  // Two fixnums: integer arithmetic that wraps at 32 bits and comparisons,
  // as the natives themselves compute them.
  set_fixnum_op(&native_entry<prim_add>, FixnumOp::Add);
  set_fixnum_op(&native_entry<prim_subtract>, FixnumOp::Subtract);
  set_fixnum_op(&native_entry<prim_multiply>, FixnumOp::Multiply);
  set_fixnum_op(&native_entry<prim_less>, FixnumOp::Less);
  set_fixnum_op(&native_entry<prim_greater>, FixnumOp::Greater);
  set_fixnum_op(&native_entry<prim_less_equal>, FixnumOp::LessEqual);
  set_fixnum_op(&native_entry<prim_greater_equal>, FixnumOp::GreaterEqual);
  set_fixnum_op(&native_entry<prim_equal>, FixnumOp::Equal);
  set_fixnum_op(&native_entry<prim_not_equal>, FixnumOp::NotEqual);
}

extern const core::Module kNumbersModule{"numbers", nullptr, install_module};

}  // namespace data
