#include "storage/NewPart.h"

#include <filesystem>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TokenEstimate.h"
#include "storage/ChatFile.h"

namespace tarvok {

const std::string_view kDefaultNewPartPrompt =
    "Ты — ИИ-ассистент, специализирующийся на сжатии и структурировании диалогов для их последующего продолжения. Твоя задача — проанализировать всю предыдущую переписку и создать подробную, но лаконичную сводку. Твой формат ответа должен адаптироваться к содержимому диалога.\r\n"
    "\r\n"
    "### Вариант 1: Если диалог содержит программный код или техническое обсуждение\r\n"
    "Если ты обнаружишь в истории код, обсуждение алгоритмов или разработку файлов, твоя сводка должна включать следующие разделы:\r\n"
    "1.  **Текущий статус проекта:** Кратко опиши, на каком этапе разработки мы остановились.\r\n"
    "2.  **Основные технические решения:** Перечисли ключевые архитектурные или алгоритмические решения.\r\n"
    "3.  **Рабочие файлы (финальный код):** Приведи ФИНАЛЬНЫЙ код, который мы создали или модифицировали. Каждый блок кода должен быть обернут в соответствующий маркер языка (например, ```delphi ... ```).\r\n"
    "4.  **Следующая задача:** Четко сформулируй последний технический запрос от пользователя.\r\n"
    "\r\n"
    "### Вариант 2: Если диалог НЕ содержит технического обсуждения\r\n"
    "Если в истории велся общий разговор (например, о новостях, идеях, текстах) и в нем нет кода, твоя сводка должна включать эти разделы:\r\n"
    "1.  **Общий контекст и цели:** Кратко опиши, какую глобальную тему мы обсуждали.\r\n"
    "2.  **Ключевые этапы обсуждения:** В виде списка перескажи ход нашего разговора и основные тезисы.\r\n"
    "3.  **Состояние на момент завершения:** Опиши, на каком именно этапе мы остановились.\r\n"
    "4.  **Следующая задача:** Сформулируй последний запрос от пользователя или укажи \"Продолжить обсуждение темы\".\r\n"
    "\r\n"
    "Если какой-либо пункт нерелевантен, укажи \"Отсутствует\" или \"Неприменимо\".\r\n"
    "\r\n"
    "Твой ответ должен СТРОГО следовать одному из двух предложенных форматов. Начни с `Название новой части: <твое название>` и далее заполни все пункты выбранного формата. Не добавляй никаких приветствий, вступлений или комментариев.";

std::string LoadNewPartPrompt() {
  const std::filesystem::path path = ProgramDir() / PathFromUtf8(kNewPartPromptFile);
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) {
    // An unreadable file (locked, say) falls back to the default and stays as it is.
    const std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes) return std::string(kDefaultNewPartPrompt);
    std::string_view text = *bytes;
    if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    if (Trim(text).empty()) return std::string(kDefaultNewPartPrompt);
    return MakeValidUtf8(text);
  }
  try {
    WriteFileAtomic(path, std::string(kUtf8Bom) + std::string(kDefaultNewPartPrompt));
  } catch (const TFileError&) {
    // The default still serves; the user just has no file to edit.
  }
  return std::string(kDefaultNewPartPrompt);
}

bool IsNewPartFailure(std::string_view AAnswer, const TResultFlags& AFlags) {
  return AFlags.Failed || Trim(AAnswer).empty();
}

TNewPartAnswer ParseNewPartAnswer(std::string_view AAnswer) {
  // Lines end at CR LF, LF or CR; a break at the very end opens no further line.
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < AAnswer.size()) {
    const std::size_t end = AAnswer.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(AAnswer.substr(start));
      break;
    }
    lines.push_back(AAnswer.substr(start, end - start));
    start = end + (AAnswer[end] == '\r' && end + 1 < AAnswer.size() && AAnswer[end + 1] == '\n' ? 2 : 1);
  }
  TNewPartAnswer result;
  std::size_t first = 0;
  if (!lines.empty()) {
    const std::size_t marker = lines[0].find(kNewPartTitleMarker);
    if (marker != std::string_view::npos) {
      result.Title = std::string(Trim(lines[0].substr(marker + kNewPartTitleMarker.size())));
      first = 1;
    }
  }
  if (Trim(result.Title).empty()) result.Title = std::string(kUntitledPart);
  for (std::size_t i = first; i < lines.size(); ++i) {
    result.Summary += lines[i];
    result.Summary += "\r\n";
  }
  return result;
}

TChatHistory MakeNewPartHistory(const std::string& ASummary, const TTokenUsage& AUsage) {
  THistoryItem item;
  item.Role = "model";
  TContentPart part;
  part.Text = ASummary;
  item.Parts.push_back(std::move(part));
  item.Timestamp = Now();
  item.TokenCount = AUsage.CandidatesTokens >= 1 ? AUsage.CandidatesTokens : CountTokens(item.Parts);
  return {std::move(item)};
}

void StartNewPartHistory(TGeminiDM& AService, const std::string& APartFile, const std::string& ASummary,
                         const TTokenUsage& AUsage) {
  std::error_code ec;
  const std::filesystem::path folder = PathFromUtf8(APartFile).parent_path();
  CreatePrivateDirectories(folder, ec);
  if (ec) throw TFileError("Не удалось создать папку " + PathToUtf8(folder) + ": " + ec.message());
  // The file first: when it cannot be written, the conversation in memory stays whole and
  // the next save still writes it to its own file.
  TChatHistory part = MakeNewPartHistory(ASummary, AUsage);
  WriteChatFile(APartFile, part);
  AService.ClearHistory();
  AService.FChatHistory = std::move(part);
  AService.FActualHistoryTokens = CountTokensForHistory(AService.FChatHistory);
}

}  // namespace tarvok
