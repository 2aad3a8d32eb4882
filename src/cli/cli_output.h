#pragma once
// The machine-readable output forms of lanternquest-cli.
//
// --format json writes JSON Lines: one object per result,
//   {"path": FULL NAME, "size": BYTES, "mtime": "2024-05-01T14:03:22+02:00",
//    "attributes": "RHSAD" letters}
// and, on standard error, one object per failure: {"error": MESSAGE}.
// --format csv writes RFC 4180 CSV with CRLF line ends and the header
//   path,size,mtime,attributes,path_base64
//
// Names are bytes and need not be UTF-8. Text fields are always valid UTF-8: a name that
// is valid UTF-8 is written as it is; in one that is not, each byte of an invalid sequence
// reads as U+FFFD, and the exact bytes follow, base64-encoded (RFC 4648, with padding), in
// "path_base64" (JSON: present only then; CSV: empty otherwise). A consumer that needs
// the exact name decodes path_base64 when it is present and takes path otherwise. JSON
// messages follow the same rule with "error_base64".
//
// A size or time that is not known (a result without details, or whose details could not
// be read) is null in JSON and an empty field in CSV.
#include <cstdio>
#include <string>
#include <string_view>

struct TSearchResult;

enum class TOutputFormat { Plain, Json, Csv };

// "plain", "json" or "csv"; throws TUsageError naming option otherwise.
TOutputFormat ParseOutputFormat(const std::string& option, const std::string& text);

// What comes before the first result: the CSV header, nothing for the other forms.
void BeginStructuredOutput(TOutputFormat format, std::FILE* out);

// One result as one JSON line or one CSV record. format is Json or Csv.
void WriteStructuredResult(TOutputFormat format, const TSearchResult& result, std::FILE* out);

// One failure of the program on err: a JSON line under Json, else
// "lanternquest-cli: MESSAGE".
void WriteCliError(TOutputFormat format, const std::string& message, std::FILE* err);
// One line of the search's error log on err: a JSON line under Json, else the line.
void WriteLogLine(TOutputFormat format, const std::string& line, std::FILE* err);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);

// Helpers of the forms above, exposed for their tests.
bool IsValidUtf8(std::string_view bytes);
// bytes with each byte of an invalid UTF-8 sequence replaced by U+FFFD.
std::string LossyUtf8(std::string_view bytes);
std::string Base64(std::string_view bytes);
// A local date-time (days since 1899-12-30) as ISO 8601 with the local offset then in
// effect, e.g. "2024-05-01T14:03:22+02:00".
std::string IsoLocalTime(double dateTime);
