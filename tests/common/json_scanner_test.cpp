// JSON input scanning: member lookup, number and string reads, number lists.
#include "common/json_scanner.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace vx::common {
namespace {

struct MemberCase {
  std::string json;
  std::string key;
  std::optional<std::string> want;
};

TEST(JsonScanner, FindMemberText) {
  const std::string doc = "  {\"a\" : [1, [2]] ,\"b\":3}";
  const MemberCase cases[] = {
      {doc, "b", "3"},
      {doc, "a", "[1, [2]]"},
      {doc, "c", std::nullopt},
      {"[{\"a\":1}]", "a", std::nullopt},                // not an object
      {"{a:1}", "a", std::nullopt},                      // unquoted key ends the walk
      {"{\"mz_array\":1}", "mz", std::nullopt},          // whole key only
      {"{\"o\":{\"x\":1},\"y\":2}", "x", std::nullopt},  // nested keys are not visited
      {"{\"x\":\"1}\"}", "x", "\"1}\""},
      {"{\"x\":1,\"x\":2}", "x", "1"},    // first match wins
      {"{\"k\\\"ey\":5}", "k\"ey", "5"},  // escapes removed from keys
      {"{\"\\u0041\":5}", "u0041", "5"},  // \u is not decoded
      {"{\"x\":}", "x", ""},
      {"{\"x\":", "x", ""},
      {"{\"x\":[1,{\"]\":2}, \"]\"]}", "x", "[1,{\"]\":2}, \"]\"]"},
      {"{\"x\":[1,[2", "x", "[1,[2"},  // unterminated array runs to the end
      {"{\"x\":\"ab", "x", "\"ab"},
      {"{\"x\":{\"a\":[}]}}", "x", "{\"a\":[}"},  // only braces count for an object
      {"{\"a\":1 \"b\":2}", "b", std::nullopt},   // no comma ends the walk
      {"{\"\":1}", "", std::nullopt},             // empty key never matches
      {"{\"a\":1,\"b\":true}", "b", "true"},
      // The walk skips only the four JSON blanks; \v and \f are bytes.
      {"\v{\"a\":1}", "a", std::nullopt},
      {"{\f\"a\":1}", "a", std::nullopt},
      {"{\"a\":1\f,\"b\":2}", "a", "1\f"},
      {"{\"a\":1\f,\"b\":2}", "b", "2"},
      {"\r\n\t {\"a\"\n:\t1}", "a", "1"},
      {"{\"x\":\"a\\\"b\",\"y\":1}", "y", "1"},  // escaped quote inside a value
      {"{\"x\":[{],\"y\":2}", "x", "[{]"},       // braces do not count in an array
      {"{\"x\":[{],\"y\":2}", "y", "2"},
      {"{\"a\\", "a", std::nullopt},    // backslash as the last byte
      {"{\"abc", "abc", std::nullopt},  // unterminated key
      {"", "a", std::nullopt},
      {"   ", "a", std::nullopt},
  };
  for (const MemberCase& c : cases) {
    SCOPED_TRACE(c.json + " / " + c.key);
    const auto got = find_member_text(c.json, c.key);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_EQ(std::string(*got), *c.want);
    }
  }
}

