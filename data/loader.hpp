// Code loading: evaluating every top-level form of a text held in memory,
// source or encoded code, and the symbols table that encoded code names
// its symbols by.
//
// A load makes the text the current input source, raises the event-dispatch
// depth (printing processes no window events meanwhile), evaluates outside
// any object and as the prompt does (core::eval_top_form: a form that uses
// lexical variables runs in a function of its own), and decodes with the
// symbols table installed when it began; on every exit, normal or not, it
// restores what it saved. Each step starts with a fetch, so the character
// that ended the previous datum is dropped: a datum that does not end with
// a closing parenthesis needs one character after it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "core/memory.hpp"
#include "core/value.hpp"

namespace data {

// Loads the bytes [base, base + length) of the region. With `bind_file`,
// `Load-File` holds `file` for the extent of the load. The bytes must stay
// where they are until the load ends (the caller owns them).
void load_region(core::Addr base, uint32_t length, bool bind_file, core::Value file, const std::string& source = "");

// Loads the text held by a handle with `Load-File` bound to `file`; the
// handle stays locked during the load. The start-up loads each code
// resource through it.
void load_from_handle(uint32_t handle, core::Value file);

// Loads the contents of a source file read by the caller: a text that
// declares UTF-8 on its first line is converted to code page 1252 first (a
// character without a counterpart is error 2 naming the file and line).
// `Load-File` is left as it is.
void load_source(const std::string& bytes, const std::string& name);

// Installs the symbols table read from a handle (the table resource
// format), or removes the table when handle is 0. A truncated or corrupt
// table is error 2 with `culprit` and leaves the installed table alone.
void set_symbols_table(uint32_t handle, core::Value culprit);

// Keeps the symbols table installed when it is made as the one the reader
// decodes with, whatever is installed meanwhile; the previous one comes
// back at its end. Once the outermost pin ends, the reader decodes with
// whatever table is installed then. Every load holds one.
class SymbolsTablePin {
 public:
  SymbolsTablePin();
  ~SymbolsTablePin();
  SymbolsTablePin(const SymbolsTablePin&) = delete;
  SymbolsTablePin& operator=(const SymbolsTablePin&) = delete;

 private:
  std::shared_ptr<const std::vector<core::Value>> saved_;
};

extern const core::Module kLoaderModule;

}  // namespace data
