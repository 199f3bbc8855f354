#include "app/ChatLibrary.h"

#include <QApplication>
#include <algorithm>
#include <QLineEdit>
#include <QListWidget>

#include "app/AttachmentsPanel.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/DateTime.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TokenEstimate.h"
#include "storage/ChatFile.h"
#include "storage/ChatSearch.h"

namespace tarvok {
namespace {

constexpr int kPathRole = Qt::UserRole;

// FIsLoading for the length of a scope, cleared again however the scope ends.
class TLoading {
 public:
  explicit TLoading(TForm1& AForm) : F(AForm), FWas(AForm.FIsLoading) { F.FIsLoading = true; }
  ~TLoading() { F.FIsLoading = FWas; }

 private:
  TForm1& F;
  bool FWas;
};

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

std::string FileNameOnly(const std::string& APath) { return PathToUtf8(PathFromUtf8(APath).filename()); }

}  // namespace

std::string TChatLibrary::EntryPath(const QListWidget* AList, int AIndex) {
  if (AIndex < 0 || AIndex >= AList->count()) return {};
  const QVariant path = AList->item(AIndex)->data(kPathRole);
  return path.isValid() ? S(path.toString()) : std::string();
}

std::string TChatLibrary::SelectedChatFile() const { return EntryPath(F.ListBox2, F.ListBox2->currentRow()); }

void TChatLibrary::AddEntries(QListWidget* AList, const std::vector<TChatEntry>& AEntries) {
  for (const auto& entry : AEntries) {
    auto* item = new QListWidgetItem(Q(entry.Text));
    item->setData(kPathRole, Q(entry.Path));
    AList->addItem(item);
  }
}

void TChatLibrary::ClearChatList() {
  TLoading loading(F);
  F.ListBox2->clear();
}

void TChatLibrary::LoadChatList() {
  TLoading loading(F);
  ClearChatList();
  CreateChatFolders();
  AddEntries(F.ListBox2, tarvok::LoadChatList());
}

void TChatLibrary::InsertNewChatEntry() {
  TLoading loading(F);
  if (F.ListBox2->count() == 0 || F.ListBox2->item(0)->text() != Q(kNewChatEntry) ||
      F.ListBox2->item(0)->data(kPathRole).isValid())
    F.ListBox2->insertItem(0, Q(kNewChatEntry));
  F.ListBox2->setCurrentRow(0);
}

void TChatLibrary::Remember(const std::string& AFile, bool APartial) {
  FSaved.File = AFile;
  FSaved.History = F.GeminiDM().FChatHistory;
  FSaved.Stamp = FileStampOf(AFile);
  FSaved.Partial = APartial;
}

void TChatLibrary::SaveCurrentChat() {
  TGeminiDM& dm = F.GeminiDM();
  if (dm.FChatHistory.empty()) return;
  const bool known = !F.FCurrentChatFile.empty() && F.FCurrentChatFile == FSaved.File;
  if (known && dm.FChatHistory == FSaved.History) return;  // nothing new to keep
  // Another program (or a second window) wrote the file since we read or wrote it: what it
  // holds now is not ours to replace.
  const bool changedOnDisk = known && !FSaved.Partial && [&] {
    const TFileStamp now = FileStampOf(F.FCurrentChatFile);
    return now.Exists && now != FSaved.Stamp;
  }();
  const std::string leftBehind = known && (FSaved.Partial || changedOnDisk) ? F.FCurrentChatFile : std::string();
  if (!leftBehind.empty()) F.FCurrentChatFile.clear();
  CreateChatFolders();
  if (F.FCurrentChatFile.empty()) {
    F.FCurrentChatFile = NewChatFilePath(dm.FChatHistory, Now());
    const auto found = F.ListBox2->findItems(Q(kNewChatEntry), Qt::MatchExactly);
    if (!found.isEmpty() && leftBehind.empty()) {
      TLoading loading(F);
      found.first()->setText(Q(ChatDisplayName(FileNameOnly(F.FCurrentChatFile))));
      found.first()->setData(kPathRole, Q(F.FCurrentChatFile));
    }
  }
  SaveHistoryToFile(dm, F.FCurrentChatFile);
  Remember(F.FCurrentChatFile, false);
  if (leftBehind.empty()) return;
  ListContinuedChat(leftBehind);
  if (changedOnDisk) {
    const std::string text = ui::kMsgChatChangedOnDiskStart + FileNameOnly(leftBehind) +
                             ui::kMsgChatChangedOnDiskMiddle + FileNameOnly(F.FCurrentChatFile);
    F.SetStatusText(text);
    F.Dlg().ShowMessage(Q(text));
  }
}

void TChatLibrary::ListContinuedChat(const std::string& AOldFile) {
  TLoading loading(F);
  const bool selected = IsFileOfChat(AOldFile, SelectedChatFile());
  const int at = F.ListBox2->count() > 0 && EntryPath(F.ListBox2, 0).empty() ? 1 : 0;
  auto* item = new QListWidgetItem(Q(ChatDisplayName(FileNameOnly(F.FCurrentChatFile))));
  item->setData(kPathRole, Q(F.FCurrentChatFile));
  F.ListBox2->insertItem(at, item);
  if (selected) {
    F.ListBox2->setCurrentItem(item);
    FillPartsList(F.FCurrentChatFile);
    SelectPartsEntry(0);
  }
}

void TChatLibrary::LoadChatFile(const std::string& AFileName, bool AClearInputs) {
  F.ChatView().ResetChatView();
  if (AClearInputs) F.Attachments().ClearInputs();
  // Looked at before the read: a write that comes between then shows as a change, never
  // the other way round.
  const TFileStamp before = FileStampOf(AFileName);
  const TChatLoadReport load = LoadHistoryFromFile(F.GeminiDM(), AFileName);
  F.FCurrentChatFile = AFileName;
  if (!load.Complete) {
    // The turns that could not be read hold nothing, and the service would refuse them.
    TGeminiDM& dm = F.GeminiDM();
    dm.FChatHistory.resize(std::min(load.TurnsRead, dm.FChatHistory.size()));
    dm.FActualHistoryTokens = CountTokensForHistory(dm.FChatHistory);
  }
  if (before.Exists) {
    Remember(AFileName, !load.Complete);
    FSaved.Stamp = before;
  } else {
    // Nothing was read: the conversation shown is not that file's.
    FSaved = {};
  }
  F.ChatView().RenderChatHistory(F.GeminiDM().FChatHistory);
  F.SetStatusText(load.Complete ? ui::kStatusChatLoaded + FileNameOnly(AFileName) : std::string(ui::kStatusChatLoadedInPart));
  {
    TLoading loading(F);
    for (int i = 0; i < F.GeminiListBox->count(); ++i)
      if (EntryPath(F.GeminiListBox, i) == AFileName) {
        F.GeminiListBox->setCurrentRow(i);
        break;
      }
  }
  F.UpdateContextTokensLabel();
}

void TChatLibrary::FillPartsList(const std::string& AChatFile) {
  TLoading loading(F);
  F.GeminiListBox->clear();
  AddEntries(F.GeminiListBox, tarvok::FillPartsList(AChatFile));
}

void TChatLibrary::SelectPartsEntry(int AIndex) {
  TLoading loading(F);
  F.GeminiListBox->setCurrentRow(AIndex);
}

void TChatLibrary::ListBox2Click(QListWidget* ASender) {
  if (F.FIsLoading) return;
  const int index = ASender->currentRow();
  if (index < 0 || !ASender->item(index)->isSelected()) return;
  if (ASender == F.ListBox2) {
    {
      TLoading loading(F);
      F.GeminiListBox->clear();
    }
    const std::string chat = EntryPath(F.ListBox2, index);
    if (chat.empty() && F.ListBox2->item(index)->text() == Q(kNewChatEntry)) {
      if (!F.FCurrentChatFile.empty()) btnNewChatClick();
      else F.ChatView().PutChatBack();  // the new chat is the open one
      return;
    }
    FillPartsList(chat);
    if (F.GeminiListBox->count() == 0) return;
    const int last = F.GeminiListBox->count() - 1;
    const std::string path = EntryPath(F.GeminiListBox, last);
    if (path != F.FCurrentChatFile) {
      SaveCurrentChat();
      LoadChatFile(path, true);
    } else {
      F.ChatView().PutChatBack();  // the open chat, under the help page
    }
    SelectPartsEntry(last);
    return;
  }
  const std::string path = EntryPath(F.GeminiListBox, index);
  if (path != F.FCurrentChatFile) {
    SaveCurrentChat();
    LoadChatFile(path, false);
  } else {
    F.ChatView().PutChatBack();
  }
}

void TChatLibrary::btnNewChatClick() {
  SaveCurrentChat();
  F.GeminiDM().ClearHistory();
  F.ResetChatView();
  F.FCurrentChatFile.clear();
  F.SetStatusText(ui::kStatusNewChat);
  F.UpdateContextTokensLabel();
  {
    TLoading loading(F);
    F.GeminiListBox->clear();
  }
  InsertNewChatEntry();
}

std::string TChatLibrary::ChatForCommand(const char* ANothingSelected, const char* ANoPath, int& AIndex) {
  AIndex = F.ListBox2->currentRow();
  if (AIndex < 0 || (F.ListBox2->item(AIndex)->text() == Q(kNewChatEntry) && EntryPath(F.ListBox2, AIndex).empty())) {
    F.Dlg().ShowMessage(Q(ANothingSelected));
    return {};
  }
  std::string chat = EntryPath(F.ListBox2, AIndex);
  if (chat.empty()) F.Dlg().ShowMessage(Q(ANoPath));
  return chat;
}

void TChatLibrary::N6Click() {
  int index = -1;
  const std::string chat = ChatForCommand(ui::kMsgSelectChatToDelete, ui::kMsgChatDataMissing, index);
  if (chat.empty()) return;
  const QString question = Q(ui::kAskDeleteChatStart) + F.ListBox2->item(index)->text() + Q(ui::kAskDeleteChatMiddle) +
                           "\r\n" + Q(ui::kAskDeleteChatEnd);
  if (!F.Dlg().AskYesNo(question, QString(), Dialogs::Icon::Question)) return;
  try {
    const bool affected = !F.FCurrentChatFile.empty() && IsFileOfChat(F.FCurrentChatFile, chat);
    DeleteChatFiles(chat);
    {
      TLoading loading(F);
      delete F.ListBox2->takeItem(index);
      F.GeminiListBox->clear();
    }
    if (affected) {
      // The open conversation belongs to the deleted files: saving it on the way to the
      // new chat would bring the deleted file back.
      F.GeminiDM().ClearHistory();
      F.FCurrentChatFile.clear();
      btnNewChatClick();
    }
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgDeleteChatFailed) + Q(e.what()));
  }
}

