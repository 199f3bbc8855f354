#pragma once
// A conversation written out for reading elsewhere: Markdown with the pictures as files
// beside it, or one self-contained HTML page that looks like the chat pane.

#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"

namespace tarvok {

struct TExportPicture {
  std::string FileName;   // beside the Markdown file
  std::string MimeType;
  TSharedText Base64Data;  // as stored; the writer decodes it
};

struct TMarkdownExport {
  std::string Text;
  std::vector<TExportPicture> Pictures;
};

// One "##" heading per turn with the role (and model), then the time; the user's text,
// the answer's Markdown as it came, and every picture (an image answer or an attached
// picture) linked as APictureBase + "_NN.<ext>", which the caller writes beside the file.
TMarkdownExport ChatToMarkdown(const TChatHistory& AHistory, std::string_view APictureBase);

// The page as the chat pane shows it: the same style and bubbles, pictures inline as
// data: URLs, and no script at all (the code buttons, which need one, are left out).
std::string ChatToHtml(const TChatHistory& AHistory, std::string_view ATitle);

}  // namespace tarvok
