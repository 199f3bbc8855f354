#include "tools/gemini-emulator/ServiceJson.h"

#include <cstdio>

namespace tarvok::emulator {

std::string ServiceJsonString(std::string_view AValue) {
  std::string out;
  out.reserve(AValue.size() + 2);
  out += '"';
  for (char c : AValue) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '<': case '>': case '&': case '=': case '\'': {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", u);
        out += buf;
        break;
      }
      default:
        if (u < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

void TServiceJson::NewLine() {
  if (FOneLine) return;
  FOut += '\n';
  FOut.append(FLevels.size() * 2, ' ');
}

void TServiceJson::BeforeValue() {
  if (FAfterKey) {
    FAfterKey = false;
    return;
  }
  if (FLevels.empty()) return;
  TLevel& level = FLevels.back();
  if (!level.Empty) FOut += ',';
  level.Empty = false;
  NewLine();
}

TServiceJson& TServiceJson::BeginObject() {
  BeforeValue();
  FOut += '{';
  FLevels.push_back({false, true});
  return *this;
}

TServiceJson& TServiceJson::BeginArray() {
  BeforeValue();
  FOut += '[';
  FLevels.push_back({true, true});
  return *this;
}

TServiceJson& TServiceJson::EndObject() {
  const bool empty = FLevels.back().Empty;
  FLevels.pop_back();
  if (!empty) NewLine();
  FOut += '}';
  return *this;
}

TServiceJson& TServiceJson::EndArray() {
  const bool empty = FLevels.back().Empty;
  FLevels.pop_back();
  if (!empty) NewLine();
  FOut += ']';
  return *this;
}

TServiceJson& TServiceJson::Key(std::string_view AKey) {
  BeforeValue();
  FOut += ServiceJsonString(AKey);
  FOut += ": ";
  FAfterKey = true;
  return *this;
}

TServiceJson& TServiceJson::String(std::string_view AValue) {
  BeforeValue();
  FOut += ServiceJsonString(AValue);
  return *this;
}

TServiceJson& TServiceJson::Number(long long AValue) {
  BeforeValue();
  FOut += std::to_string(AValue);
  return *this;
}

TServiceJson& TServiceJson::Bool(bool AValue) {
  BeforeValue();
  FOut += AValue ? "true" : "false";
  return *this;
}

TServiceJson& TServiceJson::Raw(std::string_view AJson) {
  BeforeValue();
  FOut += AJson;
  return *this;
}

}  // namespace tarvok::emulator