void TChatLibrary::N12Click() {
  if (!F.Dlg().AskYesNo(Q(ui::kAskDeleteAllChats), QString(), Dialogs::Icon::Warning)) return;
  try {
    if (!DeleteAllChatFiles()) {
      F.Dlg().ShowMessage(Q(ui::kMsgChatsFolderMissing));
      return;
    }
    F.GeminiDM().ClearHistory();
    F.ResetChatView();
    F.FCurrentChatFile.clear();
    {
      // Its entries name deleted files; a click on one would write an orphan part.
      TLoading loading(F);
      F.GeminiListBox->clear();
    }
    F.SetStatusText(ui::kStatusAllChatsDeleted);
    LoadChatList();
    InsertNewChatEntry();
    F.Dlg().ShowMessage(Q(ui::kMsgAllChatsDeleted));
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgDeleteAllFailed) + Q(e.what()));
  }
}

void TChatLibrary::N13Click() {
  const int index = F.GeminiListBox->currentRow();
  if (index < 0) {
    F.Dlg().ShowMessage(Q(ui::kMsgSelectPartToDelete));
    return;
  }
  if (index == 0) {
    F.Dlg().ShowMessage(Q(ui::kMsgCannotDeleteFirstPart));
    return;
  }
  const std::string part = EntryPath(F.GeminiListBox, index);
  if (!F.Dlg().AskYesNo(Q(ui::kAskDeletePart) + Q(FileNameOnly(part)), QString(), Dialogs::Icon::Question)) return;
  try {
    const std::string chat = SelectedChatFile();
    // Only a file of the chat the list shows, so a stale entry never reaches elsewhere.
    if (!part.empty() && IsFileOfChat(part, EntryPath(F.GeminiListBox, 0))) {
      std::error_code ec;
      const auto path = PathFromUtf8(part);
      if (std::filesystem::exists(path) && !std::filesystem::remove(path, ec) && ec)
        throw std::runtime_error(ec.message());
    }
    if (part == F.FCurrentChatFile) LoadChatFile(EntryPath(F.GeminiListBox, index - 1), false);
    if (!chat.empty()) {
      FillPartsList(chat);
      SelectPartsEntry(index - 1 < F.GeminiListBox->count() ? index - 1 : F.GeminiListBox->count() - 1);
    } else {
      TLoading loading(F);
      delete F.GeminiListBox->takeItem(index);
    }
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgDeletePartFailed) + Q(e.what()));
  }
}

