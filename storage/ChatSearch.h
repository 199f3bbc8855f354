#pragma once
// Chat search: which main chat files contain any of the words typed, compared without
// regard to letter case, in the "text" members of their turns only.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/ChatLibrary.h"

namespace tarvok {

// The query lower-cased (Unicode) and trimmed; empty means "show the full list".
std::string NormaliseSearchQuery(std::string_view AText);
// Blanks and control characters separate words; a run in double quotes is one word
// ("" inside it stands for one quote); empty words are dropped.
std::vector<std::string> SplitSearchQuery(std::string_view AQuery);

// The outcome of matching one chat file's content.
enum class TChatMatch { Match, NoMatch, NotAChat, BadText };
// AWords must be lower-cased. NotAChat: not valid JSON or not an object. BadText: a
// "text" member holds an object or an array.
TChatMatch MatchChatText(std::string_view AFileContent, const std::vector<std::string>& AWords);
// The look at the raw bytes the search takes before any parse: false only when the content
// cannot be a Match or BadText for these words.
bool ChatMayMatch(std::string_view AFileContent, const std::vector<std::string>& AWords);

// Runs the search over the main chat files in chat-list order (newest first), calling
// AOnMatch for every match as it is found. Raises TFileError, after the matches found so
// far, for a file that cannot be read or a "text" member that is not text.
void SearchChats(const std::vector<std::string>& AWords, const std::function<void(const TChatEntry&)>& AOnMatch);
std::vector<TChatEntry> SearchChats(const std::vector<std::string>& AWords);

}  // namespace tarvok
