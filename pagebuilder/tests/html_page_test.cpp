#include "html_page.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "fakes.h"

namespace pellatt::testing {
namespace {

std::string lines(std::initializer_list<std::string> parts) {
  std::string text;
  for (const auto& part : parts) text += part + "\r\n";
  return text;
}

const std::string kHead = lines({"<?xml version=\"1.0\" encoding=\"EUC-JP\"?>",
                                 "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"ja\">", "<head>",
                                 "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">",
                                 "<title>081206143_Ch27</title>", "</head>", "<body>"});
const std::string kLinks = lines({"<a href='081206143_Ch27.ts'>ts file</a></br>", "<a href='081206142_Ch27.html'>back</a>",
                                  "<a href='081206144_Ch27.html'>next</a></br>"});
const std::string kTail = lines({"</body>", "</html>"});
const std::string kKana = "\xa4\xa2\xa4\xa4";  // EUC-JP text of a caption

class HtmlPageTest : public ::testing::Test {
 protected:
  PageInput in;
  std::set<int> thumbs;
  HtmlPageTest() {
    in.ts_path = "/rec/081206/081206143_Ch27.ts";
    in.base_path = "/rec/081206/081206143_Ch27";
    in.start_minutes = 14 * 60 + 30;
    in.created = local_time(2008, 12, 6, 14, 30, 2);
  }
  std::string page(const std::string& sub) {
    std::istringstream captions(sub);
    std::ostringstream out;
    compose_page(in, captions, out, [&](int n) { return thumbs.count(n) != 0; });
    return out.str();
  }
  // One column, no links: only the body between <body> and </body> matters.
  void one_column(int item, bool labels) {
    in.settings.columns = "1";
    in.settings.one_column_layout = item;
    in.settings.thumb_time = labels;
    in.settings.ts_link = false;
    in.settings.cont = false;
    in.settings.to = "3";
    in.end_sec = 3;
    in.created = local_time(2008, 12, 6, 14, 30, 0);
    thumbs = {1, 3};
  }
  std::string body(const std::string& page_text) {
    const auto begin = page_text.find("<body>\r\n") + 8;
    return page_text.substr(begin, page_text.find("</body>") - begin);
  }
};

TEST_F(HtmlPageTest, DefaultTablePage) {
  in.end_sec = 25;
  thumbs = {5, 10, 15, 20, 25};
  const std::string sub = "14:30:01 early\r\n14:30:02 A" + kKana + "\r\n14:30:07 B\r\n14:30:09 C\r\n14:30:30 late\r\n";
  const auto cell = [](int n, const std::string& label) {
    return lines({"</td>", "<td>", label + "</br>", "<img src=\"081206143_Ch27thm/" + std::to_string(n) + ".jpg\">"});
  };
  const auto new_row = [](int n, const std::string& label) {
    return lines({"</td>", "</tr>", "<tr Valign=\"top\">", "<td>", label + "</br>",
                  "<img src=\"081206143_Ch27thm/" + std::to_string(n) + ".jpg\">"});
  };
  const std::string expected =
      kHead + kLinks + lines({"<table border bordercolor=black>", "<tr Valign=\"bottom\">", "<td>"}) +
      lines({"</br>", "A" + kKana, "</br>", "B"}) + new_row(5, "0:05") + lines({"</br>", "C"}) + cell(10, "0:10") +
      cell(15, "0:15") + cell(20, "0:20") + new_row(25, "0:25") + lines({"</td>", "</tr>", "</table>"}) + kLinks + kTail;
  EXPECT_EQ(page(sub), expected);
}

TEST_F(HtmlPageTest, CaptionsAboveTheImageInBottomAlignedRows) {
  in.settings.thumb_top = false;
  in.settings.columns = "2";
  in.settings.ts_link = false;
  in.settings.cont = false;
  in.end_sec = 10;
  thumbs = {5, 10};
  const std::string expected =
      kHead + lines({"<table border bordercolor=black>", "<tr Valign=\"bottom\">", "<td>", "A", "</br>", "0:05</br>",
                     "<img src=\"081206143_Ch27thm/5.jpg\">", "</td>", "<td>", "0:10</br>",
                     "<img src=\"081206143_Ch27thm/10.jpg\">", "</td>", "</tr>", "<tr Valign=\"bottom\">", "<td>",
                     "</td>", "</tr>", "</table>"}) +
      kTail;
  EXPECT_EQ(page("14:30:05 A\r\n"), expected);
}

TEST_F(HtmlPageTest, EmptySubGivesThumbnailsOnly) {
  one_column(2, true);
  EXPECT_EQ(body(page("")), lines({"0:01</br>", "<img src=\"081206143_Ch27thm/1.jpg\">", "</br>", "0:03</br>",
                                   "<img src=\"081206143_Ch27thm/3.jpg\">", "</br>"}));
}

TEST_F(HtmlPageTest, OneColumnLayouts) {
  const std::string img1 = "<img src=\"081206143_Ch27thm/1.jpg\">";
  const std::string img3 = "<img src=\"081206143_Ch27thm/3.jpg\">";
  const std::string sub = "14:30:02 P\r\n";
  struct Case {
    int item;
    bool labels;
    std::string expected;
  };
  const Case cases[] = {
      {0, true, lines({img1, "</br>", "P", "</br>", img3})},  // no labels in the side-by-side layout
      {0, false, lines({img1, "</br>", "P", "</br>", img3})},
      {1, true, lines({"</br>", "</br>", "0:01</br>", img1, "</br>", "P", "</br>", "</br>", "0:03</br>", img3})},
      {1, false, lines({"</br>", "</br>", img1, "</br>", "P", "</br>", "</br>", img3})},
      {2, true, lines({"0:01</br>", img1, "</br>", "P", "</br>", "0:03</br>", img3, "</br>"})},
      {2, false, lines({img1, "</br>", "P", "</br>", img3, "</br>"})},
  };
  for (const auto& c : cases) {
    one_column(c.item, c.labels);
    EXPECT_EQ(body(page(sub)), c.expected) << "layout " << c.item << " labels " << c.labels;
  }
}

TEST_F(HtmlPageTest, CaptionTimeLabelIsTheSecondItFallsOn) {
  one_column(0, false);
  in.settings.caption_time = true;
  in.settings.from = "120";
  in.end_sec = 130;
  thumbs = {};
  EXPECT_EQ(body(page("14:32:07 K\r\n")), lines({"</br>", "2:07", "</br>", "K", "</br>"}));
}

TEST_F(HtmlPageTest, CreatedInTheLastMinuteTakesTheNextDay) {
  one_column(0, false);
  in.created = local_time(2008, 12, 6, 23, 59, 30);
  in.end_sec = 5;
  thumbs = {5};
  // R is the next midnight: the caption at 00:00:03 falls before the thumbnail of second 5
  EXPECT_EQ(body(page("00:00:03 X\r\n")), lines({"</br>", "X", "</br>", "<img src=\"081206143_Ch27thm/5.jpg\">"}));
}

TEST_F(HtmlPageTest, ShortUnreadableAndUnfinishedLinesWriteNothing) {
  one_column(0, false);
  thumbs = {};
  EXPECT_EQ(body(page("14:30:01 \r\n14:30:02 Q\r\n1x:30:03 R\r\n14:30:04 unfinish")), lines({"</br>", "Q", "</br>"}));
}

TEST_F(HtmlPageTest, FileNamesAreEscaped) {
  in.ts_path = "/rec/a b/081206143_<&'\"x#.ts";
  in.base_path = "/rec/a b/081206143_<&'\"x#";
  in.settings.columns = "1";
  in.end_sec = 5;
  thumbs = {5};
  const std::string text = page("14:30:03 <i>\r\n");
  EXPECT_NE(text.find("<title>081206143_&lt;&amp;&#39;&quot;x#</title>"), std::string::npos);
  EXPECT_NE(text.find("<a href='081206143_&lt;&amp;&#39;&quot;x%23.ts'>ts file</a></br>"), std::string::npos);
  EXPECT_NE(text.find("<a href='081206142&amp;&#39;&quot;x%23.html'>back</a>"), std::string::npos);
  EXPECT_NE(text.find("<img src=\"081206143_&lt;&amp;&#39;&quot;x%23thm/5.jpg\">"), std::string::npos);
  EXPECT_NE(text.find("&lt;i&gt;"), std::string::npos);
  EXPECT_EQ(text.find("<i>"), std::string::npos);
}

TEST_F(HtmlPageTest, RangeMustFitInADay) {
  in.end_sec = 86400;
  EXPECT_THROW(page(""), JobError);
  in.end_sec = 86399;
  in.settings.from = "86399";
  EXPECT_NO_THROW(page(""));
}

TEST_F(HtmlPageTest, HtmlmakReadsAndWritesBesideTheRecording) {
  TempFolder dir;
  in.ts_path = dir / "081206143_Ch27.ts";
  in.base_path = dir / "081206143_Ch27";
  in.settings.columns = "1";
  in.settings.cont = false;
  in.settings.ts_link = false;
  in.end_sec = 10;
  EXPECT_THROW(htmlmak(in), JobError);  // no .sub
  write_file(dir / "081206143_Ch27.sub", "14:30:04 S\r\n");
  ::mkdir((dir / "081206143_Ch27thm").c_str(), 0777);
  write_file(dir / "081206143_Ch27thm/10.jpg", "x");
  EXPECT_EQ(htmlmak(in), 1);
  EXPECT_EQ(body(read_file(dir / "081206143_Ch27.html")),
            lines({"</br>", "S", "</br>", "<img src=\"081206143_Ch27thm/10.jpg\">"}));
}

TEST(TimeTexts, LabelsAndCaptionTimes) {
  EXPECT_EQ(time_label(0), "0:00");
  EXPECT_EQ(time_label(125), "2:05");
  EXPECT_EQ(time_label(600), "10:00");
  EXPECT_EQ(caption_seconds("14:30:02 x"), 14 * 3600 + 30 * 60 + 2);
  EXPECT_EQ(caption_seconds("23:59:59"), 86399);
  EXPECT_EQ(caption_seconds("24:00:00 x"), -1);
  EXPECT_EQ(caption_seconds("14:3:02 x"), -1);
  EXPECT_EQ(caption_seconds("1a:30:02 x"), -1);
  EXPECT_EQ(caption_seconds(""), -1);
}

}  // namespace
}  // namespace pellatt::testing
