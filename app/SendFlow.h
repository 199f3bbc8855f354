#pragma once
// The send flow: from the prompt box to the answer on the chat page, by the image,
// CLI or REST route, with the prompt and files given back after a failure.

#include <memory>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tarvok {

class TForm1;

class TSendFlow {
 public:
  explicit TSendFlow(TForm1& AForm) : F(AForm) {}

  // While a request is pending the button stops it.
  void btnSendClick();
  // True when the key was used (Ctrl+Enter sends and is swallowed).
  bool memoPromptKeyDown(int AKey, int AModifiers);
  void ValidateAndSend();
  void SendUserRequest(const std::string& AText, std::vector<std::string> AFiles);

 private:
  struct TSendState;
  void RestoreInputFields(const TSendState& AState, bool AShowMessage = true);
  void TextCompletion(TSendState& AState, const std::string& AResult, const TTokenUsage& AUsage,
                      const TResultFlags& AFlags);
  void ShowPartialAnswer(TSendState& AState, const std::string& AText);
  void ImageCompletion(TSendState& AState, const std::string& AResult, const TResultFlags& AFlags);
  // Saves the chat; a chat saved for the first time gets its parts list.
  void SaveAfterAnswer();

  TForm1& F;
};

// The result as shown: a leading rate-limit marker's first occurrence removed.
std::string WithoutRateLimitMarker(const std::string& AResult);

}  // namespace tarvok
