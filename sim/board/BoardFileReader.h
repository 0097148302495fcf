// The checks a board file's fields pass as they are read: each check leaves
// a message naming the place of the fault ("board.pci[1].config: is not
// hex"). Without a base directory, a board must hold every byte inline.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>

#include "sim/board/Board.h"

namespace kestrune::sim {

class BoardFileReader {
 public:
  using json = nlohmann::json;

  // Without files, a board must hold every byte inline.
  BoardFileReader(std::optional<std::string> baseDirectory, std::string& error)
      : base_(std::move(baseDirectory)), error_(error) {}

  bool Fail(const std::string& where, const std::string& what) {
    error_ = where + ": " + what;
    return false;
  }

  bool Keys(const json& object, const std::string& where, std::set<std::string> allowed);

  // A number, or text holding a decimal or 0x-prefixed hex number.
  bool Number(const json& value, const std::string& where, std::uint64_t max, std::uint64_t& out);

  template <class T>
  bool Field(const json& object, const char* name, const std::string& where, bool required, T& out) {
    if (!object.contains(name)) {
      return required ? Fail(where, std::string("needs \"") + name + "\"") : true;
    }
    std::uint64_t value = 0;
    if (!Number(object.at(name), where + "." + name, std::numeric_limits<T>::max(), value)) {
      return false;
    }
    out = static_cast<T>(value);
    return true;
  }

  bool Bool(const json& object, const char* name, const std::string& where, bool& out);

  bool Text(const json& object, const char* name, const std::string& where, bool required, std::string& out);

  bool ReadFile(const std::string& relative, const std::string& where, Bytes& out);

  // Bytes from "hex" or "file" (exactly one of them).
  bool Content(const json& object, const std::string& where, Bytes& out);

  // UTF-8 text as UTF-16; false when it is not UTF-8.
  static bool Utf8ToUtf16(const std::string& text, std::u16string& out);

 private:
  std::optional<std::string> base_;
  std::string& error_;
};

}  // namespace kestrune::sim
