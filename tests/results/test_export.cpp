// The HTML and XML reports: every piece byte for byte, escaping, links, the charset
// name, and writing the report file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>

#include "os/code_page.h"
#include "os/locale_text.h"
#include "results/lan_error.h"
#include "results/result_export.h"
#include "results/result_manager.h"
#include "results/result_text.h"
#include "test_result_file_fixture.h"

namespace {

const std::string kHTMLHeader =
    "<HTML><HEAD><TITLE>Search results 01/02/24 10:00:00 </TITLE>"
    "<META content=\"text/html; charset=utf-8\" http-equiv=Content-Type> \r\n"
    "</HEAD> \r\n"
    "<BODY>\r\n"
    "<H3>Search results 01/02/24 10:00:00</H3>\r\n"
    "<TABLE BORDER=\"1\"><FONT SIZE=\"1\" FACE=\"Arial\">\r\n"
    "<TR>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>File name</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Size</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Date</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Time</B></FONT></TD>\r\n"
    " <TD BGCOLOR=\"#006699\"><FONT COLOR=\"#FFFFFF\"><B>Attr</B></FONT></TD>\r\n"
    "</TR>\r\n";
const std::string kHTMLFooter = "</FONT></TABLE></P></BODY></HTML>";

std::string XMLHeader(const std::string& charset) {
  return "<?xml version=\"1.0\" encoding=\"" + charset + "\" ?>\r\n"
         "<!DOCTYPE SearchResults [\r\n"
         "  <!ELEMENT SearchResult (Name, Size, Date, Time, Attr) >\r\n"
         "  <!ELEMENT Name (#PCDATA) >\r\n"
         "  <!ELEMENT Size (#PCDATA) >\r\n"
         "  <!ELEMENT Date (#PCDATA) >\r\n"
         "  <!ELEMENT Time (#PCDATA) >\r\n"
         "  <!ELEMENT Attr (#PCDATA) >\r\n"
         "]>\r\n"
         "<SearchResults>\r\n";
}
const std::string kXMLFooter = "</SearchResults>";

const TReportRow kLocalRow{"/home/ann/a.txt", "0 B", "01/02/24", "09:30:00", "RA", ""};
const TReportRow kUncRow{"\\\\srv\\share\\b.doc", "1 MB", "12/31/23", "23:59:58", "", ""};

std::string HTMLOf(std::initializer_list<TReportRow> rows, const std::string& charset) {
  std::string out;
  WriteHTMLHeader(out, "01/02/24 10:00:00", charset);
  for (const TReportRow& row : rows) WriteHTMLRow(out, row);
  WriteHTMLFooter(out);
  return out;
}

std::string XMLOf(std::initializer_list<TReportRow> rows, const std::string& charset) {
  std::string out;
  WriteXMLHeader(out, charset);
  for (const TReportRow& row : rows) WriteXMLRow(out, row);
  WriteXMLFooter(out);
  return out;
}

}  // namespace

TEST(ReportText, EmptyFrames) {
  EXPECT_EQ(HTMLOf({}, "utf-8"), kHTMLHeader + kHTMLFooter);
  EXPECT_EQ(XMLOf({}, "utf-8"), XMLHeader("utf-8") + kXMLFooter);
  // An unknown charset is declared empty, quotes side by side.
  EXPECT_NE(HTMLOf({}, "").find("charset=\" http-equiv"), std::string::npos);
  EXPECT_EQ(XMLOf({}, "").rfind("<?xml version=\"1.0\" encoding=\"\" ?>\r\n", 0), 0u);
}

