#include <gtest/gtest.h>

#include <random>
#include <string>

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

}  // namespace
}  // namespace tarvok
