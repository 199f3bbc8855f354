#pragma once
// The compact, ASCII-only JSON form that the program writes (request bodies, image
// result texts, chat files): no white space; '"', '\\' and '/' escaped with a
// backslash; \b \t \n \f \r; every other character below U+0020 or above U+007F as
// \uXXXX (upper-case hex, UTF-16 code units, so astral characters become a surrogate
// pair); whole doubles written with ".0".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// Appends the escaped form of a UTF-8 text, without the surrounding quotes.
// Bytes that are not valid UTF-8 are written as \uFFFD.
void AppendJsonEscaped(std::string& AOut, std::string_view AUtf8);
// Appends a double as the writer does: shortest round-trip digits, ".0" for whole values.
void AppendJsonDouble(std::string& AOut, double AValue);

// For Base64 written in place rather than through a writer: true when AValue holds only the
// alphabet and '=' (nothing there but '/' needs an escape), with ASize its escaped length;
// false when it holds anything else and must be escaped in full.
bool EscapedBase64Size(std::string_view AValue, std::size_t& ASize);
// Writes the escaped form of such Base64 from AValue[AAt] on into AOut, as many whole
// characters as fit in ARoom bytes; advances AAt and returns the bytes written. Fewer than
// ARoom are written only at the end of AValue or when a '/' (two bytes) does not fit.
std::size_t CopyEscapedBase64(std::string_view AValue, std::size_t& AAt, char* AOut, std::size_t ARoom);

class TJsonWriter {
 public:
  explicit TJsonWriter(std::string& AOut) : FOut(AOut) {}

  TJsonWriter& BeginObject();
  TJsonWriter& EndObject();
  TJsonWriter& BeginArray();
  TJsonWriter& EndArray();
  TJsonWriter& Key(std::string_view AName);
  TJsonWriter& String(std::string_view AValue);
  // Base64 data: only '/' needs an escape, so clean Base64 takes a fast path; anything
  // else is written as String writes it.
  TJsonWriter& Base64String(std::string_view AValue);
  TJsonWriter& Int(std::int64_t AValue);
  TJsonWriter& Double(double AValue);
  TJsonWriter& Bool(bool AValue);
  TJsonWriter& Null();

 private:
  void BeforeValue();
  std::string& FOut;
  std::vector<bool> FHasItems;  // per open container: a value was written already
  bool FAfterKey = false;
};

}  // namespace tarvok
