#pragma once
// The HTML and XML reports of a result store (TResultManager::ExportToHTML and
// ExportToXML, defined in result_export.cpp): UTF-8 text, declared as "utf-8", no
// byte-order mark, CR LF after each template line and no line break after the footer.
// Names are converted from the user's character set; a report is well-formed whatever
// bytes a name holds. The builders below
// append one piece of a report to a string; the export members write the pieces through
// the same whole-file-or-nothing writer as the result file.
#include <ctime>
#include <string>
#include <string_view>

#include "results/search_result.h"

// The texts of one result as both reports show them, in UTF-8.
struct TReportRow {
  std::string FullName;
  std::string SizeText;
  std::string DateText;
  std::string TimeText;
  std::string AttrText;
  std::string Link;  // the HTML link target; empty: FileLinkOf(FullName)
};

// The row texts of result: its full name and the list's size, date, time and
// attribute texts, converted to UTF-8, and the link made from the name's own bytes.
TReportRow ReportRowOf(const TSearchResult& result);

// The export stamp of the local time now: the short date, a blank and the long time;
// the date alone when now is exactly midnight.
std::string ExportStamp(const std::tm& now);

// Both escapes take UTF-8 text and give text that any XML 1.0 or HTML reader accepts:
// "&", "<", ">" (and for HTML '"') as entities, CR as "&#13;" (a reader would turn a
// bare CR into LF), and U+FFFD for bytes that are not UTF-8 and for characters that
// XML 1.0 forbids (controls other than tab, LF and CR; U+FFFE, U+FFFF). Each character
// is replaced at most once.
std::string EscapeHTML(std::string_view text);
std::string EscapeXML(std::string_view text);
// The link target of a full name, before HTML escaping: a POSIX name ("/a/b") as
// "file://" and the name; any other name (UNC "\\host\share\x", drive "C:\x") as
// "file:///" and the name with each "\" turned into "/". Characters that would end or
// change the path part of the URL ("%", "#", "?", and "\" in a POSIX name) are
// percent-encoded so that the link opens the file that the cell names, and so are
// control bytes and bytes of 0x80 and above, so the link holds the name's exact bytes
// whatever character set they are in.
std::string FileLinkOf(std::string_view fullName);

// HTML report: header (title, charset, heading, table start) with the column-header row,
// one row per result, footer.
void WriteHTMLHeader(std::string& out, std::string_view stamp, std::string_view charset);
void WriteHTMLRow(std::string& out, const TReportRow& row);
void WriteHTMLFooter(std::string& out);

// XML report: declaration, document type and the opening element; one element per
// result; the closing element.
void WriteXMLHeader(std::string& out, std::string_view charset);
void WriteXMLRow(std::string& out, const TReportRow& row);
void WriteXMLFooter(std::string& out);
