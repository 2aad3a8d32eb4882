#include "results/result_export.h"

#include <initializer_list>

#include "platform/atomic_file.h"
#include "platform/code_page.h"
#include "platform/locale_text.h"
#include "results/result_file.h"
#include "results/result_manager.h"
#include "results/result_text.h"

namespace {

constexpr std::string_view kHTMLColumnHeaders =
    "<TR>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>File name</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Size</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Date</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Time</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Attr</B></FONT></TD>\r\n"
    "</TR>\r\n";

constexpr std::string_view kXMLDocumentType =
    "<!DOCTYPE SearchResults [\r\n"
    "  <!ELEMENT SearchResult (Name, Size, Date, Time, Attr) >\r\n"
    "  <!ELEMENT Name (#PCDATA) >\r\n"
    "  <!ELEMENT Size (#PCDATA) >\r\n"
    "  <!ELEMENT Date (#PCDATA) >\r\n"
    "  <!ELEMENT Time (#PCDATA) >\r\n"
    "  <!ELEMENT Attr (#PCDATA) >\r\n"
    "]>\r\n";

static_assert(kHTMLColumnHeaders.size() == 368);
static_assert(kXMLDocumentType.size() == 240);

void AppendAll(std::string& out, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) out.append(piece);
}

void AppendPercent(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// "&", "<", ">" and, when asked, '"' as entities; each character is replaced once.
std::string EscapeMarkup(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += quotes ? "&quot;" : "\""; break;
      default: out += c;
    }
  }
  return out;
}

// Writes one report of store to fileName: head, one row per result, footer.
void ExportReport(const TResultManager& store, const std::string& fileName, std::string head,
                  void (*writeRow)(std::string&, const TReportRow&),
                  void (*writeFooter)(std::string&)) {
  WriteWholeFile(fileName, [&](TAtomicFile& file) {
    file.Write(head);
    std::string piece;
    const size_t count = store.Count();
    for (size_t i = 0; i < count; ++i) {
      piece.clear();
      writeRow(piece, ReportRowOf(store.Item(i)));
      file.Write(piece);
    }
    piece.clear();
    writeFooter(piece);
    file.Write(piece);
  });
}

}  // namespace

TReportRow ReportRowOf(const TSearchResult& result) {
  return TReportRow{result.FullName(), SizeToText(result.Size), DateToText(result.DateTime),
                    TimeToText(result.DateTime), AttrToText(result.Attr)};
}

std::string ExportStamp(const std::tm& now) {
  std::string stamp = FormatShortDate(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  if (now.tm_hour != 0 || now.tm_min != 0 || now.tm_sec != 0) {
    stamp += ' ';
    stamp += FormatLongTime(now.tm_hour, now.tm_min, now.tm_sec);
  }
  return stamp;
}

std::string EscapeHTML(std::string_view text) { return EscapeMarkup(text, true); }

std::string EscapeXML(std::string_view text) { return EscapeMarkup(text, false); }

std::string FileLinkOf(std::string_view fullName) {
  const bool posix = !fullName.empty() && fullName[0] == '/';
  std::string link = posix ? "file://" : "file:///";
  for (char c : fullName) {
    if (c == '%' || c == '#' || c == '?' || (posix && c == '\\')) {
      AppendPercent(link, static_cast<unsigned char>(c));
    } else {
      link += (c == '\\') ? '/' : c;
    }
  }
  return link;
}

void WriteHTMLHeader(std::string& out, std::string_view stamp, std::string_view charset) {
  AppendAll(out, {"<HTML><HEAD><TITLE>Search results ", stamp, " </TITLE>",
                  "<META content=\"text/html; charset=", charset,
                  "\" http-equiv=Content-Type> ", "\r\n", "</HEAD> ", "\r\n", "<BODY>", "\r\n",
                  "<H3>Search results ", stamp, "</H3>", "\r\n",
                  "<TABLE BORDER=\"1\"><FONT SIZE=\"1\" FACE=\"Arial\">", "\r\n"});
  out.append(kHTMLColumnHeaders);
}

void WriteHTMLRow(std::string& out, const TReportRow& row) {
  const std::string name = EscapeHTML(row.FullName);
  AppendAll(out, {"<TR BGCOLOR=\"#F5F5F5\">\r\n",
                  " <TD><A HREF=\"", EscapeHTML(FileLinkOf(row.FullName)), "\">", name,
                  "</A></TD>\r\n"});
  for (const std::string* text : {&row.SizeText, &row.DateText, &row.TimeText, &row.AttrText}) {
    AppendAll(out, {" <TD>", *text, " </TD>\r\n"});
  }
  out += "</TR>\r\n";
}

void WriteHTMLFooter(std::string& out) { out += "</FONT></TABLE></P></BODY></HTML>"; }

void WriteXMLHeader(std::string& out, std::string_view charset) {
  AppendAll(out, {"<?xml version=\"1.0\" encoding=\"", charset, "\" ?>", "\r\n"});
  out.append(kXMLDocumentType);
  out += "<SearchResults>\r\n";
}

void WriteXMLRow(std::string& out, const TReportRow& row) {
  AppendAll(out, {"  <SearchResult>\r\n",
                  "    <Name>", EscapeXML(row.FullName), "</Name>\r\n",
                  "    <Size>", row.SizeText, "</Size>\r\n",
                  "    <Date>", row.DateText, "</Date>\r\n",
                  "    <Time>", row.TimeText, "</Time>\r\n",
                  "    <Attr>", row.AttrText, "</Attr>\r\n",
                  "  </SearchResult>\r\n"});
}

void WriteXMLFooter(std::string& out) { out += "</SearchResults>"; }

void TResultManager::ExportToHTML(const std::string& fileName) {
  const std::time_t nowSeconds = std::time(nullptr);
  std::tm now{};
  localtime_r(&nowSeconds, &now);
  std::string head;
  WriteHTMLHeader(head, ExportStamp(now), GetWebCharset());
  ExportReport(*this, fileName, std::move(head), WriteHTMLRow, WriteHTMLFooter);
}

void TResultManager::ExportToXML(const std::string& fileName) {
  std::string head;
  WriteXMLHeader(head, GetWebCharset());
  ExportReport(*this, fileName, std::move(head), WriteXMLRow, WriteXMLFooter);
}
