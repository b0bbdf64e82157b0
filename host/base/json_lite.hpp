// A small JSON reader for the documents the steps hand back (result,
// diagnostics, run summary, trace). The host reads them with its own code and
// never with the library's internals. Accepts standard JSON plus the bare
// words NaN, Infinity and -Infinity that the library writes for non-finite
// numbers. Bounded nesting (kMaxDepth), never reads past the text, locale-free.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::base {

struct JsonMember;

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0.0;
  std::string text;                 // kString
  std::vector<JsonValue> items;     // kArray
  std::vector<JsonMember> members;  // kObject, in document order

  [[nodiscard]] bool is_object() const { return kind == Kind::kObject; }
  // The first member with this key (objects only), or null.
  [[nodiscard]] const JsonValue* find(std::string_view key) const;
  // Typed member reads: nullopt when absent or of another kind.
  [[nodiscard]] std::optional<double> number_at(std::string_view key) const;
  [[nodiscard]] std::optional<bool> bool_at(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> text_at(std::string_view key) const;
  // Every element of an array member that is a number, in order; elements of
  // another kind are skipped. Empty when the member is absent.
  [[nodiscard]] std::vector<double> numbers_at(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

inline constexpr std::size_t kMaxDepth = 256;

struct JsonParse {
  std::optional<JsonValue> value;
  std::string error;       // empty on success
  std::size_t offset = 0;  // where the error was found
};

// Parses one complete JSON text (white space around it allowed).
JsonParse parse_json(std::string_view text);

}  // namespace vx::host::base
