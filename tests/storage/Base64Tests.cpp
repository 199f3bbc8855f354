#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/JsonWriter.h"
#include "storage/Base64.h"

namespace tarvok {
namespace {

TEST(Base64, EncodesTheStandardVectors) {
  struct Case {
    std::string_view Plain, Encoded;
  } cases[] = {
      {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},           {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {"\xEF\xBB\xBF", "77u/"},  // a UTF-8 byte-order mark
      {"\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8\xF7\xF6\xF5\xF4\xF3\xF2\xF1", "//79/Pv6+fj39vX08/Lx"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.Plain), c.Encoded) << "plain of " << c.Plain.size() << " bytes";
    std::string decoded;
    EXPECT_TRUE(Base64Decode(c.Encoded, decoded)) << c.Encoded;
    EXPECT_EQ(decoded, c.Plain) << c.Encoded;
  }
}

// The encoder has a 12-byte main loop, a 3-byte loop and a tail: every length up to a
// few rounds, with every byte value, must round-trip and match a plain bit-by-bit encoding.
TEST(Base64, RoundTripsEveryLengthAndByteValue) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto reference = [](const std::string& in) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : in) {
      bits = (bits << 8) | c;
      count += 8;
      while (count >= 6) out += kAlphabet[(bits >> (count -= 6)) & 63];
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 63];
    while (out.size() % 4) out += '=';
    return out;
  };
  std::mt19937 rng(7);
  for (std::size_t len = 0; len < 80; ++len) {
    std::string data(len, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string encoded = Base64Encode(data);
    ASSERT_EQ(encoded, reference(data)) << "length " << len;
    std::string decoded;
    ASSERT_TRUE(Base64Decode(encoded, decoded)) << "length " << len;
    ASSERT_EQ(decoded, data) << "length " << len;
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string decoded;
  ASSERT_TRUE(Base64Decode(Base64Encode(all), decoded));
  EXPECT_EQ(decoded, all);
}

TEST(Base64, DecodeAcceptsLineBreaksAndMissingPaddingButRejectsForeignText) {
  struct Case {
    std::string_view Text;
    bool Ok;
    std::string_view Plain;
  } cases[] = {
      {"Zm9v\r\nYmFy", true, "foobar"},
      {" Zm9vYg== \n", true, "foob"},
      {"Zm9vYg", true, "foob"},
      {"Zm9vYmE", true, "fooba"},
      {"Zm9vY", false, ""},      // a length no encoding has
      {"Zm9v!mFy", false, ""},   // not in the alphabet
      {"Zm=vYmFy", false, ""},   // padding inside
      {"Zm9vYmFy=", false, ""},  // padding after a whole group
      {"Zg==Zg==", false, ""},
      {"Zm9-YmFy", false, ""},   // the URL-safe alphabet is not standard Base64
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Base64Decode(c.Text, out), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(out, c.Plain) << c.Text;
    }
  }
}

TEST(Base64, RecognisesTextThatNeedsNoEscape) {
  EXPECT_TRUE(IsBase64Text("Zm9v/+Ab=="));
  EXPECT_TRUE(IsBase64Text(""));
  EXPECT_FALSE(IsBase64Text("Zm9v\"Zm9v"));
  EXPECT_FALSE(IsBase64Text("Zm9v\\"));
  EXPECT_FALSE(IsBase64Text("Zm\n9v"));
  EXPECT_FALSE(IsBase64Text("\xD0\x9F"));
}

