#pragma once
// The HTML of each message bubble. The class names and nesting are what the page's
// style sheet and its copyCode/downloadCode scripts rely on (PageTemplate.h).
// Everything that can come from a chat file (file names, MIME types, model names,
// durations) is escaped; the user's text follows the page's long-standing escaping.

#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"
#include "view/Markdown.h"

namespace tarvok {

// "msg_" + yyyymmddhhnnsszzz of ATime.
std::string MakeMessageId(TDateTime ATime);
// "hh:nn:ss - dd.mm.yyyy", or empty for a time of zero or less (or not a date at all).
std::string FormatMessageTimestamp(TDateTime ATime);
// The footer's time text: "37с", or "%dмин %dс" from 60 seconds on.
std::string FormatDurationText(std::string_view ADuration);
// First character upper-cased when it is a..z; "Gemini" when empty. Not escaped.
std::string DisplayModelName(std::string_view AModelName);
// &, <, >, " and ' as entities.
std::string EscapeHtml(std::string_view AText);
// The user's text as the page shows it: "<" and ">" as entities, CR LF as <br>.
std::string EscapeUserText(std::string_view AText);
// AText without the bidirectional embedding, override and isolate characters (U+202A..U+202E,
// U+2066..U+2069): a shown file name must read as it is stored ("invoice\u202Efdp.txt" would
// pass for "invoicetxt.pdf").
std::string StripBidiControls(std::string_view AText);
// The name part of a path: after the last of ASeparators, by default this system's
// (PathSeparatorChars: '/' alone on POSIX, where a backslash is part of a name).
std::string FileNameOfPath(std::string_view APath);
std::string FileNameOfPath(std::string_view APath, std::string_view ASeparators);
// The picture types a bubble shows (PNG, JPEG, GIF, WebP, BMP), in any letter case.
bool IsShownPictureType(std::string_view AMimeType);
// True for type/subtype made of letters, digits and !#$-^_.+ (what may go into a data: URL).
bool LooksLikeMimeType(std::string_view AMimeType);

// Wraps every "<pre>...</pre>" in the code-block container with its copy and save buttons.
std::string WrapCodeBlocks(std::string_view AHtml);

// AFiles are paths; the bubble lists their file names.
std::string RenderUserMessage(std::string_view AText, const std::vector<std::string>& AFiles, TDateTime ATimestamp,
                              std::string_view AMessageId, int ATokenCount);
// The same with the names to list given as they are (a stored turn lists MIME types whole).
std::string RenderUserMessageNames(std::string_view AText, const std::vector<std::string>& ANames,
                                   TDateTime ATimestamp, std::string_view AMessageId, int ATokenCount);
// AText is Markdown, or the image payload {"mime_type":..., "base64_data":...}.
// AConvert replaces the Markdown converter (tests use it to show the failure fallback).
std::string RenderModelMessage(std::string_view AText, std::string_view AModelName, TDateTime ATimestamp,
                               int ATokenCount, std::string_view ADuration,
                               const TMarkdownConverter& AConvert = {});
// The same answer with what it carried beside its text: the thoughts folded above it, the
// citation marks and sources of a grounded answer, and " | Мысли: N" in the footer. Without
// extras the bubble is exactly RenderModelMessage's. AConvert as for RenderModelMessage.
std::string RenderAnswerMessage(std::string_view AText, std::string_view AModelName, TDateTime ATimestamp,
                                int ATokenCount, std::string_view ADuration, const TAnswerExtras& AExtras,
                                const TMarkdownConverter& AConvert = {});
// A MIME type other than a shown picture type, or data that is empty or not Base64, shows
// no picture but a short notice saying so.
std::string RenderImageMessage(std::string_view AMimeType, std::string_view ABase64Data, TDateTime ATimestamp);

// The bubble of one stored turn, or empty for a role other than "user"/"model". A user
// bubble gets AMessageId when one is given (its footer and error mark are found by it).
// AConvert as for RenderModelMessage.
std::string RenderHistoryItem(const THistoryItem& AItem, std::string_view AMessageId = {},
                              const TMarkdownConverter& AConvert = {});

}  // namespace tarvok
