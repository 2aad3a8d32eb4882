#include "os/code_page.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::string WebCharsetOfCodeSet(const std::string& codeSet) {
  // Code set names that differ from their Web names, then those that are the same.
  static const std::pair<const char*, const char*> kRenamed[] = {
      {"ansi_x3.4-1968", "us-ascii"}, {"utf8", "utf-8"},         {"cp1250", "windows-1250"},
      {"cp1251", "windows-1251"},     {"cp1252", "windows-1252"}, {"cp1253", "windows-1253"},
      {"cp1254", "windows-1254"},     {"cp1255", "windows-1255"}, {"cp1256", "windows-1256"},
      {"cp1257", "windows-1257"},     {"cp1258", "windows-1258"}, {"eucjp", "euc-jp"},
      {"euckr", "euc-kr"},            {"euctw", "euc-tw"},        {"sjis", "shift_jis"},
  };
  static const char* const kSame[] = {"utf-8",  "us-ascii", "koi8-r", "koi8-u", "euc-jp",
                                      "euc-kr", "euc-tw",   "gb2312", "gbk",    "gb18030",
                                      "big5",   "cp866",    "big5-hkscs", "tis-620", "shift_jis"};
  const std::string lower = Lower(codeSet);
  for (const auto& [name, web] : kRenamed) {
    if (lower == name) return web;
  }
  for (const char* name : kSame) {
    if (lower == name) return lower;
  }
  // The ISO 8859 family keeps its name: iso-8859-1 ... iso-8859-16.
  if (lower.rfind("iso-8859-", 0) == 0 && lower.size() > 9 &&
      std::all_of(lower.begin() + 9, lower.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return lower;
  }
  return std::string();
}

std::string GetWebCharset() {
  // The user's locale as the environment names it; the process may still run in "C".
  if (locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
    std::string codeSet = nl_langinfo_l(CODESET, user);
    freelocale(user);
    return WebCharsetOfCodeSet(codeSet);
  }
  // The environment names a locale that is not installed: use the process's own.
  return WebCharsetOfCodeSet(nl_langinfo(CODESET));
}