// Base64 as a JSON string's content: the copy works 16 characters at a time, so a "/" or
// a foreign character at every place around a chunk's edges, and every length, must give
// what the general JSON escaping gives and read back the same.
TEST(Base64, CopiesToAndFromJsonStringContent) {
  std::mt19937 rng(7);
  const std::string base64 = Base64Encode(std::string(200, 'x'));
  std::vector<std::string> texts;
  for (std::size_t length = 0; length <= 70; ++length) {
    for (std::size_t slash = 0; slash <= length; ++slash) {
      std::string text = base64.substr(0, length);
      if (slash < length) text[slash] = '/';
      if (length > 2) text[rng() % length] = '/';
      texts.push_back(std::move(text));
    }
  }
  // Chunks with many slashes take the slow way: every first to fifth character one,
  // across chunk edges.
  for (std::size_t every = 1; every <= 5; ++every) {
    for (std::size_t length = 30; length <= 100; length += 7) {
      std::string text = base64.substr(0, length);
      for (std::size_t i = every - 1; i < length; i += every) text[i] = '/';
      texts.push_back(std::move(text));
    }
  }
  for (const std::string& text : texts) {
    std::string escaped;
    AppendJsonEscaped(escaped, text);
    std::string out(2 * text.size(), '\0');
    std::size_t written = 0;
    ASSERT_EQ(Base64ToJsonString(text, out.data(), written), text.size()) << text;
    EXPECT_EQ(out.substr(0, written), escaped) << text;
    std::string back;
    ASSERT_TRUE(Base64FromJsonString(escaped, back)) << escaped;
    EXPECT_EQ(back, text) << escaped;
  }
  // The copy to JSON stops before the first foreign character, wherever it stands.
  for (const char foreign : {'"', '\\', '\n', '-', '_', '\0', '\x80', '\xFF'}) {
    for (std::size_t at = 0; at < 70; ++at) {
      std::string text = base64.substr(0, 70);
      text[at] = foreign;
      std::string out(140, '\0');
      std::size_t written = 0;
      EXPECT_EQ(Base64ToJsonString(text, out.data(), written), at) << int(foreign) << " at " << at;
      std::string escaped;
      AppendJsonEscaped(escaped, text.substr(0, at));
      EXPECT_EQ(out.substr(0, written), escaped) << int(foreign) << " at " << at;
    }
  }
}

TEST(Base64, ReadsOnlyBase64AndEscapedSlashesFromJsonStringContent) {
  const std::string clean = Base64Encode(std::string(60, 'y'));  // 80 characters
  struct Case {
    const char* Name;
    std::string_view Insert;
  } rejected[] = {
      {"an escaped backslash", "\\\\"}, {"an escaped quote", "\\\""}, {"a \\u escape", "\\u0041"},
      {"a \\n escape", "\\n"},      {"a minus", "-"},              {"a line break", "\n"},
      {"a byte above 0x7F", "\xC3\xA9"},
  };
  for (const Case& c : rejected) {
    for (const std::size_t at : std::initializer_list<std::size_t>{0, 1, 15, 16, 31, 79, 80}) {
      std::string content = clean;
      content.insert(at, c.Insert);
      std::string out;
      EXPECT_FALSE(Base64FromJsonString(content, out)) << c.Name << " at " << at;
    }
  }
  std::string out;
  EXPECT_FALSE(Base64FromJsonString(clean + "\\", out)) << "a backslash at the end";
  EXPECT_FALSE(Base64FromJsonString(clean.substr(0, 15) + "\\", out)) << "a backslash ending a chunk";
  EXPECT_TRUE(Base64FromJsonString(clean.substr(0, 15) + "\\/" + clean, out));
  EXPECT_EQ(out, clean.substr(0, 15) + "/" + clean);
  EXPECT_TRUE(Base64FromJsonString("", out));
  EXPECT_EQ(out, "");
  // Long content is read in blocks of some thousand characters: an escape may straddle
  // any of their edges.
  for (std::size_t at = 32760; at < 32776; ++at) {
    std::string content(70'000, 'Q'), expected(70'000, 'Q');
    content.replace(at, 2, "\\/");
    content.replace(2 * at, 2, "\\/");
    expected.replace(at, 2, "/");
    expected.replace(2 * at - 1, 2, "/");
    ASSERT_TRUE(Base64FromJsonString(content, out)) << at;
    EXPECT_TRUE(out == expected) << at;
  }
}

// An attachment of many megabytes is read into memory asked for in large pages: the same
// text comes back, escapes at the edges and in the middle.
TEST(Base64, ReadsContentOfManyMegabytesFromJsonString) {
  const std::string raw(6u << 20, '\xFB');  // Base64 of it is mostly "+" and "/"
  const std::string text = Base64Encode(raw);
  std::string escaped;
  AppendJsonEscaped(escaped, text);
  ASSERT_GT(escaped.size(), text.size());
  std::string back;
  ASSERT_TRUE(Base64FromJsonString(escaped, back));
  EXPECT_TRUE(back == text);
  std::string decoded;
  ASSERT_TRUE(Base64Decode(back, decoded));
  EXPECT_TRUE(decoded == raw);
}

}  // namespace

}  // namespace tarvok
