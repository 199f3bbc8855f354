#include <gtest/gtest.h>

#include <random>

#include "core/DateTime.h"
#include "core/JsonWriter.h"
#include "core/Text.h"

using namespace tarvok;

TEST(JsonEscape, EscapesAsTheStoredFormWants) {
  struct { const char* name; std::string in; std::string out; } cases[] = {
      {"plain", "Hi", "Hi"},
      {"quote backslash slash", "a\"b\\c/d", "a\\\"b\\\\c\\/d"},
      {"short escapes", "\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {"other controls; DEL stays", std::string("\x01\x1f\x7f", 3), "\\u0001\\u001F\x7f"},
      {"nul", std::string("a\0b", 3), "a\\u0000b"},
      {"cyrillic", "\xD0\xB0", "\\u0430"},
      {"emoji as surrogates", "\xF0\x9F\x98\x80", "\\uD83D\\uDE00"},
      {"invalid byte", "\xFF", "\\uFFFD"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonEscaped(out, c.in);
    EXPECT_EQ(out, c.out) << c.name;
  }
}

TEST(JsonWriter, CompactWithWholeDoubles) {
  std::string out;
  TJsonWriter w(out);
  w.BeginObject().Key("t").Double(0).Key("p").Double(1).Key("x").Double(0.2).Key("a").BeginArray().EndArray()
      .Key("o").BeginObject().EndObject().Key("b").Base64String("ab/c/").Key("n").Int(-5).EndObject();
  EXPECT_EQ(out, R"({"t":0.0,"p":1.0,"x":0.2,"a":[],"o":{},"b":"ab\/c\/","n":-5})");
}

// Base64 goes out in blocks; every '/' is escaped wherever it falls against a block's edge.
TEST(JsonWriter, Base64StringEscapesEverySlash) {
  std::mt19937 rng(7);
  for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 65535u, 65536u, 65537u, 200003u}) {
    for (const int slashEvery : {0, 1, 3, 64}) {
      std::string data(size, 'A');
      for (char& c : data) c = "ABCxyz019+="[rng() % 11];
      if (slashEvery) for (std::size_t i = 0; i < size; ++i) if (rng() % slashEvery == 0) data[i] = '/';
      std::string expected = "\"";
      for (const char c : data) expected += c == '/' ? std::string("\\/") : std::string(1, c);
      expected += '"';
      std::string out;
      TJsonWriter(out).Base64String(data);
      EXPECT_EQ(out, expected) << size << " " << slashEvery;
    }
  }
  // A character outside Base64 anywhere, even past the first blocks, escapes the whole value
  // in full, in its place among the others.
  for (const std::size_t at : {0u, 5u, 16u, 70000u, 199999u}) {
    std::string data(200000, 'Q');
    data[at] = '"';
    data[at / 2] = '/';
    std::string out, expected;
    TJsonWriter(out).BeginArray().Int(1).Base64String(data).Int(2).EndArray();
    TJsonWriter(expected).BeginArray().Int(1).String(data).Int(2).EndArray();
    EXPECT_EQ(out, expected) << at;
  }
}

TEST(JsonText, LoneSurrogateEscapesBecomeReplacementCharacters) {
  struct {
    std::string Json, Repaired;
  } cases[] = {
      {R"("\ud800")", R"("\uFFFD")"},
      {R"("\uDFFF\uD83D")", R"("\uFFFD\uFFFD")"},
      {R"("\ud83d\ude00")", R"("\ud83d\ude00")"},
      {R"("\\ud800")", R"("\\ud800")"},
      {R"("\\\ud800 \u0041 \ud800)", R"("\\\uFFFD \u0041 \uFFFD)"},
      {R"("\ud80)", R"("\ud80)"},
  };
  for (auto& c : cases) {
    std::string text = c.Json;
    EXPECT_EQ(RepairLoneSurrogateEscapes(text.data(), text.size()), c.Json != c.Repaired) << c.Json;
    EXPECT_EQ(text, c.Repaired) << c.Json;
  }
}

TEST(Utf16, LengthsAndCutsNeverSplitAPair) {
  EXPECT_EQ(Utf16Length("abc"), 3u);
  EXPECT_EQ(Utf16Length("\xD0\x9F\xD1\x80"), 2u);
  EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);
  EXPECT_EQ(Utf16Left("a\xF0\x9F\x98\x80", 2), "a");
  EXPECT_EQ(Utf16Left("a\xF0\x9F\x98\x80", 3), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xD0\x9F\xF0\x9F\x98\x80")), "\xD0\x9F\xF0\x9F\x98\x80");
}

TEST(Utf16, BytesInBothOrders) {
  const std::string text = "A\xD0\xAF\xF0\x9F\x98\x80";  // A, Cyrillic Ya, an emoji (a surrogate pair)
  const std::string le("A\0\x2F\x04\x3D\xD8\x00\xDE", 8), be("\0A\x04\x2F\xD8\x3D\xDE\x00", 8);
  EXPECT_EQ(Utf8ToUtf16Bytes(text, false), le);
  EXPECT_EQ(Utf8ToUtf16Bytes(text, true), be);
  EXPECT_EQ(Utf16BytesToUtf8(le, false), text);
  EXPECT_EQ(Utf16BytesToUtf8(be + "\x01", true), text) << "an odd last byte is dropped";
  EXPECT_EQ(Utf16BytesToUtf8(std::string("\x3D\xD8", 2), false), "\xEF\xBF\xBD") << "a lone surrogate";
}

TEST(Text, LowerCaseCoversCyrillic) {
  EXPECT_EQ(LowerCase("\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2 World"), "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 world");
  EXPECT_TRUE(StartsWithNoCase("\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90: x", "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"));
}

TEST(DateTime, EncodesDecodesAndFormats) {
  const TDateTime t = EncodeDateTime({2025, 3, 14, 10, 59, 7, 42});
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t), "2025-03-14 10:59:07.042");
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 12}), 2.5);
}
