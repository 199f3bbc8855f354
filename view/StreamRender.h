#pragma once
// An answer shown while it arrives: one model bubble, found by its id, whose whole HTML
// is replaced as the text grows. The last replacement is the finished bubble without
// an id, so the page ends exactly as if the answer had come at once.

#include <string>
#include <string_view>

namespace tarvok {

// The bubble with ` id="AId"` on its outer element (the first "<div").
std::string WithBubbleId(std::string_view ABubbleHtml, std::string_view AId);
// The bubble with "Остановлено" at the end of its footer (a footer is added when it has none).
std::string WithStoppedNote(std::string_view ABubbleHtml);
// Replaces the element with id AId, outer HTML included, by AHtml. Without such an element
// (the page was rebuilt from the history after its renderer ended) AHtml is appended to
// the chat instead, so the answer still shows, after the turn it answers.
std::string ReplaceBubbleScript(std::string_view AId, std::string_view AHtml);

// The same, and a thoughts block (details.thoughts) that was open stays open.
std::string ReplaceBubbleKeepingThoughtsScript(std::string_view AId, std::string_view AHtml);

inline constexpr const char* kStoppedNote = "Остановлено";

}  // namespace tarvok
