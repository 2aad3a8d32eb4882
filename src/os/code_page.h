#pragma once
// The Web character-set name of the user's 8-bit text encoding, as the HTML and XML
// reports declare it. The encoding is the code set of the user's locale (LC_ALL,
// LC_CTYPE or LANG), whatever locale the process itself has selected.

#include <string>

// "utf-8", "iso-8859-1", "windows-1251", ... for the user's locale; empty when the code
// set is not one we know a Web name for (the reports then declare an empty name).
std::string GetWebCharset();

// The Web name of a C-library code set name as nl_langinfo(CODESET) gives it
// ("UTF-8" -> "utf-8", "ANSI_X3.4-1968" -> "us-ascii"); empty when unknown.
std::string WebCharsetOfCodeSet(const std::string& codeSet);