void TChatLibrary::N17Click() {
  int index = -1;
  const std::string chat = ChatForCommand(ui::kMsgSelectChatForNewPart, ui::kMsgChatInfoMissing, index);
  if (chat.empty()) return;
  QString value;
  if (!F.Dlg().InputQuery(Q(ui::kInputNewPartCaption), Q(ui::kInputNewPartPrompt), value)) return;
  const std::string title(Trim(S(value)));
  if (title.empty()) return;
  SaveCurrentChat();
  const int number = F.GeminiListBox->count();
  std::string path;
  try {
    CreateChatFolders();
    path = NewPartFilePath(chat, number, title);
    WriteEmptyPartFile(path);
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgNewPartFileFailed) + Q(e.what()));
    return;
  }
  F.GeminiDM().ClearHistory();
  F.ResetChatView();
  F.FCurrentChatFile = path;
  Remember(path, false);
  FillPartsList(chat);
  SelectPartsEntry(F.GeminiListBox->count() - 1);
  F.SetStatusText(ui::kStatusNewEmptyPart + title);
  F.UpdateContextTokensLabel();
}

void TChatLibrary::Edit1KeyUp() {
  // A search replaces the chat selection that a pending request answers into.
  if (F.RequestPending()) return;
  TWaitCursor wait;
  const std::string query = NormaliseSearchQuery(S(F.Edit1->text()));
  if (query.empty()) {
    LoadChatList();
    {
      TLoading loading(F);
      F.ListBox2->insertItem(0, Q(kNewChatEntry));
      if (F.FCurrentChatFile.empty()) {
        F.ListBox2->setCurrentRow(0);
      } else {
        for (int i = 0; i < F.ListBox2->count(); ++i)
          if (EntryPath(F.ListBox2, i) == F.FCurrentChatFile) {
            F.ListBox2->setCurrentRow(i);
            break;
          }
      }
    }
    return;
  }
  const auto words = SplitSearchQuery(query);
  ClearChatList();
  // Entries appear as they are found, so an error keeps what was found before it.
  SearchChats(words, [this](const TChatEntry& AEntry) {
    TLoading loading(F);
    AddEntries(F.ListBox2, {AEntry});
  });
}

}  // namespace tarvok
