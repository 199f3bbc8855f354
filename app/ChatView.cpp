#include "app/ChatView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/QtDialogs.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/TokenEstimate.h"
#include "storage/Attachments.h"
#include "view/MessageRender.h"
#include "view/PageTemplate.h"

namespace tarvok {
namespace {

constexpr const char* kSaveTitle = "Сохранить код как...";
// Name and pattern, as the window's other file dialogs are written; "*.*" becomes "*" there, so
// that files without a dot (Makefile) are listed too.
constexpr const char* kSaveFilter = "Все файлы|*.*";
constexpr const char* kSavedStatus = "Файл сохранен: ";
constexpr const char* kSaveError = "Ошибка сохранения: ";
constexpr const char* kPageRestarted = "Страница чата перезапущена после сбоя.";
constexpr const char* kPageRestartedEmpty = "Страница чата снова завершилась сбоем; история не показана.";
// Losses with nothing new shown in between count as one run: the chat itself may be what
// ends the renderer, and rebuilding it for ever would keep the pane from ever coming back.
constexpr int kRebuildsInARun = 2;

bool IsFolder(const std::filesystem::path& APath) {
  std::error_code error;
  return !APath.empty() && std::filesystem::is_directory(APath, error);
}

}  // namespace

TChatView::TChatView(IChatPage& APage, Dialogs& ADialogs) : FPage(APage), FDialogs(ADialogs) {
  FPage.SetPageLostHandler([this] { PageLost(); });
  FPage.SetBubbleActionHandler([this](const QString& AAction, int ATurn) {
    if (OnBubbleAction) OnBubbleAction(AAction, ATurn);
  });
}

void TChatView::TagExchange(const std::string& AUserId, int AUserTurn, bool AImage) {
  FPage.DecoratePage(TagExchangeScript(AUserId, AUserTurn, AUserTurn + 1, AImage));
}

void TChatView::RemoveBubblesFromTurn(int ATurn) { FPage.ExecutePageScript(RemoveBubblesFromTurnScript(ATurn)); }

void TChatView::PageLost() {
  const bool rebuild = ++FPageLossesInARun <= kRebuildsInARun;
  if (rebuild && ShownHistory) AppendHistory(ShownHistory(), FPendingUserId);
  if (OnStatusText) OnStatusText(QString::fromUtf8(rebuild ? kPageRestarted : kPageRestartedEmpty));
}

void TChatView::UpdateMessageTokens(const std::string& AMessageId, int ATokenCount) {
  PutChatBack();
  if (AMessageId == FPendingUserId) FPendingUserId.clear();
  const std::string script = UpdateMessageTokensScript(AMessageId, ATokenCount);
  if (!script.empty()) FPage.ExecutePageScript(script);
}

void TChatView::MarkMessageSendError(const std::string& AMessageId) {
  PutChatBack();
  if (AMessageId == FPendingUserId) FPendingUserId.clear();
  const std::string script = MarkMessageSendErrorScript(AMessageId);
  if (!script.empty()) FPage.ExecutePageScript(script);
}

void TChatView::AttachTitleHandler() {
  FPage.SetTitleChangedHandler([this](const QString& ATitle) { WebBrowser1TitleChange(ATitle); });
}

bool TChatView::ShowsHelpPage() const { return FPage.CurrentUrl().contains(QStringLiteral("AddKey.html")); }

void TChatView::ShowHelpPage(const QString& AFilePath, bool AForMissingKey) {
  // Shown again over itself, the help page still covers the chat it covered first.
  if (!ShowsHelpPage() || !FHelpOverChat) {
    FHelpOverChat = THelpOverChat{};
    if (ShownHistory) FHelpOverChat->History = ShownHistory();
    FHelpOverChat->PendingUserId = FPendingUserId;
  }
  FHelpOverChat->ForMissingKey = AForMissingKey;
  FPage.ShowLocalFile(AFilePath);
}

bool TChatView::PutChatBack() {
  if (!ShowsHelpPage()) return false;
  THelpOverChat covered = FHelpOverChat ? std::move(*FHelpOverChat) : THelpOverChat{};
  FHelpOverChat.reset();
  FPage.ResetChatView();
  FPendingUserId = covered.PendingUserId;
  AppendHistory(covered.History, covered.PendingUserId);
  return true;
}

QString TChatView::InitialSaveDir() const {
  const std::filesystem::path last = PathFromUtf8(FLastSaveDir);
  if (!FLastSaveDir.empty() && IsFolder(last)) return QString::fromStdString(FLastSaveDir);
  // The profile folder: USERPROFILE where the system has it, the home folder elsewhere.
  const char* profile = std::getenv("USERPROFILE");
  if (!profile || !*profile) profile = std::getenv("HOME");
  if (profile && *profile) {
    const std::filesystem::path downloads = PathFromUtf8(profile) / "Downloads";
    if (IsFolder(downloads)) return QString::fromStdString(PathToUtf8(downloads));
  }
  return QString::fromStdString(PathToUtf8(ProgramDir()));
}

void TChatView::WebBrowser1TitleChange(const QString& ATitle) {
  if (FIsSaving || !IsSaveCodeCommand(ATitle.toStdString())) return;
  FIsSaving = true;
  struct TSavingGuard {
    bool& Flag;
    ~TSavingGuard() { Flag = false; }
  } guard{FIsSaving};

  const QString code = QGuiApplication::clipboard()->text();
  const QString fileName = FDialogs.SaveFile(QString::fromUtf8(kSaveTitle), InitialSaveDir(), QStringLiteral("code.txt"),
                                             ToQtFileFilter(QString::fromUtf8(kSaveFilter)), QString());
  if (fileName.isEmpty()) return;

  const std::filesystem::path path = PathFromUtf8(fileName.toStdString());
  std::string folder = PathToUtf8(path.parent_path());
  if (!folder.empty() && folder.back() != '/' && folder.back() != static_cast<char>(std::filesystem::path::preferred_separator))
    folder += static_cast<char>(std::filesystem::path::preferred_separator);
  FLastSaveDir = folder;

  try {
    std::string content(kUtf8Bom);
    content += code.toStdString();
    WriteFileAtomic(path, content);
  } catch (const std::exception& e) {
    FDialogs.ShowMessage(QString::fromUtf8(kSaveError) + QString::fromStdString(e.what()));
    return;
  }
  if (OnStatusText) OnStatusText(QString::fromUtf8(kSavedStatus) + fileName);
}

std::string TChatView::AddUserMessage(const std::string& AText, const std::vector<std::string>& AFiles,
                                      int ATokenCount) {
  int tokens = ATokenCount;
  if (tokens == -1) {
    // The estimate of what the send will post: the text, then each file by its type.
    TContentParts parts;
    parts.push_back({TPartType::ptText, AText, "", {}, ""});
    for (const std::string& file : AFiles)
      parts.push_back({TPartType::ptInlineData, "", GetMimeTypeFromFileExt(file), {}, file});
    tokens = CountTokens(parts);
  }
  PutChatBack();
  const std::string id = MakeMessageId(Now());
  FPageLossesInARun = 0;
  FPendingUserId = id;
  FPage.AppendChatHtml(RenderUserMessage(AText, AFiles, Now(), id, tokens));
  return id;
}

void TChatView::AddModelMessage(const std::string& AText, const std::string& AModelName, int ATokenCount,
                                const std::string& ADuration) {
  PutChatBack();
  FPageLossesInARun = 0;
  FPage.AppendChatHtml(RenderModelMessage(AText, AModelName, Now(), ATokenCount, ADuration));
}

void TChatView::AddAnswerMessage(const std::string& AText, const std::string& AModelName, int ATokenCount,
                                 const std::string& ADuration, const TAnswerExtras& AExtras) {
  FPageLossesInARun = 0;
  FPage.AppendChatHtml(RenderAnswerMessage(AText, AModelName, Now(), ATokenCount, ADuration, AExtras));
}

void TChatView::AddImageMessage(const std::string& AMimeType, const std::string& ABase64Data) {
  PutChatBack();
  FPageLossesInARun = 0;
  FPage.AppendChatHtml(RenderImageMessage(AMimeType, ABase64Data, Now()));
}

void TChatView::RenderChatHistory(const TChatHistory& AHistory) {
  FPageLossesInARun = 0;
  FPendingUserId.clear();
  AppendHistory(AHistory);
}

void TChatView::AppendHistory(const TChatHistory& AHistory, const std::string& AUserId) {
  FPage.EnsureBaseHtmlLoaded();
  // The bubbles go in batches, each bubble whole, so the document is the same as with one
  // append per bubble. A batch stops growing past 64 kB, and the page waits for each before
  // the next: the renderer parses one batch at a time and reuses its memory for the next
  // (a 1,000-turn chat sent in one script of 1.6 MB left it about 50 MB larger for good).
  // A bubble larger than that, a picture, is a batch of its own.
  constexpr std::size_t kBatchBytes = 64u << 10;
  std::string batch;
  std::vector<TShownTurn> shown;
  for (const THistoryItem& item : AHistory) {
    const bool pending = !AUserId.empty() && &item == &AHistory.back() && item.Role == "user";
    const std::string html = RenderHistoryItem(item, pending ? std::string_view(AUserId) : std::string_view());
    if (!html.empty()) shown.push_back({static_cast<int>(&item - AHistory.data()), IsImageTurn(item)});
    batch += html;
    if (batch.size() >= kBatchBytes) {
      FPage.AppendChatHtml(batch);
      batch.clear();
    }
  }
  if (!batch.empty()) FPage.AppendChatHtml(batch);
  if (!shown.empty()) FPage.DecoratePage(TagShownTurnsScript(shown));
}

bool IsImageTurn(const THistoryItem& AItem) {
  return AItem.Role == "model" &&
         std::any_of(AItem.Parts.begin(), AItem.Parts.end(), [](const TContentPart& APart) { return !APart.Base64Data.empty(); });
}

}  // namespace tarvok
