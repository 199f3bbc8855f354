#pragma once
// Conversations whose request bodies exercise every way a body is put together: texts
// with escapes and Cyrillic, attachments whose '/' fall anywhere, data that is not
// Base64, empty parts, and the largest shape of request (16 attachments).

#include <random>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tarvok::test {

struct TSampleHistory {
  const char* Name;
  TChatHistory History;
};

// Characters of the Base64 alphabet drawn at random (a '/' one time in 64), '='-padded.
inline std::string RandomBase64(std::size_t ALength, unsigned ASeed) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 rng(ASeed);
  std::string s(ALength, 'A');
  for (char& c : s) c = kAlphabet[rng() % 64];
  if (ALength % 4 == 0 && ALength >= 4) s.back() = '=';
  return s;
}

inline TContentPart SampleText(std::string AText) {
  TContentPart p;
  p.Text = std::move(AText);
  return p;
}

inline TContentPart SampleData(std::string AMime, std::string AData) {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = std::move(AMime);
  p.Base64Data = TSharedText(std::move(AData));
  p.FileName = "/home/u/file.bin";
  return p;
}

inline THistoryItem SampleTurn(std::string ARole, TContentParts AParts) {
  THistoryItem item;
  item.Role = std::move(ARole);
  item.Parts = std::move(AParts);
  return item;
}

inline std::vector<TSampleHistory> SampleHistories() {
  std::vector<TSampleHistory> all;
  all.push_back({"text only", {SampleTurn("user", {SampleText("Hi")}), SampleTurn("model", {SampleText("Hello!")}),
                               SampleTurn("user", {SampleText("And now?")})}});
  all.push_back({"escapes", {SampleTurn("user", {SampleText("q\"b\\s/\b\f\n\r\t\x01\x1F\x7F end \xF0\x9F\x98\x80 \xFF")})}});
  std::string cyrillic;
  while (cyrillic.size() < 100000) cyrillic += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! ";
  all.push_back({"Cyrillic", {SampleTurn("user", {SampleText(cyrillic)}), SampleTurn("model", {SampleText(cyrillic)})}});

  TContentParts attachments = {SampleText("Look:")};
  unsigned seed = 1;
  for (const std::size_t length : {1u, 2u, 3u, 4u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 48u, 49u, 100u, 70001u, 300000u})
    attachments.push_back(SampleData("image/png", RandomBase64(length, seed++)));
  attachments.push_back(SampleData("application/pdf", std::string(1000, '/')));
  std::string slashRuns = RandomBase64(5000, seed++);
  for (std::size_t i = 0; i + 5 <= slashRuns.size(); i += 37) slashRuns.replace(i, 5, "/////");
  attachments.push_back(SampleData("text/plain", slashRuns));
  all.push_back({"attachments", {SampleTurn("user", attachments), SampleTurn("model", {SampleText("Seen.")}),
                                 SampleTurn("user", {SampleData("image/jpeg", RandomBase64(65536, seed++))})}});

  all.push_back({"empty parts", {SampleTurn("user", {}), SampleTurn("model", {SampleText("")}),
                                 SampleTurn("user", {SampleData("", ""), SampleText(""), SampleData("image/png", "")})}});

  // Every byte outside the alphabet, once where data is taken 16 bytes at a time and once
  // in the last few bytes, and Base64 broken into lines (a foreign chat file).
  TContentParts foreign;
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=') continue;
    std::string data = RandomBase64(100, seed++);
    data[40] = c;
    foreign.push_back(SampleData("image/png", data));
    data[40] = 'Q';
    data[97] = c;
    foreign.push_back(SampleData("image/png", data));
  }
  foreign.push_back(SampleData("image/png", RandomBase64(76, seed) + "\r\n" + RandomBase64(40, seed + 1)));
  seed += 2;
  all.push_back({"not Base64", {SampleTurn("user", foreign)}});

  TContentParts biggest = {SampleText("\xD0\xA1\xD1\x80\xD0\xB0\xD0\xB2\xD0\xBD\xD0\xB8 \"/\"")};
  for (int i = 0; i < 16; ++i) biggest.push_back(SampleData("application/pdf", RandomBase64(2'000'000 + i, seed++)));
  all.push_back({"the biggest: 16 attachments", {SampleTurn("user", {SampleText("Earlier")}), SampleTurn("model", {SampleText("Yes")}),
                                                  SampleTurn("user", biggest)}});
  return all;
}

}  // namespace tarvok::test
