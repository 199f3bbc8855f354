#pragma once
// The model bubble of an answer that arrives in pieces: appended with the first piece,
// replaced by id with every later one, and replaced at the end by the finished bubble,
// which carries no id, so the page ends as if the whole answer had come at once.

#include <string>

#include "core/Types.h"

namespace tarvok {

class IChatPage;

class TStreamingAnswer {
 public:
  // Shows the answer so far (Markdown) in the growing bubble.
  void Show(IChatPage& APage, const std::string& AText, const std::string& AModelName);
  // The thoughts that have arrived so far; shown above the text from the next Show on.
  void SetThoughts(const std::string& AThoughts) { FThoughts = AThoughts; }
  bool Shown() const { return !FId.empty(); }
  const std::string& Id() const { return FId; }
  // The bubble is gone from the page (the pane showed something else); the next piece
  // appends a new one.
  void Forget() { FId.clear(); }
  // Puts the finished bubble in the growing one's place.
  void Finish(IChatPage& APage, const std::string& AFinalHtml);

 private:
  std::string Replace(const std::string& AHtml) const;

  std::string FId;
  std::string FThoughts;
};

}  // namespace tarvok
