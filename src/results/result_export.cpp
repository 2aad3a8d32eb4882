#include "results/result_export.h"

#include <initializer_list>

#include "os/atomic_file.h"
#include "os/locale_text.h"
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

// Reports hold UTF-8 whatever the user's character set: names convert into it without
// loss, and a name that is not text in any set still makes a well-formed document.
constexpr std::string_view kReportCharset = "utf-8";

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 character at text[i] (2 to 4), 0 when the bytes
// there are not one. text[i] is not ASCII.
size_t Utf8Length(std::string_view text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  if (code == 0xFFFE || code == 0xFFFF) return 0;  // not characters in XML 1.0
  return length;
}

// "&", "<", ">", CR and, when asked, '"' as references; forbidden characters and
// malformed bytes as U+FFFD. Each character is replaced once.
std::string EscapeMarkup(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += kReplacementUtf8;
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += quotes ? "&quot;" : "\""; break;
      case '\r': out += "&#13;"; break;
      case '\t':
      case '\n': out += c; break;
      default:
        if (byte < 0x20 || byte == 0x7F) out += kReplacementUtf8;
        else out += c;
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
  const std::string fullName = result.FullName();
  return TReportRow{LocaleTextToUtf8(fullName),
                    SizeToText(result.Size),
                    LocaleTextToUtf8(DateToText(result.DateTime)),
                    LocaleTextToUtf8(TimeToText(result.DateTime)),
                    AttrToText(result.Attr),
                    FileLinkOf(fullName)};
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
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '#' || c == '?' || (posix && c == '\\') || byte < 0x20 || byte >= 0x7F) {
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
                  " <TD><A HREF=\"",
                  EscapeHTML(row.Link.empty() ? FileLinkOf(row.FullName) : row.Link), "\">", name,
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
  WriteHTMLHeader(head, EscapeHTML(LocaleTextToUtf8(ExportStamp(now))), kReportCharset);
  ExportReport(*this, fileName, std::move(head), WriteHTMLRow, WriteHTMLFooter);
}

void TResultManager::ExportToXML(const std::string& fileName) {
  std::string head;
  WriteXMLHeader(head, kReportCharset);
  ExportReport(*this, fileName, std::move(head), WriteXMLRow, WriteXMLFooter);
}