TEST(ReportText, LocalAndUncRows) {
  EXPECT_EQ(HTMLOf({kLocalRow, kUncRow}, "utf-8"),
            kHTMLHeader +
                "<TR BGCOLOR=\"#F5F5F5\">\r\n"
                " <TD><A HREF=\"file:///home/ann/a.txt\">/home/ann/a.txt</A></TD>\r\n"
                " <TD>0 B </TD>\r\n"
                " <TD>01/02/24 </TD>\r\n"
                " <TD>09:30:00 </TD>\r\n"
                " <TD>RA </TD>\r\n"
                "</TR>\r\n"
                "<TR BGCOLOR=\"#F5F5F5\">\r\n"
                " <TD><A HREF=\"file://///srv/share/b.doc\">\\\\srv\\share\\b.doc</A></TD>\r\n"
                " <TD>1 MB </TD>\r\n"
                " <TD>12/31/23 </TD>\r\n"
                " <TD>23:59:58 </TD>\r\n"
                " <TD> </TD>\r\n"
                "</TR>\r\n" +
                kHTMLFooter);
  EXPECT_EQ(XMLOf({kLocalRow, kUncRow}, "utf-8"),
            XMLHeader("utf-8") +
                "  <SearchResult>\r\n"
                "    <Name>/home/ann/a.txt</Name>\r\n"
                "    <Size>0 B</Size>\r\n"
                "    <Date>01/02/24</Date>\r\n"
                "    <Time>09:30:00</Time>\r\n"
                "    <Attr>RA</Attr>\r\n"
                "  </SearchResult>\r\n"
                "  <SearchResult>\r\n"
                "    <Name>\\\\srv\\share\\b.doc</Name>\r\n"
                "    <Size>1 MB</Size>\r\n"
                "    <Date>12/31/23</Date>\r\n"
                "    <Time>23:59:58</Time>\r\n"
                "    <Attr></Attr>\r\n"
                "  </SearchResult>\r\n" +
                kXMLFooter);
}

TEST(ReportText, EscapesMarkupInNames) {
  TReportRow row = kLocalRow;
  row.FullName = "C:\\Dir\\A&B <\"x\">.txt";
  std::string html;
  WriteHTMLRow(html, row);
  EXPECT_NE(html.find(" <TD><A HREF=\"file:///C:/Dir/A&amp;B &lt;&quot;x&quot;&gt;.txt\">"
                      "C:\\Dir\\A&amp;B &lt;&quot;x&quot;&gt;.txt</A></TD>\r\n"),
            std::string::npos)
      << html;

  std::string xml;
  row.FullName = "C:\\Dir\\A&B<&amp;>.txt";
  WriteXMLRow(xml, row);
  EXPECT_NE(xml.find("    <Name>C:\\Dir\\A&amp;B&lt;&amp;amp;&gt;.txt</Name>\r\n"),
            std::string::npos)
      << xml;
  EXPECT_EQ(EscapeXML("\"quoted\""), "\"quoted\"");
}

struct TLinkCase {
  const char* fullName;
  const char* link;
};

class FileLink : public ::testing::TestWithParam<TLinkCase> {};

TEST_P(FileLink, PointsAtTheFileTheCellNames) {
  EXPECT_EQ(FileLinkOf(GetParam().fullName), GetParam().link);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileLink,
    ::testing::Values(TLinkCase{"/home/ann/a.txt", "file:///home/ann/a.txt"},
                      TLinkCase{"\\\\host\\share\\x", "file://///host/share/x"},
                      TLinkCase{"C:\\Dir\\a.txt", "file:///C:/Dir/a.txt"},
                      TLinkCase{"/tmp/a#1?b%20c.txt", "file:///tmp/a%231%3Fb%2520c.txt"},
                      TLinkCase{"/tmp/back\\slash", "file:///tmp/back%5Cslash"}));

TEST(WebCharset, KnownCodeSetsAndUnknown) {
  const std::pair<const char*, const char*> cases[] = {
      {"UTF-8", "utf-8"},           {"ANSI_X3.4-1968", "us-ascii"}, {"ISO-8859-15", "iso-8859-15"},
      {"CP1251", "windows-1251"},   {"ISO-8859-", ""},             {"NO-SUCH-SET", ""},
  };
  for (const auto& [codeSet, web] : cases) EXPECT_EQ(WebCharsetOfCodeSet(codeSet), web) << codeSet;
}

TEST(ExportStamp, MidnightShowsTheDateAlone) {
  std::tm midnight{};
  midnight.tm_year = 124;
  midnight.tm_mon = 0;
  midnight.tm_mday = 2;
  EXPECT_EQ(ExportStamp(midnight), FormatShortDate(2024, 1, 2));
  std::tm oneSecondLater = midnight;
  oneSecondLater.tm_sec = 1;
  EXPECT_EQ(ExportStamp(oneSecondLater),
            FormatShortDate(2024, 1, 2) + " " + FormatLongTime(0, 0, 1));
}

