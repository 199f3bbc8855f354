#pragma once
// The window's own Russian texts, exact.

namespace tarvok::ui {

inline constexpr const char* kHintNewChat = "Новый Чат";
inline constexpr const char* kCaptionParts = "Истории";
inline constexpr const char* kPartsFirstEntry = "Начало";
inline constexpr const char* kNewChatEntry = "<Новый чат>";
inline constexpr const char* kPartEntryNoTitle = "%d. (часть)";
inline constexpr const char* kMenuDeleteChat = "Удалить Чат";
inline constexpr const char* kMenuDeleteAllChats = "Удалить все чаты";
inline constexpr const char* kMenuNewEmptyPart = "Создать пустую новую историю";
inline constexpr const char* kMenuDeletePart = "Удалить Историю";
inline constexpr const char* kMenuNewPartFromContext = "Создать историю из контекста ";
inline constexpr const char* kStatusChatLoaded = "Загружен чат: ";
// Our own: a chat file damaged part way through.
inline constexpr const char* kStatusChatLoadedInPart = "Чат загружен не полностью: продолжение будет сохранено как новый чат.";
// Our own: the open chat's file was written by someone else since it was loaded or saved.
inline constexpr const char* kMsgChatChangedOnDiskStart = "Файл чата \"";
inline constexpr const char* kMsgChatChangedOnDiskMiddle =
    "\" изменился на диске после загрузки и не перезаписан. Продолжение разговора сохранено как новый чат: ";
inline constexpr const char* kStatusNewChat = "Новый чат начат.";
inline constexpr const char* kMsgSelectChatToDelete = "Пожалуйста, выберите существующий чат для удаления.";
inline constexpr const char* kMsgChatDataMissing = "Ошибка: не удалось найти данные выбранного чата.";
inline constexpr const char* kAskDeleteChatStart = "Вы уверены, что хотите безвозвратно удалить чат \"";
inline constexpr const char* kAskDeleteChatMiddle = "\" и ВСЕ его части?";
inline constexpr const char* kAskDeleteChatEnd = "Файлы чата будут удалены с диска!";
inline constexpr const char* kMsgDeleteChatFailed = "Не удалось удалить чат. Ошибка: ";
inline constexpr const char* kAskDeleteAllChats = "Вы уверены, что хотите безвозвратно удалить ВСЕ чаты?\r\nЭто действие нельзя будет отменить!";
inline constexpr const char* kMsgChatsFolderMissing = "Папка с чатами не найдена.";
inline constexpr const char* kStatusAllChatsDeleted = "Все чаты удалены. Начат новый чат.";
inline constexpr const char* kMsgAllChatsDeleted = "Все чаты были успешно удалены.";
inline constexpr const char* kMsgDeleteAllFailed = "Произошла ошибка при удалении чатов: ";
inline constexpr const char* kMsgSelectPartToDelete = "Пожалуйста, выберите часть истории для удаления.";
inline constexpr const char* kMsgCannotDeleteFirstPart = "Нельзя удалить \"Начало\". Чтобы удалить всю историю, используйте меню в списке слева.";
inline constexpr const char* kAskDeletePart = "Вы уверены, что хотите безвозвратно удалить эту часть истории?\r\n";
inline constexpr const char* kMsgDeletePartFailed = "Не удалось удалить часть истории. Ошибка: ";
inline constexpr const char* kMsgSelectChatForNewPart = "Сначала выберите существующую историю чата в списке слева, чтобы добавить к ней новую часть.";
inline constexpr const char* kMsgChatInfoMissing = "Ошибка: не удалось получить информацию о выбранном чате.";
inline constexpr const char* kInputNewPartCaption = "Новая пустая часть истории";
inline constexpr const char* kInputNewPartPrompt = "Введите название для новой пустой части:";
inline constexpr const char* kMsgNewPartFileFailed = "Не удалось создать файл для новой части истории. Ошибка: ";
inline constexpr const char* kStatusNewEmptyPart = "Создана новая пустая часть: ";
inline constexpr const char* kMsgNotEnoughHistory = "Недостаточно истории для создания новой части. Пожалуйста, продолжите диалог.";
inline constexpr const char* kAskNewPartFromContext = "Создать новую часть истории? Текущий контекст будет сжат и заменен.";
inline constexpr const char* kStatusCreatingTransferPrompt = "Создание передаточного промта для новой части истории...";
inline constexpr const char* kPrefixErrorUpper = "ОШИБКА:";
inline constexpr const char* kPrefixError = "Ошибка";
inline constexpr const char* kMsgNoRootChat = "Критическая ошибка: не удалось определить корневой чат для создания новой части. Процесс прерван.";
inline constexpr const char* kStatusNewPartCreated = "Создана новая часть истории. Можете продолжать диалог.";
inline constexpr const char* kMsgNewPartCreated = "Создана новая часть истории. Контекст сжат. Вы можете продолжать диалог.";
inline constexpr const char* kMsgTooManyRequests = "Слишком много запросов или превышен лимит токенов (Ошибка 429). Пожалуйста, попробуйте позже.";
inline constexpr const char* kStatusApiTooManyRequests = "Ошибка API: Слишком много запросов.";
inline constexpr const char* kMsgTransferPromptFailed = "Критическая ошибка: не удалось создать передаточный промт. Процесс прерван. ";
inline constexpr const char* kLabelMaxLimKont = "Отправь";
inline constexpr const char* kHintMaxLimKontLabel = "Максимум";
inline constexpr const char* kHintMaxLimKont = "Попадают в запрос последние ";
inline constexpr const char* kLabelKrea = "Креатив";
inline constexpr const char* kHintKrea = "Креативность";
inline constexpr const char* kLabelTimeOut = "Таймаут";
inline constexpr const char* kHintTimeOut = "Время подумать";
inline constexpr const char* kMenuDelete = "Удалить";
inline constexpr const char* kMsgKreaRange = "От 0 до 5";
inline constexpr const char* kMsgTimeOutRange = "От 1 до 60";
inline constexpr const char* kMsgProgramFolderNotWritable =
    "В папке программы нельзя сохранять файлы: чаты и настройки не будут сохранены. ";
// A key or model list file that is there but cannot be read; it is left as it is.
inline constexpr const char* kMsgListReadFailed = "Не удалось прочитать файл ";
inline constexpr const char* kMsgListLeftAlone = ". Файл оставлен без изменений.";
inline constexpr const char* kMsgListNotWrittenStart = "Файл ";
inline constexpr const char* kMsgListNotWrittenEnd = " не удалось прочитать при запуске, поэтому он не перезаписан.";
inline constexpr const char* kMsgMaxLimKontInvalid = "Ошибка: введено некорректное значение. Пожалуйста, введите целое положительное число.";
inline constexpr const char* kAskDeleteKey = "Удалить этот ключ?\r\nДействие необратимо.";
inline constexpr const char* kAskDeleteModel = "Удалить Модель?\r\nДействие необратимо.";
inline constexpr const char* kCaptionSend = "➤";
inline constexpr const char* kHintPrompt = "Ctrl+Enter (Отправить)";
inline constexpr const char* kMsgEnterApiKey = "Пожалуйста, введите API ключ.";
inline constexpr const char* kMsgCreateKeyAt = "Пожалуйста создайте ключ ";
inline constexpr const char* kMsgEnterPrompt = "Пожалуйста, введите текст запроса (или добавьте файл).";
inline constexpr const char* kMsgImageNoFiles = "Генерация изображений не поддерживает одновременную отправку файлов.";
inline constexpr const char* kStatusSending = "Отправка запроса...";
inline constexpr const char* kErrFileAccess = "Ошибка доступа к файлу: ";
inline constexpr const char* kErrFileTooBigStart = "Ошибка: Файл ";
inline constexpr const char* kErrFileTooBigEnd = " больше 20 МБ и не будет отправлен.";
// Through the Files API a file may be as large as the service takes.
inline constexpr const char* kErrFileTooBigEndFilesApi = " больше 2 ГБ и не будет отправлен.";
// A big attachment going up: the file's name, then the share sent and "%".
inline constexpr const char* kStatusUploadingFile = "Загрузка файла ";
inline constexpr const char* kErrFileEncode = "Ошибка: не удалось прочитать или закодировать файл ";
inline constexpr const char* kStatusSendRestored = "Ошибка отправки. Ваш запрос восстановлен.";
inline constexpr const char* kMsgSendRestored = "Не удалось отправить запрос. Ваш текст и файлы восстановлены для повторной попытки.";
inline constexpr const char* kStatusDone = "Готово";
inline constexpr const char* kPrefixException = "Исключение";
inline constexpr const char* kMsgBadImageJson = "Ошибка: получен некорректный JSON от модели.";
inline constexpr const char* kLabelFilesDesign = "Файлы (0/16)";
inline constexpr const char* kHintClearFiles = "Удалить всё";
inline constexpr const char* kMenuAddFiles = "Добавить Файлы";
inline constexpr const char* kMenuRemoveFile = "Удалить Файл";
inline constexpr const char* kMenuRemoveAllFiles = "Удалить Все Файлы";
inline constexpr const char* kLabelContext = "Контекст:";
inline constexpr const char* kHintContext = "Токинов в контексте:";
inline constexpr const char* kFilesLabelFormat = "Файлы (%d/%d)";
inline constexpr const char* kOpenFilesFilter = "Поддерживаемые файлы|*.jpg;*.jpeg;*.png;*.webp;*.heic;*.heif;*.wav;*.mp3;*.aiff;*.aac;*.ogg;*.flac;*.mp4;*.mpeg;*.mov;*.avi;*.flv;*.mpg;*.webm;*.wmv;*.3gpp;*.txt;*.json;*.pas;*.dfm;*.md;*.csv;*.xml;*.html;*.htm;*.css;*.js;*.ts;*.py;*.java;*.cpp;*.c;*.rb;*.php;*.sh;*.log;*.rtf;*.yaml;*.yml;*.toml;*.ini;*.env;*.sql;*.Makefile;*.cmake;*.dockerfile;*.dockerignore;*.tf;*.tfvars;*.jsx;*.vue;*.svelte;*.scss;*.sass;*.less;*.pl;*.lua;*.vbs;*.bas;*.cob;*.f90;*.properties;*.asciidoc;*.adoc;*.creole;*.docbook;*.rst;*.tex;*.conf;*.cfg;*.bash;*.zsh;*.ksh;*.pdf;*.docx;*.xlsx;*.pptx|Изображения|*.jpg;*.jpeg;*.png;*.webp;*.heic;*.heif|Аудио файлы|*.wav;*.mp3;*.aiff;*.aac;*.ogg;*.flac|Видео файлы|*.mp4;*.mpeg;*.mov;*.avi;*.flv;*.mpg;*.webm;*.wmv;*.3gpp|Текст / Код|*.txt;*.md;*.csv;*.xml;*.html;*.htm;*.css;*.js;*.ts;*.py;*.java;*.cpp;*.c;*.rb;*.pas;*.dfm;*.php;*.sh;*.log;*.rtf|Документы|*.pdf;*.docx;*.xlsx;*.pptx|Все файлы|*.*";
inline constexpr const char* kMsgFileLimitStart = "Достигнут максимальный лимит файлов (";
inline constexpr const char* kOpenFilesTitle = "Выберите один или несколько файлов";
inline constexpr const char* kMsgFileLimitStopped = "Добавление остановлено – достигнут лимит файлов.";
inline constexpr const char* kMsgUnsupportedStart = "Файл \"";
inline constexpr const char* kMsgUnsupportedEnd = "\" имеет неподдерживаемый тип.";
inline constexpr const char* kAskClearFiles = "Очистить список файлов?\r\nДействие необратимо.";
inline constexpr const char* kLabelModel = "Модель:";
inline constexpr const char* kLabelKey = "Ключ:";
inline constexpr const char* kCaptionWeb = "Веб";
inline constexpr const char* kHintWeb = "Поиск в Интернете";
inline constexpr const char* kLabelLimit = "Лимит:";
inline constexpr const char* kHintLimit = "Сегодня";
inline constexpr const char* kCaptionDown = "↓";
inline constexpr const char* kMenuCliInstall = "Установить CLI(консоль)";
inline constexpr const char* kMenuCliUpdate = "Обновить CLI(консоль)";
inline constexpr const char* kMenuCliAuth = "Авторизация в CLI";
inline constexpr const char* kMenuCliDeleteAccount = "Удалить аккаунт CLI";
inline constexpr const char* kMenuCliRemove = "Удалить CLI(консоль)";
inline constexpr const char* kCaptionStop = "■";
inline constexpr const char* kHintStop = "Остановить запрос (Esc)";
inline constexpr const char* kStatusStopped = "Запрос остановлен";
inline constexpr const char* kCaptionStream = "Поток";
inline constexpr const char* kHintStream = "Показывать ответ по мере получения";
inline constexpr const char* kCaptionThoughts = "Мысли";
inline constexpr const char* kMenuLoadModels = "Загрузить список моделей";
inline constexpr const char* kStatusLoadingModels = "Загрузка списка моделей...";
inline constexpr const char* kStatusModelsAddedFormat = "Список моделей загружен, добавлено: %d";
inline constexpr const char* kStatusModelsFailed = "Список моделей не загружен.";
inline constexpr const char* kHintModelLimitsFormat = "%s: запрос до %d токенов, ответ до %d";
inline constexpr const char* kHintThoughts = "Просить у модели сводку её рассуждений";

}  // namespace tarvok::ui
