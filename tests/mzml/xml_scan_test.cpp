// XML scanning: element search, content and attribute lookup on byte
// patterns, with the delimiter, nesting and quoting limits they have.
#include "mzml/xml_scan.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vx::mzml {
namespace {

constexpr std::size_t kUnwritten = 999999;

struct ElementCase {
  std::string text;
  std::string tag;
  std::size_t start;
  std::optional<std::string> want;  // nullopt: not found
  std::size_t want_end;             // when found
};

TEST(XmlScan, FindElement) {
  const std::string list =
      "<spectrumList count=\"2\"><spectrum index=\"0\">x</spectrum><spectrum "
      "index=\"1\"/>"
      "</spectrumList>";
  const ElementCase cases[] = {
      // The list's own start tag is skipped: the byte after the name decides.
      {list, "spectrum", 0, "<spectrum index=\"0\">x</spectrum>", 56},
      {list, "spectrum", 56, "<spectrum index=\"1\"/>", 77},
      {list, "spectrum", 77, std::nullopt, 0},
      {list, "spectrumList", 0, list, list.size()},
      {"<cvParam name=\"ms level\" value=\"1\"/>", "cvParam", 0,
       "<cvParam name=\"ms level\" value=\"1\"/>", 36},
      {"<cvParam name=\"a\"></cvParam>tail", "cvParam", 0,
       "<cvParam name=\"a\"></cvParam>", 28},
      // Same-name nesting is not tracked: the first end tag closes.
      {"<a><a>x</a></a>", "a", 0, "<a><a>x</a>", 11},
      // An end tag with a blank before '>' is not an end tag.
      {"<spectrum>x</spectrum >", "spectrum", 0, std::nullopt, 0},
      // A '>' inside a quoted value ends the start tag early.
      {"<a t=\"x>\"/>", "a", 0, std::nullopt, 0},
      {"<a t=\"x>\"/></a>", "a", 0, "<a t=\"x>\"/></a>", 15},
      {"<scanList><scanWindow/><scan>1</scan>", "scan", 0, "<scan>1</scan>", 37},
      {"<scan\n/>", "scan", 0, "<scan\n/>", 8},
      {"<scan\t/>", "scan", 0, "<scan\t/>", 8},
      {"<scan\r/>", "scan", 0, "<scan\r/>", 8},
      {"<scan/>", "scan", 0, "<scan/>", 7},
      // VT, FF and bytes above '>' are not delimiters.
      {"<scan\v/><scan\f/><scan\xc3/>", "scan", 0, std::nullopt, 0},
      // Comments and prefixes get no special treatment.
      {"<!-- <spectrum a=\"1\"/> -->", "spectrum", 0, "<spectrum a=\"1\"/>", 22},
      {"<ns:spectrum/>", "spectrum", 0, std::nullopt, 0},
      // A candidate at the very end is accepted, then no '>' follows it.
      {"<scan", "scan", 0, std::nullopt, 0},
      {"", "scan", 0, std::nullopt, 0},
      {"<scan/>", "scan", 3, std::nullopt, 0},
      {"<scan/>", "scan", 100, std::nullopt, 0},
      {"<a>x", "a", 0, std::nullopt, 0},
      // Nothing but a '/' before '>' marks self-closing.
      {"<a/ >", "a", 0, std::nullopt, 0},
  };
  for (const ElementCase& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.tag + " @" + std::to_string(c.start));
    std::size_t end = kUnwritten;
    const std::string_view got = find_element(c.text, c.tag, c.start, end);
    if (!c.want) {
      EXPECT_TRUE(got.empty());
      EXPECT_EQ(end, kUnwritten);
      continue;
    }
    EXPECT_EQ(got, *c.want);
    EXPECT_EQ(end, c.want_end);
    // The result is a view into the searched text, not a copy.
    EXPECT_GE(got.data(), c.text.data());
    EXPECT_LE(got.data() + got.size(), c.text.data() + c.text.size());
  }
}