TEST(ExportFile, WritesTheStoreInOrder) {
  TTempFolder folder;
  TResultManager store;
  AddOne(store, MakeResult("/home/ann/", "a.txt", 0, 45000.25, 0x21));
  AddOne(store, MakeResult("\\\\srv\\share\\", "b.doc", 1048576, 44000.5, 0));

  std::string rows;
  for (size_t i = 0; i < store.Count(); ++i) WriteXMLRow(rows, ReportRowOf(store.Item(i)));
  store.ExportToXML(folder / "r.xml");
  EXPECT_EQ(ReadBytes(folder / "r.xml"), XMLHeader("utf-8") + rows + kXMLFooter);
  EXPECT_NE(rows.find("<Size>0 B</Size>"), std::string::npos);
  EXPECT_NE(rows.find("<Size>1 MB</Size>"), std::string::npos);

  store.ExportToHTML(folder / "r.html");
  const std::string html = ReadBytes(folder / "r.html");
  EXPECT_EQ(html.rfind("<HTML><HEAD><TITLE>Search results ", 0), 0u);
  EXPECT_NE(html.find("<A HREF=\"file://///srv/share/b.doc\">"), std::string::npos);
  ASSERT_GE(html.size(), kHTMLFooter.size());
  EXPECT_EQ(html.substr(html.size() - kHTMLFooter.size()), kHTMLFooter);
}

// Whatever bytes a name holds and whatever the user's character set, a report is UTF-8
// that an XML reader accepts: names are converted, what cannot be converted or XML
// forbids is U+FFFD, CR survives as a reference, and the link keeps the exact bytes.
TEST(ExportFile, ReportsAreWellFormedForAnyNameBytes) {
  const std::string name = std::string("a\x01") + "b\rc\xFF" + "d\xC3\xA9.txt";
  const std::string replacement = "\xEF\xBF\xBD";
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    ASSERT_TRUE(SetUserLocaleForTesting(locale));
    TTempFolder folder;
    TResultManager store;
    AddOne(store, MakeResult("/t/", name, 1, std::nan("")));
    store.ExportToXML(folder / "r.xml");
    store.ExportToHTML(folder / "r.html");
    const std::string accented = std::string(locale) == "C" ? replacement + replacement : "\xC3\xA9";
    const std::string shown = "/t/a" + replacement + "b&#13;c" + replacement + "d" + accented + ".txt";
    const std::string xml = ReadBytes(folder / "r.xml");
    EXPECT_EQ(xml.rfind(XMLHeader("utf-8"), 0), 0u);
    EXPECT_NE(xml.find("<Name>" + shown + "</Name>\r\n    <Size>1 B</Size>\r\n    <Date></Date>"),
              std::string::npos) << xml;
    const std::string html = ReadBytes(folder / "r.html");
    EXPECT_NE(html.find("charset=utf-8\""), std::string::npos);
    EXPECT_NE(html.find("<A HREF=\"file:///t/a%01b%0Dc%FFd%C3%A9.txt\">" + shown + "</A>"),
              std::string::npos) << html;
  }
  SetUserLocaleForTesting("");
}

TEST(ExportFile, ReadOnlyTargetIsKept) {
  TTempFolder folder;
  TResultManager store;
  WriteBytes(folder / "r.html", "old");
  chmod((folder / "r.html").c_str(), 0444);
  for (auto exportTo : {&TResultManager::ExportToHTML, &TResultManager::ExportToXML}) {
    try {
      (store.*exportTo)(folder / "r.html");
      ADD_FAILURE() << "export over a read-only file succeeded";
    } catch (const TLanError& error) {
      EXPECT_EQ(std::string(error.what()), "Can not rewrite file \"" + (folder / "r.html") + "\"!");
    }
  }
  EXPECT_EQ(ReadBytes(folder / "r.html"), "old");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"r.html"});
}

TEST(ExportFile, ArbitraryRecordBytesLoadAndExport) {
  // A record of 0xFF bytes: a 512-byte name, a NaN date, size and attributes all ones.
  TTempFolder folder;
  TResultManager store;
  store.SaveToFile(folder / "r.dat");
  WriteBytes(folder / "r.dat", ReadBytes(folder / "r.dat") + std::string(528, '\xFF'));
  store.LoadFromFile(folder / "r.dat");
  ASSERT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Item(0).FullName(), std::string(512, '\xFF'));
  store.ExportToHTML(folder / "r.html");
  store.ExportToXML(folder / "r.xml");
  EXPECT_NE(ReadBytes(folder / "r.xml").find("<Attr>RHSA</Attr>"), std::string::npos);
}
