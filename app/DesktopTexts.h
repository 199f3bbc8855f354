#pragma once
// Texts of the desktop conveniences: drag and drop, paste, export, shortcuts.

namespace tarvok::ui {

inline constexpr const char* kMenuExportChat = "Экспортировать…";
inline constexpr const char* kExportTitle = "Экспорт чата";
inline constexpr const char* kExportFilterMarkdown = "Markdown (*.md)";
inline constexpr const char* kExportFilterHtml = "HTML (*.html)";
inline constexpr const char* kExportFilter = "Markdown (*.md);;HTML (*.html)";
inline constexpr const char* kMsgExportEmpty = "В чате нет сообщений для экспорта.";
inline constexpr const char* kMsgExportFailed = "Не удалось экспортировать чат. Ошибка: ";
inline constexpr const char* kStatusExported = "Чат экспортирован: ";
// The name got its type's suffix after the dialog, which asked about the name without it.
inline constexpr const char* kAskReplaceExportStart = "Файл \"";
inline constexpr const char* kAskReplaceExportEnd = "\" уже существует. Заменить его?";

// A folder dropped or pasted: the name goes between the two parts.
inline constexpr const char* kMsgFolderStart = "Папку \"";
inline constexpr const char* kMsgFolderEnd = "\" прикрепить нельзя: прикрепите файлы из неё.";
inline constexpr const char* kMsgPastePictureFailed = "Не удалось сохранить картинку из буфера обмена. Ошибка: ";

}  // namespace tarvok::ui
