#pragma once
// An exported chat page shows its answers as the pane does (coloured code, typeset
// formulas) without any script: the page is decorated once here, by the browser engine
// off screen, and written out as the resulting markup with the style sheet and fonts inline.

#include <string>

namespace tarvok {

// APage is a page of ChatToHtml. Returns it with the bubbles decorated and the decoration's
// style (fonts as data: URLs) in its head. When the engine cannot decorate it (its renderer
// ended, or it took longer than a minute), the bubbles stay as they were and only the style
// is added: the formulas then read as their TeX.
std::string WithDecoratedAnswers(const std::string& APage);

}  // namespace tarvok