TEST(XmlScan, SiblingWalkResumesAtEndOffset) {
  const std::string text = "<l><i n=\"1\"/><i n=\"2\">x</i><i n=\"3\"/></l>";
  std::string seen;
  std::size_t pos = 0;
  for (;;) {
    std::size_t end = 0;
    const std::string_view e = find_element(text, "i", pos, end);
    if (e.empty()) break;
    seen += std::string(attribute_value(e, "n"));
    pos = end;
  }
  EXPECT_EQ(seen, "123");
}

struct ContentCase {
  std::string text;
  std::string tag;
  std::string want;
};

TEST(XmlScan, ElementContent) {
  const ContentCase cases[] = {
      {"<binary>AAAA</binary>", "binary", "AAAA"},
      {"<binary>\n  AA AA \n</binary>", "binary", "\n  AA AA \n"},  // untrimmed
      {"<binary/>", "binary", ""},
      {"<binary></binary>", "binary", ""},
      {"<binary>AAAA", "binary", ""},
      // The array's own start tag is never the binary element.
      {"<binaryDataArray arrayLength=\"1\"><binary>QQ==</binary></binaryDataArray>",
       "binary", "QQ=="},
      {"<binaryDataArray><binary/></binaryDataArray>", "binary", ""},
      {"<v>&amp;<![CDATA[x]]></v>", "v", "&amp;<![CDATA[x]]>"},  // raw bytes
  };
  for (const ContentCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(element_content(c.text, c.tag, 0), c.want);
  }
}

struct AttributeCase {
  std::string text;
  std::string name;
  std::string want;
};

TEST(XmlScan, AttributeValue) {
  const AttributeCase cases[] = {
      // The name must start an attribute: "filename" does not answer for it.
      {"<sourceFile id=\"f\" filename=\"a\" name=\"b\"/>", "name", "b"},
      {"<sourceFile id=\"f\" filename=\"a\"/>", "name", ""},
      {"name=\"first\" x name=\"second\"", "name", "first"},  // at the start of the text
      {"<a\tname=\"t\"/>", "name", "t"},
      {"<a\nname=\"n\"/>", "name", "n"},
      {"<a\rname=\"r\"/>", "name", "r"},
      {"<a x=\"1\"name=\"q\"/>", "name", ""},  // a quote is not a blank
      {"<a name='b'/>", "name", ""},
      {"<a name = \"b\"/>", "name", ""},
      {"<a name=\"\"/>", "name", ""},
      {"<a name=\"unterminated/>", "name", ""},
      {"<a name=\"", "name", ""},
      {"<a value=\"&amp;\"/>", "value", "&amp;"},
      {"<a value=\"x>y\"/>", "value", "x>y"},
      // The first occurrence anywhere wins, even in a child or in content.
      {"<s><c index=\"9\"/></s>", "index", "9"},
      {"", "name", ""},
      {"na", "name", ""},
  };
  for (const AttributeCase& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.name);
    EXPECT_EQ(attribute_value(c.text, c.name), c.want);
  }
}

TEST(XmlScan, PlainSearch) {
  EXPECT_EQ(find_text("<mzML><run id=\"r\">", "<run", 0), 6u);
  EXPECT_EQ(find_text("<runList><run>", "<run", 0), 0u);  // a bare prefix
  EXPECT_EQ(find_text("<fileDescription >", "<fileDescription>", 0),
            std::string_view::npos);
  EXPECT_EQ(find_text("abc", "c", 5), std::string_view::npos);
}

TEST(XmlScan, SearchesStayInsideTheView) {
  // The view ends before the end tag that follows in memory.
  const std::string whole = "<a>x</a>";
  const std::string_view head(whole.data(), 5);
  std::size_t end = kUnwritten;
  EXPECT_TRUE(find_element(head, "a", 0, end).empty());
  EXPECT_TRUE(element_content(head, "a", 0).empty());
  const std::string attr = "<a n=\"xy\"/>";
  EXPECT_EQ(attribute_value(std::string_view(attr.data(), 7), "n"), "");
}

}  // namespace
}  // namespace vx::mzml
