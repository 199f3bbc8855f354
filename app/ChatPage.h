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
  // The user clicked a button the page put on a bubble: AAction is "copy", "again" or
  // "edit", ATurn the stored turn the bubble shows. A page without such buttons never calls.
  virtual void SetBubbleActionHandler(std::function<void(const QString& AAction, int ATurn)> AHandler) {
    (void)AHandler;
  }
  // Runs a script that only decorates the page (tells the bubbles which turns they show, for
  // their buttons); the message HTML stays as it is. A page without decoration ignores it.
  virtual void DecoratePage(const std::string& AScript) { (void)AScript; }
  // Highlights every match of AText (none for an empty text) and moves to the next one, or
  // the previous one, after the current; AResult gets the current match's number (from 1)
  // and the count, 0 and 0 when nothing matches. A page that cannot search finds nothing.
  virtual void FindText(const QString& AText, bool ABackward, std::function<void(int AActive, int ATotal)> AResult) {
    (void)AText;
    (void)ABackward;
    if (AResult) AResult(0, 0);
  }
  // The widget to place in the window; nullptr for a page without one.
  virtual QWidget* Widget() = 0;
};

}  // namespace tarvok
