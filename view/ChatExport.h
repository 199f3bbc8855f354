#pragma once
// A conversation written out for reading elsewhere: Markdown with the pictures as files
// beside it, or one self-contained HTML page that looks like the chat pane.

#include <functional>
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

// Whether a file of that name already lies beside the export (it is then never replaced).
using TNameTaken = std::function<bool(const std::string& AFileName)>;

// One "##" heading per turn with the role (and model), then the time; the user's text,
// the answer's Markdown as it came, and every picture (an image answer or an attached
// picture) linked as APictureBase + "_NN.<ext>", which the caller writes beside the file.
// Numbers whose name ATaken reports are skipped. The link targets are percent-encoded
// where a viewer would read a character otherwise ('%', '#', '?', ...).
TMarkdownExport ChatToMarkdown(const TChatHistory& AHistory, std::string_view APictureBase,
                               const TNameTaken& ATaken = {});

// The page as the chat pane shows it: the same style and bubbles, pictures inline as
// data: URLs, and no script at all (the code buttons, which need one, are left out).
// It loads nothing from anywhere: a picture on a remote address is a link to it.
std::string ChatToHtml(const TChatHistory& AHistory, std::string_view ATitle);

// The page's Content-Security-Policy.
inline constexpr std::string_view kExportPolicy =
    "default-src 'none'; img-src data:; style-src 'unsafe-inline'; font-src data:";

}  // namespace tarvok
