#pragma once
// Texts of the settings dialog, the find bar and the answer buttons, exact.

namespace tarvok::ui {

inline constexpr const char* kCaptionSettings = "⚙";
inline constexpr const char* kHintSettings = "Настройки (Ctrl+,)";
inline constexpr const char* kSettingsTitle = "Настройки";
inline constexpr const char* kStatusSettingsSaved = "Настройки сохранены.";

// Find in chat.
inline constexpr const char* kFindPlaceholder = "Найти в чате";
inline constexpr const char* kFindCountFormat = "%1 из %2";
inline constexpr const char* kHintFindPrevious = "Предыдущее (Shift+Enter, Shift+F3)";
inline constexpr const char* kHintFindNext = "Следующее (Enter, F3)";
inline constexpr const char* kHintFindClose = "Закрыть (Esc)";

// Buttons the page puts on the bubbles.
inline constexpr const char* kStatusAnswerCopied = "Ответ скопирован в буфер обмена.";
inline constexpr const char* kStatusWaitForAnswer = "Дождитесь ответа на текущий запрос.";
inline constexpr const char* kStatusNotLastExchange = "Повторить или изменить можно только последний обмен.";
inline constexpr const char* kStatusAnsweringAgain = "Повторный запрос...";
inline constexpr const char* kStatusQuestionBack = "Вопрос возвращён для правки.";

}  // namespace tarvok::ui
