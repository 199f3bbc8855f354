#include "app/SettingsValues.h"

#include "app/IntText.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/GeminiDM.h"
#include "core/ProxyAddress.h"

namespace tarvok {
namespace {

QString Named(const char* ALabel, const QString& AMessage) { return Q(ALabel) + QStringLiteral(": ") + AMessage; }

bool IsInteger(const QString& AText) { return TryStrToInt(S(AText)).has_value(); }

}  // namespace

TSettingsValues TSettingsValues::Defaults() {
  TSettingsValues v;
  v.MaxInputTextLength = QStringLiteral("30020");
  v.MaxContextTokens = QStringLiteral("124000");
  v.MaxOutputTokens = QStringLiteral("500000");
  v.GeminiApiUrlBase = Q(kDefaultGeminiApiUrlBase);
  v.MethodGenerate = QStringLiteral("generateContent");
  v.TimeOutMinutes = QStringLiteral("8");
  v.CreativityLevel = QStringLiteral("0");
  v.StreamAnswers = false;
  v.ShowThoughts = false;
  v.Proxy.clear();
  return v;
}

QString TSettingsValues::Validate() const {
  using namespace settingslabels;
  // The same checks and messages as the window's own boxes.
  for (const auto& [label, text] : {std::pair{kMaxInputTextLength, MaxInputTextLength},
                                    std::pair{kMaxContextTokens, MaxContextTokens},
                                    std::pair{kMaxOutputTokens, MaxOutputTokens}})
    if (!IsInteger(text)) return Named(label, Q(ui::kMsgMaxLimKontInvalid));
  const auto minutes = TryStrToInt(S(TimeOutMinutes));
  if (!minutes || *minutes < 1 || *minutes > 60) return Named(kTimeOut, Q(ui::kMsgTimeOutRange));
  const auto level = TryStrToInt(S(CreativityLevel));
  if (!level || *level < 0 || *level > 5) return Named(kCreativity, Q(ui::kMsgKreaRange));
  const QString url = GeminiApiUrlBase.trimmed();
  if (!url.startsWith(QLatin1String("http://")) && !url.startsWith(QLatin1String("https://")))
    return Named(kGeminiApiUrlBase, QStringLiteral("адрес должен начинаться с http:// или https://"));
  if (MethodGenerate.trimmed().isEmpty() || MethodGenerate.contains(QLatin1Char('/')) ||
      MethodGenerate.contains(QLatin1Char('?')))
    return Named(kMethodGenerate, QStringLiteral("нужно имя метода, например generateContent"));
  std::string error;
  if (!Proxy.trimmed().isEmpty() && !ParseProxyUrl(S(Proxy.trimmed()), nullptr, &error)) return Named(kProxy, Q(error));
  return {};
}

}  // namespace tarvok
