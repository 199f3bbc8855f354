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

  // The open chat as it was last read from or written to AFile.
  void Remember(const std::string& AFile, bool APartial);
  // A conversation that may not be written over its own file, saved as a new chat: the
  // new chat joins the list, selected when the old one still was.
  void ListContinuedChat(const std::string& AOldFile);

  TForm1& F;
  // The open chat as its file holds it. A save writes only a conversation that changed
  // since; and never over a file that loaded only in part or that someone else wrote
  // meanwhile: the conversation then goes on in a new chat.
  struct TSavedChat {
    std::string File;  // empty: nothing known, the next save writes
    TChatHistory History;
    TFileStamp Stamp;
    bool Partial = false;
  } FSaved;
};

}  // namespace tarvok
