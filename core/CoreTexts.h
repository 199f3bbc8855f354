#pragma once
// The result texts of the generation core, exactly as the receivers expect them.

namespace tarvok::texts {

inline constexpr const char* kFailErrorUpper = "ОШИБКА:";
inline constexpr const char* kFailError = "Ошибка";
inline constexpr const char* kFailException = "Исключение";
inline constexpr const char* kRateLimitMarker = "ERROR_CODE_429_FINAL:";

inline constexpr const char* kErrorPrefix = "Ошибка: ";
inline constexpr const char* kEmptyAnswer = "Ошибка: получен пустой или некорректный ответ от сервера.";
// Filled with the status line, the code and the message (or the whole body).
inline constexpr const char* kHttpErrorFormat = "Ошибка HTTP: %s (Код: %d)\r\nОтвет: %s";
inline constexpr const char* kExceptionPrefix = "Исключение: ";
inline constexpr const char* kImageRequestSuffix = " (запрос на генерацию изображения)";

// An answer stopped before any output: the reason follows the head, then the tail.
inline constexpr const char* kNoAnswerHead = "Ошибка: модель не вернула ответ (finishReason: ";
inline constexpr const char* kNoAnswerTail = ").";
// A prompt refused before any candidate was made.
inline constexpr const char* kBlockedHead = "Ошибка: запрос заблокирован (blockReason: ";
inline constexpr const char* kBlockedTail = ").";

// A request the user stopped before any answer arrived.
inline constexpr const char* kStoppedResult = "Ошибка: запрос остановлен.";

// A 429 that names its quota and the wait before a retry adds a line of them.
inline constexpr const char* kQuotaHead = "Квота: ";
inline constexpr const char* kRetryHead = "Повторить можно через ";
inline constexpr const char* kRetryTail = " с.";

}  // namespace tarvok::texts
