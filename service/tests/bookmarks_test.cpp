#include <gtest/gtest.h>

#include "service/web/bookmarks.h"

namespace torvo::service {

bool operator==(const Bookmark& a, const Bookmark& b) {
  return a.folder == b.folder && a.url == b.url && a.title == b.title && a.note == b.note && a.added == b.added &&
         a.isPrivate == b.isPrivate;
}
void PrintTo(const Bookmark& b, std::ostream* out) {
  *out << "{" << b.folder << "|" << b.url << "|" << b.title << "|" << b.note << "|" << b.added << "|" << b.isPrivate << "}";
}

namespace {

TEST(Bookmarks, WrittenFileReadsBackTheSame) {
  std::vector<Bookmark> bookmarks = {
      {"", "https://a.example/?x=1&y=\"2\"", "<b>bold</b> & 'quoted'", "첫 줄\n둘째 줄\n\n넷째", 1259670896, false},
      {"업무", "http://b.example/", "업무 페이지", "", 1259670900, true},
      {"", "https://c.example/", "", "one line", 1, false},
      {"여행", "http://d.example/", "여행지", "<script>alert(1)</script>", 1700000000, true},
  };
  std::string file = WriteBookmarks(bookmarks);
  EXPECT_TRUE(file.starts_with("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"));
  EXPECT_NE(file.find("<DT><H3>업무</H3>"), std::string::npos);
  EXPECT_NE(file.find("ADD_DATE=\"1259670900\" PRIVATE=\"1\""), std::string::npos);
  EXPECT_EQ(file.find("<script>"), std::string::npos);
  std::vector<Bookmark> read = ReadBookmarks(file);
  // Outside any folder first, then folder by folder.
  std::vector<Bookmark> expected = {bookmarks[0], bookmarks[2], bookmarks[1], bookmarks[3]};
  EXPECT_EQ(read, expected);
}

TEST(Bookmarks, ReadsWhatBrowsersAndOtherServicesWrite) {
  struct Case {
    const char* what;
    const char* html;
    std::vector<Bookmark> expected;
  };
  const Case cases[] = {
      {"a browser's bar, folders inside folders, no notes",
       R"(<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks</H1>
<DL><p>
    <DT><H3 ADD_DATE="1700000000" LAST_MODIFIED="1700000001" PERSONAL_TOOLBAR_FOLDER="true">Bookmarks bar</H3>
    <DL><p>
        <DT><A HREF="https://news.example/" ADD_DATE="1700000002" ICON="data:image/png;base64,AAA">News</A>
        <DT><H3 ADD_DATE="1700000003">Recipes &amp; more</H3>
        <DL><p>
            <DT><A HREF="https://food.example/kimchi" ADD_DATE="1700000004">Kimchi</A>
        </DL><p>
        <DT><A HREF="https://after.example/" ADD_DATE="1700000005">After</A>
    </DL><p>
</DL><p>
)",
       {{"Bookmarks bar", "https://news.example/", "News", "", 1700000002, false},
        {"Recipes & more", "https://food.example/kimchi", "Kimchi", "", 1700000004, false},
        {"Bookmarks bar", "https://after.example/", "After", "", 1700000005, false}}},
      {"no DOCTYPE, lower case, tags, microseconds, a written date, a note with entities",
       R"(<dl><dt><a href='https://x.example/' add_date=1700000000123456 tags="rust, web dev">X &#x41;&#66;</a>
<dd>Line &lt;one&gt;
 and more
<dt><a href="https://y.example/" ADD_DATE="2023-11-14T22:13:20Z" PRIVATE="1">Y</a>
<dt><a href="https://z.example/" add_date="yesterday">Z</a><dd>
<dt><a>no address</a>
</dl>)",
       {{"", "https://x.example/", "X AB", "Line <one>\n and more\n#rust #web_dev", 1700000000, false},
        {"", "https://y.example/", "Y", "", 1700000000, true},
        {"", "https://z.example/", "Z", "", 0, false}}},
      {"milliseconds and a folder named 기본",
       "<DL><DT><H3>기본</H3><DL><DT><A HREF=\"http://k.example/\" ADD_DATE=\"1700000000999\">한국어 제목</A><DD>메모<BR>둘째 줄</DL></DL>",
       {{"기본", "http://k.example/", "한국어 제목", "메모\n둘째 줄", 1700000000, false}}},
      {"nothing like bookmarks", "<html><body><p>hello</p></body></html>", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadBookmarks(c.html), c.expected) << c.what;
}

}  // namespace
}  // namespace torvo::service
