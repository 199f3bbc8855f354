#pragma once
// The chat pane as the rest of the window sees it: a page that takes HTML fragments
// and scripts in order. WebChatPage is the Qt WebEngine one; window tests may use a
// recording one.

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace tarvok {

class IChatPage {
 public:
  virtual ~IChatPage() = default;
  // Loads the page template when it is not loaded yet; later operations wait for it.
  virtual void EnsureBaseHtmlLoaded() = 0;
  // Back to the empty template.
  virtual void ResetChatView() = 0;
  // Appends a fragment at the end of the chat container.
  virtual void AppendChatHtml(const std::string& AHtml) = 0;
  virtual void ExecutePageScript(const std::string& AScript) = 0;
  virtual void ScrollChatBy(int ADeltaY) = 0;
  virtual void ScrollChatToBottom() = 0;
  // Called with every new document title (the page's one command channel).
  virtual void SetTitleChangedHandler(std::function<void(const QString& ATitle)> AHandler) = 0;
  // The widget to place in the window; nullptr for a page without one.
  virtual QWidget* Widget() = 0;
};

}  // namespace tarvok
