#pragma once
// What the settings dialog shows and edits: every config.ini setting a user changes, as
// the texts of its boxes, with the checks the window applies to its own boxes.

#include <QString>

namespace tarvok {

struct TSettingsValues {
  QString MaxInputTextLength;
  QString MaxContextTokens;
  QString MaxOutputTokens;
  QString GeminiApiUrlBase;
  QString MethodGenerate;
  QString TimeOutMinutes;
  QString CreativityLevel;
  bool StreamAnswers = false;
  bool ShowThoughts = false;
  QString Proxy;

  // The program's built-in values (what a first start writes).
  static TSettingsValues Defaults();
  // The first wrong value, named with its label; empty when all are right.
  QString Validate() const;
  friend bool operator==(const TSettingsValues&, const TSettingsValues&) = default;
};

// The labels the dialog shows, also used to name a wrong value.
namespace settingslabels {
inline constexpr const char* kMaxInputTextLength = "Длина запроса (символов)";
inline constexpr const char* kMaxContextTokens = "Контекст (токенов)";
inline constexpr const char* kMaxOutputTokens = "Ответ (токенов)";
inline constexpr const char* kGeminiApiUrlBase = "Адрес API (GeminiApiUrlBase)";
inline constexpr const char* kMethodGenerate = "Метод (MethodGenerate)";
inline constexpr const char* kTimeOut = "Таймаут (минут)";
inline constexpr const char* kCreativity = "Креатив (0–5)";
inline constexpr const char* kStream = "Поток: показывать ответ по мере получения";
inline constexpr const char* kThoughts = "Мысли: просить у модели сводку её рассуждений";
inline constexpr const char* kProxy = "Прокси";
inline constexpr const char* kProxyHint = "пусто: переменные окружения; http://, https://, socks5://, socks5h://, можно user:password@";
}  // namespace settingslabels

}  // namespace tarvok
