// Errors and non-local exits: the one exception type that carries every
// throw and error across native frames, and the catalogue of error numbers.
//
// Errors never return to their signaller. The error entry points report the
// error (or hand it to the application's handler) and end with a throw to
// `toplevel`; a throw is a C++ exception of type Thrower that unwinds the
// native stack, running the destructors of frames and guards on its way.
#pragma once
#include <string>

#include "core/module.hpp"
#include "core/value.hpp"

namespace core {

// Error numbers of the machine's family (kind 1010).
#define TALVEN_ERRORS(X)                                   \
  X(Lisp, 0, "error raised by Lisp code")                  \
  X(WrongType, 2, "wrong type or bad argument")            \
  X(NotFunction, 5, "not a function")                      \
  X(Unbound, 6, "unbound symbol or variable")              \
  X(NativeMemory, 9, "native memory exhausted")            \
  X(NoCatch, 17, "throw without a catch")                  \
  X(EndOfInput, 25, "end of input inside a form")          \
  X(FileNotFound, 31, "file not found")                    \
  X(TooManyFiles, 32, "too many open files")               \
  X(FileExists, 33, "file already exists")                 \
  X(FileSystem, 36, "file-system error")                   \
  X(FileBusy, 38, "file busy or already open for writing") \
  X(VolumeLocked, 45, "volume locked, write-protected or not present") \
  X(DiskFull, 46, "disk or directory full")                \
  X(NoOperands, 42, "arithmetic given no operands")        \
  X(NotAvailable, 47, "operation not available")           \
  X(SlotInLaidOutClass, 56, "new slot in a laid-out class")  \
  X(LayoutOptionChanged, 57, "layout option of a laid-out class changed") \
  X(DivideByZero, 58, "division by zero")                  \
  X(EmptyHandle, 60, "locking a handle without data")      \
  X(StackOverflow, 61, "stack or recursion depth exhausted") \
  X(SymbolTableFull, 62, "symbol table full")

enum class Err : int {
#define TALVEN_X(name, num, text) name = num,
  TALVEN_ERRORS(TALVEN_X)
#undef TALVEN_X
};

// Error numbers of the storage family (kind 1011), raised by the database
// module with nil as the culprit unless it says otherwise.
#define TALVEN_STORAGE_ERRORS(X)                                  \
  X(NotADatabase, 1, "the file is not a database")                \
  X(NoHandle, 2, "a handle cannot be allocated or grown")          \
  X(ShortRead, 3, "a header or record cannot be read completely")  \
  X(NotOpen, 4, "the database is not open")                        \
  X(NoRecord, 5, "no such record")                                 \
  X(CreateRefused, 6, "the file exists already, or does not")      \
  X(AddRefused, 7, "a record cannot be added")                     \
  X(Protected, 8, "removing a protected record")                   \
  X(ReadOnly, 9, "changing a database opened for reading only")

enum class StorageErr : int {
#define TALVEN_X(name, num, text) name = num,
  TALVEN_STORAGE_ERRORS(TALVEN_X)
#undef TALVEN_X
};

constexpr int kErrorKindMachine = 1010;
constexpr int kErrorKindStorage = 1011;

// The short English text of an error number of a family, or null when the
// catalogue has none.
const char* error_meaning(int kind, int number);

// The exit exception: a throw to a tag with a value. Errors end as a
// Thrower whose tag is the symbol `toplevel`.
struct Thrower {
  Value tag;
  Value value;
};

// Raised by an error signalled while an error message is being formatted.
struct ErrorPrinting {};

// Signals error `number` of the machine's family with the offending value.
[[noreturn]] void error(Err number, Value culprit);
// The same for the storage family.
[[noreturn]] void storage_error(StorageErr number, Value culprit);
// Signals an error whose report is the given message ("Error: message").
[[noreturn]] void error_text(const std::string& message);
// The printed text of a value for reports: the printer's text when the
// printer is there, a plain form of numbers, strings and symbols otherwise.
std::string describe(Value v);

// Whether a throw to the tag would be caught.
bool catched(Value tag);
// Raises the exit exception to the tag (error 17 when no catch has it).
[[noreturn]] void throw_to(Value tag, Value value);
// Raises the exit exception to `toplevel` with nil, without looking for a catch.
[[noreturn]] void throw_toplevel();

extern const Module kErrorsModule;

}  // namespace core
