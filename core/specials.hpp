// The built-in syntax words and the special forms.
#pragma once
#include "core/value.hpp"

namespace core {

// The built-in syntax words, in the order they are interned: the name of
// the tag constant, the tag, the Lisp name. Several names may share a tag.
#define TALVEN_SYNTAX_WORDS(X)                                                             \
  X(Quote, 0x20, "quote") X(If, 0x21, "if") X(When, 0x22, "when") X(Cond, 0x24, "cond")   \
  X(Set, 0x25, "set!") X(NewClause, 0x26, "new-clause") X(Case, 0x27, "case")             \
  X(Repeat, 0x28, "repeat") X(Until, 0x29, "until") X(While, 0x2A, "while")               \
  X(Begin, 0x2B, "begin") X(Or, 0x2C, "or") X(And, 0x2D, "and") X(Lambda, 0x2E, "lambda") \
  X(Send, 0x2F, "send") X(Gamma, 0x30, "gamma") X(Syntax, 0x31, "syntax")                 \
  X(FluidLet, 0x32, "fluid-let") X(SyntaxGamma, 0x34, "syntax-gamma") X(Let, 0x36, "let") \
  X(LetStar, 0x36, "let*") X(Letrec, 0x36, "letrec")

#define TALVEN_X(name, tag, text) constexpr unsigned kSyntax##name = tag;
TALVEN_SYNTAX_WORDS(TALVEN_X)
#undef TALVEN_X

// Interprets a built-in syntax word applied to its argument forms; `form`
// is the whole form (head included).
Value apply_syntax_word(Value word, Value args, Value form);

// Checks the shape of a special or syntax form's arguments: a proper list
// of at least `least` forms; error 2 with the whole form otherwise.
void check_forms(Value args, uint32_t least, Value form);

// Stores a value in a variable's slot (error 6 when it has none) or
// assigns a symbol as seen from the current object; error 2 otherwise.
void set_target(Value target, Value value);

// Gives every node of a defined function the permanent bit.
void make_permanent(Value v);

// The specials that analysed bodies run as codes of their own
// (core/analysis.cpp): which one a special value is, or None.
enum class SpecialCode : uint8_t { None, Unless, Prog1, Try };
SpecialCode special_code(Value special);

void register_syntax_words();
void register_special_natives();

}  // namespace core
