#pragma once
// The CLI backend's user-visible texts, exactly as the users know them.

namespace tarvok::clitexts {

inline constexpr const char* kCliErrorPrefix = "Ошибка Gemini CLI: ";
inline constexpr const char* kCliInvalidAnswer = "Некорректный ответ от сервера (JSON): ";
inline constexpr const char* kCliExecutionError = "Ошибка execution Gemini CLI: ";
inline constexpr const char* kMenuInstall = "Установить CLI(консоль)";
inline constexpr const char* kMenuUpdate = "Обновить CLI(консоль)";
inline constexpr const char* kMenuAuthorise = "Авторизация в CLI";
inline constexpr const char* kMenuClearAccount = "Удалить аккаунт CLI";
inline constexpr const char* kMenuUninstall = "Удалить CLI(консоль)";
inline constexpr const char* kStatusFastStart = "Gemini CLI готов (Кэш)";
inline constexpr const char* kStatusChecking = "Проверка компонентов";
inline constexpr const char* kStatusDone = "Готово";
inline constexpr const char* kStatusVisualCheck = "Визуальная проверка версий...";
inline constexpr const char* kMsgInstallStart = "Сейчас откроется окно командной строки (CMD) для проверки и установки.\r\nПроцесс будет видимым. Дождитесь сообщения \"Setup finished\".";
inline constexpr const char* kStatusPreparingSetup = "Подготовка BAT-файла...";
inline constexpr const char* kStatusAfterInstall = "Проверка после установки...";
inline constexpr const char* kMsgInstallDone = "Установка завершена. Проверьте результат в следующем окне.";
inline constexpr const char* kAskInstall = "Запустить процесс установки/восстановления Node.js и Gemini CLI?";
inline constexpr const char* kStatusInstalling = "Установка компонентов";
inline constexpr const char* kAskInstallMissing = "Компоненты (NodeJS или Gemini CLI) не найдены.\r\nЗапустить установку?";
inline constexpr const char* kAskAuthorise = "Для работы требуется авторизация Google аккаунта.\r\nЗапустить процесс авторизации сейчас?";
inline constexpr const char* kMsgAuthConsole = "Сейчас откроется черное окно консоли.\r\n1. Скопируйте ссылку из окна (если браузер не открылся сам).\r\n2. Пройдите авторизацию в Google.\r\n3. Вернитесь сюда после успеха.";
inline constexpr const char* kAskAuthDone = "Вы успешно завершили авторизацию в консоли?";
inline constexpr const char* kAskAuthSkip = "Вы уже авторизованы ранее и хотите пропустить этот шаг?";
inline constexpr const char* kAskUpdate = "Вы уверены, что хотите обновить Gemini CLI до последней версии?";
inline constexpr const char* kStatusUpdating = "Обновление Gemini CLI";
inline constexpr const char* kStatusPreparingUpdate = "Подготовка обновления...";
inline constexpr const char* kMsgUpdateDone = "Процесс обновления завершен. Проверьте вывод в окне.";
inline constexpr const char* kAskUninstall = "Вы уверены, что хотите удалить Gemini CLI?\r\nТакже будет сброшен флаг подтверждения авторизации.";
inline constexpr const char* kStatusUninstalling = "Удаление Gemini CLI";
inline constexpr const char* kStatusPreparingUninstall = "Подготовка удаления...";
inline constexpr const char* kMsgUninstallDone = "Удаление завершено. Флаг сброшен.";
inline constexpr const char* kMsgNoGeminiFolder = "Папка .gemini не найдена (";
inline constexpr const char* kAskClearFolder = "Вы уверены, что хотите полностью очистить содержимое папки \"";
inline constexpr const char* kAskClearFolderTail = "Это удалит кэш и временные файлы Gemini.";
inline constexpr const char* kMsgFolderCleared = "Папка успешно очищена. Авторизация сброшена.";
inline constexpr const char* kMsgClearFailed = "Не удалось очистить папку. Ошибка: ";
inline constexpr const char* kFailureUpper = "ОШИБКА:";
inline constexpr const char* kFailure = "Ошибка";
// Our own: a CLI run that gave no answer, and a model name no shell can take safely.
inline constexpr const char* kCliEmptyAnswer = "Ошибка Gemini CLI: пустой ответ.";
// Our own: the Node.js found is older than the CLI runs on (followed by its version and kNodeTooOldTail).
inline constexpr const char* kNodeTooOld = "Найден Node.js ";
inline constexpr const char* kNodeTooOldTail = ", а для Gemini CLI нужен Node.js 20 или новее.";
// Our own: a run's file that could not be written (followed by its path, ": " and the
// system's reason), and a run that found no private folder (followed by the reason).
inline constexpr const char* kCannotWriteFile = "Не удалось записать файл ";
inline constexpr const char* kCannotMakeRunFolder = "Не удалось создать папку для файлов Gemini CLI: ";
// Our own: why a setup script did not run or end (after "Error executing batch: "): the
// terminal's name, then how it ended.
inline constexpr const char* kTerminal = "терминал ";
inline constexpr const char* kTerminalExitCode = " завершился с кодом ";
inline constexpr const char* kTerminalKilled = " завершился по сигналу ";
inline constexpr const char* kTerminalNoScript = " закрылся, не запустив сценарий";
inline constexpr const char* kScriptTimedOut = "сценарий не завершился за ";
inline constexpr const char* kScriptTimedOutTail = " с";
inline constexpr const char* kCliUnsafeName = "Ошибка: имя модели или путь нельзя безопасно передать в командную строку: ";

}  // namespace tarvok::clitexts
