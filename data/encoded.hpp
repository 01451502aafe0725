// Encoded code: source text in which symbols are table tokens (one to three
// control bytes naming an entry of the symbols table) and small integers
// byte tokens, everything else staying text. The encoder and the decoder
// here work on text alone, with the reader's initial character classes;
// they need no Lisp machine. The packer encodes an application's sources
// with them, `talven unpack` decodes them, and the tests compare the two.
//
// Entries 0 to 7 of every table are fixed (define quote set! t nil defslot
// when let); entry 8 + i is the i-th name of the table resource, which is a
// big-endian 16-bit count followed by that many zero-terminated names.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace data {

constexpr uint32_t kFixedTableEntries = 8;
extern const char* const kFixedTableNames[kFixedTableEntries];

// The names of a table resource, built as symbols are met.
class SymbolNames {
 public:
  // The entry of a name, added to the table when it is new; -1 when it
  // cannot be a table entry (a name holding a zero byte, or a full table).
  int32_t entry(const std::string& name);
  // The entry of a name already in the table, or -1.
  int32_t find(const std::string& name) const;
  // Adds the name at the end when it is new (to fix the order beforehand).
  void add(const std::string& name) { entry(name); }
  const std::vector<std::string>& names() const { return names_; }
  // The table resource.
  std::vector<uint8_t> resource() const;

 private:
  std::vector<std::string> names_;
  std::unordered_map<std::string, int32_t> index_;
};

// The names of a table resource; false when it is truncated or corrupt (a
// count larger than the names present, a name without its zero).
bool parse_symbols_resource(std::span<const uint8_t> bytes, std::vector<std::string>& names);

struct CodecError {
  int line = 0;  // 1-based line of the source where the fault lies
  std::string message;
};

struct EncodeOptions {
  bool keep_comments = false;
  // Each line end of the source (outside strings too) stays a carriage
  // return, so that the encoded text has the source's lines and errors in
  // it can name them.
  bool keep_lines = true;
  // Strict: a stray closing parenthesis, a list or string still open at the
  // end, or a control byte outside strings and comments is an error. Lenient
  // (for tests that encode texts with deliberate faults): they are kept as
  // they are, so the encoded text fails as the source does.
  bool strict = true;
};

// Counts the symbols of a source text (for a table ordered by use).
void count_symbols(std::string_view source, std::unordered_map<std::string, uint32_t>& counts);
// Encodes a source text (code page 1252) into out, adding the names it uses to the
// table. False with the error when the source is malformed (strict).
bool encode_source(std::string_view source, SymbolNames& table, std::string& out, CodecError& err,
                   const EncodeOptions& options = {});

// Decodes encoded code back into source text with line feeds between
// top-level forms (out is replaced). `names` are the names of the table resource. False with
// the error when a token is truncated or names an entry beyond the table.
bool decode_code(std::string_view code, const std::vector<std::string>& names, std::string& out, CodecError& err);

// The source text of a symbol name: characters that would end or change the
// token are escaped, and so is the first one of a name that would read as
// a number or a dot. Keywords keep their colon unescaped.
std::string symbol_source_text(const std::string& name);

// ---- Source coding -------------------------------------------------------------

// Whether the first line of a text declares UTF-8 (`; -*- coding: utf-8 -*-`).
bool declares_utf8(std::string_view text);
// The code page 1252 text of a UTF-8 source; false with the line of the
// first character that has no counterpart, or of invalid UTF-8.
bool utf8_source_to_1252(std::string_view text, std::string& out, int& bad_line);
// A source as the reader takes it: converted when it declares UTF-8, as it
// is otherwise.
bool source_text(std::string_view raw, std::string& out, int& bad_line);
// The line of the first multi-byte character of a text that does not
// declare UTF-8 but whose bytes are all valid UTF-8 with at least one
// multi-byte character (it is read as code page 1252 all the same), else 0.
int undeclared_utf8_line(std::string_view raw);
// The one-line warning for such a text of the named file, or empty.
std::string undeclared_utf8_warning(const std::string& name, std::string_view raw);

}  // namespace data
