#pragma once
// The send flow: from the prompt box to the answer on the chat page, by the image,
// CLI or REST route, with the prompt and files given back after a failure.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tarvok {

class TForm1;

// How a request goes out: fixed when it is sent, and used again for an answer asked again.
struct TSendRoute {
  std::string Model;
  std::string ApiKey;
  bool Cli = false;
  bool WebSearch = false;
  bool Stream = false;
};

class TSendFlow {
 public:
  explicit TSendFlow(TForm1& AForm) : F(AForm) {}

  // While a request is pending the button stops it.
  void btnSendClick();
  // True when the key was used (Ctrl+Enter sends and is swallowed).
  bool memoPromptKeyDown(int AKey, int AModifiers);
  void ValidateAndSend();
  void SendUserRequest(const std::string& AText, std::vector<std::string> AFiles);
  // The last exchange (AReplaced, the history's last turns) answered again: it leaves the
  // history and the page, and AParts go out by ARoute as a new question whose answer takes
  // its place. A failure puts the exchange back and AText and AFiles into the boxes.
  // False while a request is pending.
  bool AnswerAgain(const TSendRoute& ARoute, const std::string& AText, const TContentParts& AParts,
                   const std::vector<std::string>& AFiles, TChatHistory AReplaced);
  // The route of the history's last answer when this window sent it, in the chat shown.
  std::optional<TSendRoute> RouteOfLastAnswer() const;

 private:
  struct TSendState;
  // AParts given: asked again, the parts as they were (no files read, the boxes left alone).
  void Start(const std::shared_ptr<TSendState>& AState, const std::string& AText,
             const std::vector<std::string>& AFiles, const TContentParts* AParts, bool AImage);
  void PutBackReplaced(TSendState& AState);
  void RememberRoute(const TSendState& AState, std::size_t AModelTurn);
  void RestoreInputFields(const TSendState& AState, bool AShowMessage = true);
  void TextCompletion(TSendState& AState, const std::string& AResult, const TTokenUsage& AUsage,
                      const TResultFlags& AFlags);
  void ShowPartialAnswer(TSendState& AState, const std::string& AText);
  void ImageCompletion(TSendState& AState, const std::string& AResult, const TResultFlags& AFlags);
  // Saves the chat; a chat saved for the first time gets its parts list.
  void SaveAfterAnswer();

  TForm1& F;
  std::optional<TSendRoute> FLastRoute;
  std::string FLastRouteChat;
  std::size_t FLastRouteTurn = 0;
};

// The result as shown: a leading rate-limit marker's first occurrence removed.
std::string WithoutRateLimitMarker(const std::string& AResult);

}  // namespace tarvok
