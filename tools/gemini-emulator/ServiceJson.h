#pragma once
// JSON written the way the real service lays it out: two-space indentation for whole
// answers, one line with ": " after keys for stream events; UTF-8 stays raw, and
// < > & = ' are escaped as \u003c and so on, as the service does.

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::emulator {

class TServiceJson {
 public:
  explicit TServiceJson(bool AOneLine = false) : FOneLine(AOneLine) {}

  TServiceJson& BeginObject();
  TServiceJson& EndObject();
  TServiceJson& BeginArray();
  TServiceJson& EndArray();
  TServiceJson& Key(std::string_view AKey);
  TServiceJson& String(std::string_view AValue);
  TServiceJson& Number(long long AValue);
  TServiceJson& Bool(bool AValue);
  TServiceJson& Raw(std::string_view AJson);  // an already written value

  // Shorthands for a member.
  TServiceJson& Member(std::string_view AKey, std::string_view AValue) { return Key(AKey).String(AValue); }
  TServiceJson& Member(std::string_view AKey, const char* AValue) { return Key(AKey).String(AValue); }
  TServiceJson& Member(std::string_view AKey, long long AValue) { return Key(AKey).Number(AValue); }
  TServiceJson& Member(std::string_view AKey, int AValue) { return Key(AKey).Number(AValue); }

  const std::string& Text() const { return FOut; }
  std::string Take() { return std::move(FOut); }

 private:
  void BeforeValue();
  void NewLine();

  struct TLevel {
    bool Array = false;
    bool Empty = true;
  };
  bool FOneLine;
  bool FAfterKey = false;
  std::vector<TLevel> FLevels;
  std::string FOut;
};

// A JSON string literal with the service's escaping.
std::string ServiceJsonString(std::string_view AValue);

}  // namespace tarvok::emulator
