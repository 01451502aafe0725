// The built-in syntax words and the special forms.
#pragma once
#include "core/value.hpp"

namespace core {

// Tags of the built-in syntax words.
constexpr unsigned kSyntaxQuote = 0x20, kSyntaxIf = 0x21, kSyntaxWhen = 0x22, kSyntaxCond = 0x24,
                   kSyntaxSet = 0x25, kSyntaxNewClause = 0x26, kSyntaxCase = 0x27, kSyntaxRepeat = 0x28,
                   kSyntaxUntil = 0x29, kSyntaxWhile = 0x2A, kSyntaxBegin = 0x2B, kSyntaxOr = 0x2C,
                   kSyntaxAnd = 0x2D, kSyntaxLambda = 0x2E, kSyntaxSend = 0x2F, kSyntaxGamma = 0x30,
                   kSyntaxSyntax = 0x31, kSyntaxFluidLet = 0x32, kSyntaxSyntaxGamma = 0x34, kSyntaxLet = 0x36;

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

void register_syntax_words();
void register_special_natives();

}  // namespace core
