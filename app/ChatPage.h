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
  // Back to the blank page; the template is written again by the next append.
  virtual void ResetChatView() = 0;
  // Appends a fragment at the end of the chat container (loading the template first
  // when needed). Dropped while a page without the container (the help page) is shown.
  virtual void AppendChatHtml(const std::string& AHtml) = 0;
  virtual void ExecutePageScript(const std::string& AScript) = 0;
  virtual void ScrollChatBy(int ADeltaY) = 0;
  virtual void ScrollChatToBottom() = 0;
  // Called with every new document title (the page's one command channel).
  virtual void SetTitleChangedHandler(std::function<void(const QString& ATitle)> AHandler) = 0;
  // Called after the pane lost its document (its renderer ended) and went back to the
  // blank page: the owner puts the chat back. A page that cannot lose it never calls.
  virtual void SetPageLostHandler(std::function<void()> AHandler) { (void)AHandler; }
  // Shows a local HTML file (the key-help page) instead of the chat; the template
  // counts as loaded until the next reset.
  virtual void ShowLocalFile(const QString& AFilePath) = 0;
  // The address the pane shows (or is about to show).
  virtual QString CurrentUrl() const = 0;
  // The widget to place in the window; nullptr for a page without one.
  virtual QWidget* Widget() = 0;
};

}  // namespace tarvok