TEST(JsonScanner, ReadNumberMember) {
  struct Case {
    std::string json;
    std::optional<double> want;
  };
  const Case cases[] = {
      {"{\"t\":\"90\"}", 90},
      {"{\"t\":90}", 90},
      {"{\"t\":1.5e0}", 1.5},
      {"{\"t\":\"abc\"}", {}},
      {"{\"t\":\"\"}", {}},
      {"{\"t\":null}", {}},
      {"{\"t\":12abc}", 12},
      {"{\"t\":\"0x1p3\"}", 8},
      {"{\"t\":1e99999}", HUGE_VAL},
      {"{\"u\":1}", {}},
      // The member walk keeps a form feed in the raw value; the number read
      // trims it with the wider blank set.
      {"{\"t\":\f7}", 7},
      {"{\"t\": \"90\" }", 90},
      {"{\"t\":\"\v 5 \f\"}", 5},  // strtod skips the blanks left inside the quotes
      {"{\"t\":-}", {}},
      {"{\"t\":\" \"}", {}},
      {"{\"t\":[5]}", {}},
      {"{\"t\":infinity}", HUGE_VAL},
      {"{\"t\":1e-400}", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(read_number_member(c.json, "t"), c.want);
  }
}

TEST(JsonScanner, ReadStringMember) {
  std::string out = "keep";
  EXPECT_TRUE(read_string_member("{\"u\":\"second\"}", "u", out));
  EXPECT_EQ(out, "second");
  EXPECT_FALSE(read_string_member("{\"u\":\"\"}", "u", out));
  EXPECT_EQ(out, "");
  out = "keep";
  EXPECT_FALSE(read_string_member("{\"v\":\"x\"}", "u", out));
  EXPECT_EQ(out, "keep");
  EXPECT_TRUE(read_string_member("{\"u\":60}", "u", out));
  EXPECT_EQ(out, "60");
  EXPECT_TRUE(read_string_member("{\"u\":\"a\\\"b\"}", "u", out));
  EXPECT_EQ(out, "a\\\"b");  // escapes stay as written
  // Trimming comes before unquoting and is not repeated after it.
  EXPECT_TRUE(read_string_member("{\"u\":\fsecond\f}", "u", out));
  EXPECT_EQ(out, "second");
  EXPECT_TRUE(read_string_member("{\"u\":\"  \"}", "u", out));
  EXPECT_EQ(out, "  ");
  EXPECT_TRUE(read_string_member("{\"u\":\"x", "u", out));  // unterminated: no unquoting
  EXPECT_EQ(out, "\"x");
}

TEST(JsonScanner, ParseNumberList) {
  struct Case {
    std::string text;
    std::vector<double> want;
  };
  const Case cases[] = {
      {"[1,2.5,-3e2]", {1, 2.5, -300}},
      {"[]", {}},
      {"", {}},
      {"[[1,2],[3]]", {1, 2, 3}},
      {"[\"7a\"]", {7}},
      {"1-2", {1, -2}},
      {"[1,,2]", {1, 2}},
      {"[1 2]", {1, 2}},
      {"[0x1p3, +4]", {8, 4}},
      {"[1e99999,-1e99999,1e-99999]", {HUGE_VAL, -HUGE_VAL, 0}},
      {".5 1. 1e 1e+", {0.5, 1, 1, 1}},
      {"--1 +-2 0x", {-1, -2, 0}},  // a sign that converts nothing is skipped alone
      {"\v1\f2", {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_number_list(c.text), c.want);
  }
  const auto words = parse_number_list("[nan,inf]");
  ASSERT_EQ(words.size(), 2u);
  EXPECT_TRUE(std::isnan(words[0]));
  EXPECT_TRUE(std::isinf(words[1]));
}

TEST(JsonScanner, IgnoresTheProcessLocale) {
  // A decimal-comma locale must not change what a point means.
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) GTEST_SKIP() << "no de_DE locale";
  EXPECT_EQ(parse_number_list("[1.5,2,5]"), (std::vector<double>{1.5, 2, 5}));
  EXPECT_EQ(read_number_member("{\"t\":\"2.25\"}", "t"), 2.25);
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(JsonScanner, LongRunsStayLinear) {
  // Ten million blanks without a number must not take quadratic time.
  const std::string blanks(10'000'000, ' ');
  EXPECT_TRUE(parse_number_list(blanks + "x").empty());
  EXPECT_EQ(parse_number_list(blanks + "5"), std::vector<double>{5});
}

TEST(JsonScanner, UntilNul) {
  EXPECT_EQ(until_nul(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(until_nul("abc"), "abc");
  EXPECT_EQ(until_nul(std::string_view()), "");  // no data pointer at all
}

}  // namespace
}  // namespace vx::common
