#pragma once
// The HTML and XML reports of a result store (TResultManager::ExportToHTML and
// ExportToXML, defined in result_export.cpp): 8-bit text as stored, no byte-order mark,
// CR LF after each template line and no line break after the footer. The builders below
// append one piece of a report to a string; the export members write the pieces through
// the same whole-file-or-nothing writer as the result file.
#include <ctime>
#include <string>
#include <string_view>

#include "results/search_result.h"

// The texts of one result as both reports show them.
struct TReportRow {
  std::string FullName;
  std::string SizeText;
  std::string DateText;
  std::string TimeText;
  std::string AttrText;
};

// The row texts of result: its full name and the list's size, date, time and
// attribute texts.
TReportRow ReportRowOf(const TSearchResult& result);

// The export stamp of the local time now: the short date, a blank and the long time;
// the date alone when now is exactly midnight.
std::string ExportStamp(const std::tm& now);

// "&", "<", ">" and '"' as entities, for text and attribute values in HTML.
std::string EscapeHTML(std::string_view text);
// "&", "<" and ">" as entities, each character replaced at most once.
std::string EscapeXML(std::string_view text);
// The link target of a full name, before HTML escaping: a POSIX name ("/a/b") as
// "file://" and the name; any other name (UNC "\\host\share\x", drive "C:\x") as
// "file:///" and the name with each "\" turned into "/". Characters that would end or
// change the path part of the URL ("%", "#", "?", and "\" in a POSIX name) are
// percent-encoded so that the link opens the file that the cell names.
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
