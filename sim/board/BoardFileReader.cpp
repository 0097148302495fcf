#include "sim/board/BoardFileReader.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrune::sim {

namespace {

constexpr std::uintmax_t kMaxFileSize = 256u << 20;

}  // namespace

bool BoardFileReader::Keys(const json& object, const std::string& where, std::set<std::string> allowed) {
  if (!object.is_object()) {
    return Fail(where, "must be an object");
  }
  for (const auto& item : object.items()) {
    if (allowed.count(item.key()) == 0) {
      return Fail(where, "unknown field \"" + item.key() + "\"");
    }
  }
  return true;
}

bool BoardFileReader::Number(const json& value, const std::string& where, std::uint64_t max, std::uint64_t& out) {
  if (value.is_number_unsigned()) {
    out = value.get<std::uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<std::int64_t>() < 0) {
      return Fail(where, "must not be negative");
    }
    out = value.get<std::uint64_t>();
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 16) {
      return Fail(where, "\"" + text + "\" is not a number");
    }
    std::uint64_t result = 0;
    for (char c : digits) {
      int digit = -1;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      }
      if (digit < 0 || (!hex && result > (UINT64_MAX - digit) / 10)) {
        return Fail(where, "\"" + text + "\" is not a number");
      }
      result = result * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    }
    out = result;
  } else {
    return Fail(where, "must be a number");
  }
  if (out > max) {
    return Fail(where, "is larger than " + std::to_string(max));
  }
  return true;
}

bool BoardFileReader::Bool(const json& object, const char* name, const std::string& where, bool& out) {
  if (!object.contains(name)) {
    return true;
  }
  if (!object.at(name).is_boolean()) {
    return Fail(where + "." + name, "must be true or false");
  }
  out = object.at(name).get<bool>();
  return true;
}

bool BoardFileReader::Text(const json& object, const char* name, const std::string& where, bool required,
                           std::string& out) {
  if (!object.contains(name)) {
    return required ? Fail(where, std::string("needs \"") + name + "\"") : true;
  }
  if (!object.at(name).is_string()) {
    return Fail(where + "." + name, "must be text");
  }
  out = object.at(name).get<std::string>();
  return true;
}

bool BoardFileReader::ReadFile(const std::string& relative, const std::string& where, Bytes& out) {
  if (!base_) {
    return Fail(where, "names a file, but this board must hold its bytes inline");
  }
  std::string path = relative;
  const bool absolute =
      !relative.empty() && (relative[0] == '/' || relative[0] == '\\' || (relative.size() > 1 && relative[1] == ':'));
  if (!absolute && !base_->empty()) {
    path = *base_ + "/" + relative;
  }
  // Only a plain file of bounded size: not a device that never ends.
  std::error_code failed;
  const bool regular = std::filesystem::is_regular_file(path, failed);
  const std::uintmax_t size = regular ? std::filesystem::file_size(path, failed) : 0;
  std::ifstream file(path, std::ios::binary);
  if (!regular || failed || !file) {
    return Fail(where, "cannot read \"" + path + "\"");
  }
  if (size > kMaxFileSize) {
    return Fail(where, "\"" + path + "\" is larger than " + std::to_string(kMaxFileSize) + " bytes");
  }
  out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

bool BoardFileReader::Content(const json& object, const std::string& where, Bytes& out) {
  const bool hasHex = object.contains("hex");
  const bool hasFile = object.contains("file");
  if (hasHex == hasFile) {
    return Fail(where, "needs either \"hex\" or \"file\"");
  }
  std::string text;
  if (hasHex) {
    if (!Text(object, "hex", where, true, text)) {
      return false;
    }
    std::optional<Bytes> bytes = ParseHex(text);
    if (!bytes) {
      return Fail(where + ".hex", "is not hex");
    }
    out = std::move(*bytes);
    return true;
  }
  return Text(object, "file", where, true, text) && ReadFile(text, where + ".file", out);
}

bool BoardFileReader::Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0;
    std::size_t extra = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

}  // namespace kestrune::sim
