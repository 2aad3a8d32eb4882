#include "hive/reg_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Hex data lines are wrapped before this column, as registry editors do.
constexpr size_t kHexWrapColumn = 77;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool RegNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::vector<std::string_view> SplitRegPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    parts.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

// A name is written on one line of the file, so it may not hold a line break or NUL.
bool RegNameIsWritable(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool RegNameLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

namespace {

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

class TRegParser {
 public:
  explicit TRegParser(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
      if (line.ends_with('\r')) line.remove_suffix(1);
      Lines.push_back(line);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  // Calls onKey(path) for every key line and onValue(name, value) for every value line.
  template <class KeyFn, class ValueFn>
  void Parse(KeyFn onKey, ValueFn onValue) {
    bool headerSeen = false;
    bool inKey = false;
    for (LineNo = 0; LineNo < Lines.size(); ++LineNo) {
      std::string_view line = TrimRight(Lines[LineNo]);
      if (TrimLeft(line).empty() || line.starts_with(';')) continue;
      if (!headerSeen) {
        if (line != kRegHeader && line != "REGEDIT4") Fail("not a registry file (missing header)");
        headerSeen = true;
        continue;
      }
      if (line.starts_with('[')) {
        size_t close = line.rfind(']');
        if (close == std::string_view::npos || close + 1 != line.size()) Fail("unclosed key name");
        onKey(KeyPathOf(line.substr(1, close - 1)));
        inKey = true;
        continue;
      }
      if (!inKey) Fail("value outside a key");
      std::string name;
      size_t pos = 0;
      if (line.starts_with('@')) {
        pos = 1;
      } else if (line.starts_with('"')) {
        name = ReadQuoted(line, pos);
      } else {
        Fail("value name expected");
      }
      if (pos >= line.size() || line[pos] != '=') Fail("'=' expected after the value name");
      onValue(name, ReadData(line.substr(pos + 1)));
    }
    if (!headerSeen) Fail("empty file");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw TRegParseError{"line " + std::to_string(LineNo + 1) + ": " + what};
  }
  static std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }
  static std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }

  std::string KeyPathOf(std::string_view full) const {
    if (full.starts_with('-')) Fail("key deletion is not supported");
    size_t sep = full.find('\\');
    std::string_view root = full.substr(0, sep);
    if (!RegNamesEqual(root, kRegRootName) && !RegNamesEqual(root, "HKCU")) Fail("key outside " + std::string(kRegRootName));
    std::string_view path = sep == std::string_view::npos ? std::string_view() : full.substr(sep + 1);
    for (std::string_view part : SplitRegPath(path))
      if (part.empty()) Fail("empty key name");
    return std::string(path);
  }

  // Reads a quoted string starting at line[pos]; pos ends just past the closing quote.
  std::string ReadQuoted(std::string_view line, size_t& pos) const {
    std::string out;
    for (size_t i = pos + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        pos = i + 1;
        return out;
      }
      if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) c = line[++i];
      out += c;
    }
    Fail("unterminated string");
  }

  TRegValue ReadData(std::string_view data) {
    if (data.starts_with('"')) {
      size_t pos = 0;
      std::string text = ReadQuoted(data, pos);
      if (!TrimLeft(data.substr(pos)).empty()) Fail("text after the closing quote");
      return {REG_SZ, std::move(text)};
    }
    if (data.starts_with("dword:")) {
      std::string_view digits = TrimRight(data.substr(6));
      if (digits.empty() || digits.size() > 8) Fail("dword needs 1 to 8 hex digits");
      uint32_t v = 0;
      for (char c : digits) v = v * 16 + HexDigit(c);
      std::string bytes(4, '\0');
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return {REG_DWORD, std::move(bytes)};
    }
    uint32_t type = REG_BINARY;
    if (data.starts_with("hex:")) {
      data.remove_prefix(4);
    } else if (data.starts_with("hex(")) {
      size_t close = data.find("):");
      if (close == std::string_view::npos || close == 4 || close > 12) Fail("bad hex(type)");
      type = 0;
      for (char c : data.substr(4, close - 4)) type = type * 16 + HexDigit(c);
      data.remove_prefix(close + 2);
    } else {
      Fail("unknown value data");
    }
    std::string bytes = ReadHexBytes(data);
    // Text written in hex form carries its terminating NUL.
    if (type == REG_SZ && !bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return {type, std::move(bytes)};
  }

  // "xx,xx,...", continued on the following lines while a line ends with a backslash.
  std::string ReadHexBytes(std::string_view data) {
    std::string joined;
    for (;;) {
      std::string_view part = TrimRight(data);
      bool more = part.ends_with('\\');
      if (more) part.remove_suffix(1);
      joined += part;
      if (!more) break;
      if (++LineNo >= Lines.size()) Fail("hex data continues past the end");
      data = TrimLeft(Lines[LineNo]);
    }
    std::string bytes;
    std::string_view rest = TrimRight(joined);
    while (!rest.empty()) {
      rest = TrimLeft(rest);
      if (rest.size() < 2) Fail("bad hex byte");
      bytes += static_cast<char>(HexDigit(rest[0]) * 16 + HexDigit(rest[1]));
      rest = TrimLeft(rest.substr(2));
      if (rest.empty()) break;
      if (rest.front() != ',') Fail("',' expected between hex bytes");
      rest.remove_prefix(1);
    }
    return bytes;
  }

  uint32_t HexDigit(char c) const {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    Fail(std::string("bad hex digit '") + c + "'");
  }

  std::vector<std::string_view> Lines;
  size_t LineNo = 0;
};

}  // namespace

void ParseRegText(std::string_view text, const std::function<void(const std::string& path)>& onKey,
                  const std::function<void(const std::string& name, TRegValue value)>& onValue) {
  TRegParser(text).Parse(onKey, onValue);
}

namespace {

void AppendHex(std::string& out, std::string_view prefix, std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  out += prefix;
  size_t column = prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column >= kHexWrapColumn) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  out += '\n';
}

}  // namespace

void AppendRegValue(std::string& out, const std::string& name, const TRegValue& value) {
  std::string prefix = (name.empty() ? std::string("@") : Quoted(name)) + "=";
  if (value.Type == REG_DWORD && value.Data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(value.Data[i]);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", v);
    out += prefix + "dword:" + digits + "\n";
  } else if (value.Type == REG_SZ && RegNameIsWritable(value.Data)) {
    out += prefix + Quoted(value.Data) + "\n";
  } else if (value.Type == REG_SZ) {
    // A line break or NUL cannot sit inside a quoted line: the text goes in hex form.
    AppendHex(out, prefix + "hex(1):", value.Data + std::string(1, '\0'));
  } else if (value.Type == REG_BINARY) {
    AppendHex(out, prefix + "hex:", value.Data);
  } else {
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", value.Type);
    AppendHex(out, prefix + type, value.Data);
  }
}
