#pragma once
// A new part by compression: the model summarises the conversation, and the chat
// continues in a new part file whose history is that summary.

#include <string>

#include "core/Types.h"

namespace tarvok {

class TForm1;

class TNewPartProcess {
 public:
  explicit TNewPartProcess(TForm1& AForm) : F(AForm) {}

  void LoadNewPartPrompt();
  void N14Click();
  void StartNewChatPartProcess();

 private:
  void Completion(const std::string& AAnswer, const TTokenUsage& AUsage, const TResultFlags& AFlags);

  TForm1& F;
};

}  // namespace tarvok
