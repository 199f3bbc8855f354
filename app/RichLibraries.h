#pragma once
// The libraries that decorate answers (KaTeX for formulas, highlight.js for code) and our
// page script and style rules for them. They are built into the program as Qt resources
// (from the installed packages, at build time) and reach the page only through the
// local scheme "tarvok-lib:", which this file serves; nothing of it comes from the network.

#include <QByteArray>
#include <QString>
#include <string>

class QWebEngineProfile;

namespace tarvok {

inline constexpr const char* kRichScheme = "tarvok-lib";

// Registers the scheme with the browser engine; counts only before the engine starts.
void RegisterRichScheme();
// Serves the scheme for the pages of AProfile.
void InstallRichScheme(QWebEngineProfile* AProfile);

// The page's style additions: KaTeX's rules with its fonts inline as data: URLs, the code
// colours and our rules for tables, quotes, lists and formulas. Self-contained.
const QByteArray& RichPageStyle();
// AHtml (a page) with the style and the scripts that decorate its bubbles, loaded from
// the local scheme, added at the end of its head.
std::string WithRichLibraries(const std::string& AHtml);

}  // namespace tarvok
