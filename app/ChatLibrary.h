#pragma once
// The chat library commands of the window: the chat and parts lists, opening, saving,
// new chats and parts, deletions and search. The file-system decisions are the plain
// functions of storage/ChatLibrary.h and storage/ChatSearch.h.

#include <string>
#include <vector>

#include "storage/ChatLibrary.h"

class QListWidget;

namespace tarvok {

class TForm1;

class TChatLibrary {
 public:
  explicit TChatLibrary(TForm1& AForm) : F(AForm) {}

  void LoadChatList();
  void ClearChatList();
  void SaveCurrentChat();
  void LoadChatFile(const std::string& AFileName, bool AClearInputs);
  void FillPartsList(const std::string& AChatFile);
  // Selects a parts-list entry without running the click handler.
  void SelectPartsEntry(int AIndex);
  // The path carried by a list entry; empty for "<Новый чат>" or none.
  static std::string EntryPath(const QListWidget* AList, int AIndex);
  // The path of the chat list's selected entry, empty when there is none.
  std::string SelectedChatFile() const;

  void ListBox2Click(QListWidget* ASender);
  void btnNewChatClick();
  void N6Click();
  void N12Click();
  void N13Click();
  void N17Click();
  void Edit1KeyUp();

 private:
  void AddEntries(QListWidget* AList, const std::vector<TChatEntry>& AEntries);
  void InsertNewChatEntry();  // at position 0 when missing, then selected
  // The selected chat's file for a command on it; empty once the user has been told why
  // there is none (nothing or "<Новый чат>" selected, or an entry without its path).
  std::string ChatForCommand(const char* ANothingSelected, const char* ANoPath, int& AIndex);

  TForm1& F;
  // A chat file that loaded only in part, and the history it gave: it is never written
  // back over; a continued conversation is saved as a new chat.
  std::string FPartialFile;
  TChatHistory FPartialHistory;
};

}  // namespace tarvok
