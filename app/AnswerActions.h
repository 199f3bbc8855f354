#pragma once
// The buttons the chat page puts on the bubbles: copy an answer's Markdown as stored, answer
// the last question again, or take the last question back into the boxes for editing. The
// last two act on the last exchange only, and only while no request is pending.

#include <QString>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tarvok {

class TForm1;

class TAnswerActions {
 public:
  explicit TAnswerActions(TForm1& AForm) : F(AForm) {}

  // From the page: AAction "copy", "again" or "edit" on stored turn ATurn.
  void BubbleAction(const QString& AAction, int ATurn);
  void CopyAnswer(int ATurn);
  void AnswerAgain(int ATurn);
  void EditQuestion(int ATurn);

 private:
  // ATurn is the history's last turn, a model turn after a user turn, and nothing is pending;
  // otherwise the status says why nothing happens.
  bool IsLastAnswer(int ATurn);
  // The question's files: their paths where they still are, else their stored copies
  // written into "attachments".
  std::vector<std::string> FilesOf(const THistoryItem& AQuestion);

  TForm1& F;
};

// The question's text as typed (an image request's stored text without its suffix).
std::string QuestionText(const THistoryItem& AQuestion);
// The answer's Markdown as stored: its text parts, in order.
std::string AnswerText(const THistoryItem& AAnswer);

}  // namespace tarvok
