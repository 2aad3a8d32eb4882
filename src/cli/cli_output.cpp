#include "cli/cli_output.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "os/dos_time.h"
#include "results/result_text.h"
#include "results/search_result.h"

namespace {

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when it starts with
// an invalid one (a stray continuation byte, an overlong form, a surrogate, a code point
// beyond U+10FFFF, or a truncated sequence).
size_t Utf8SequenceLength(std::string_view bytes) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead == 0xE0) length = 3, low = 0xA0;
  else if (lead == 0xED) length = 3, high = 0x9F;
  else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
  else if (lead == 0xF0) length = 4, low = 0x90;
  else if (lead == 0xF4) length = 4, high = 0x8F;
  else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
  else return 0;
  if (bytes.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// The letters of the attribute bits: R H S A as the result list shows them, then D for a
// folder.
std::string AttributeLetters(uint32_t attr) {
  return AttrToText(attr) + ((attr & 0x10) != 0 ? "D" : "");
}

// A result without details has time 0; one whose details could not be read has no
// finite time and a negative size.
bool HasTime(const TSearchResult& result) {
  return result.DateTime != 0.0 && std::isfinite(result.DateTime);
}
bool HasSize(const TSearchResult& result) { return result.DateTime != 0.0 && result.Size >= 0; }

void WriteLine(const std::string& line, std::FILE* out) {
  std::fwrite(line.data(), 1, line.size(), out);
}

// Sets key to the text of bytes and, when bytes is not valid UTF-8, key_base64 to them.
void SetText(nlohmann::ordered_json& object, const std::string& key, const std::string& bytes) {
  if (IsValidUtf8(bytes)) {
    object[key] = bytes;
    return;
  }
  object[key] = LossyUtf8(bytes);
  object[key + "_base64"] = Base64(bytes);
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

TOutputFormat ParseOutputFormat(const std::string& option, const std::string& text) {
  if (text == "plain") return TOutputFormat::Plain;
  if (text == "json") return TOutputFormat::Json;
  if (text == "csv") return TOutputFormat::Csv;
  throw TUsageError(option + ": \"" + text + "\" is not one of plain, json, csv");
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string LossyUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++i;
    } else {
      text.append(bytes.substr(i, length));
      i += length;
    }
  }
  return text;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t count = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k)
      text += k <= count ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return text;
}

std::string IsoLocalTime(double dateTime) {
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  std::tm local{};
  local.tm_year = parts.Year - 1900;
  local.tm_mon = parts.Month - 1;
  local.tm_mday = parts.Day;
  local.tm_hour = parts.Hour;
  local.tm_min = parts.Minute;
  local.tm_sec = parts.Second;
  local.tm_isdst = -1;  // the zone's rules decide, as they did for the file's own time
  std::tm settled = local;
  long offset = 0;
  if (std::mktime(&settled) != static_cast<std::time_t>(-1)) offset = settled.tm_gmtoff;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", parts.Year,
                parts.Month, parts.Day, parts.Hour, parts.Minute, parts.Second, sign, offset / 3600,
                offset / 60 % 60);
  return text;
}

void BeginStructuredOutput(TOutputFormat format, std::FILE* out) {
  if (format == TOutputFormat::Csv) WriteLine("path,size,mtime,attributes,path_base64\r\n", out);
}

void WriteStructuredResult(TOutputFormat format, const TSearchResult& result, std::FILE* out) {
  const std::string name = result.FullName();
  const bool size = HasSize(result), time = HasTime(result);
  if (format == TOutputFormat::Json) {
    nlohmann::ordered_json object;
    SetText(object, "path", name);
    object["size"] = size ? nlohmann::ordered_json(result.Size) : nlohmann::ordered_json();
    object["mtime"] = time ? nlohmann::ordered_json(IsoLocalTime(result.DateTime)) : nlohmann::ordered_json();
    object["attributes"] = AttributeLetters(result.Attr);
    WriteLine(object.dump() + "\n", out);
    return;
  }
  const bool valid = IsValidUtf8(name);
  WriteLine(CsvField(valid ? name : LossyUtf8(name)) + "," +
                (size ? std::to_string(result.Size) : std::string()) + "," +
                (time ? IsoLocalTime(result.DateTime) : std::string()) + "," +
                AttributeLetters(result.Attr) + "," + (valid ? std::string() : Base64(name)) + "\r\n",
            out);
}

void WriteCliError(TOutputFormat format, const std::string& message, std::FILE* err) {
  if (format != TOutputFormat::Json) {
    std::fprintf(err, "lanternquest-cli: %s\n", message.c_str());
    return;
  }
  WriteLogLine(format, message, err);
}

void WriteLogLine(TOutputFormat format, const std::string& line, std::FILE* err) {
  if (format != TOutputFormat::Json) {
    std::fprintf(err, "%s\n", line.c_str());
    return;
  }
  nlohmann::ordered_json object;
  SetText(object, "error", line);
  WriteLine(object.dump() + "\n", err);
}
