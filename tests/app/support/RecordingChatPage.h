#pragma once
// An IChatPage that records what the window asks of the chat pane, in order.

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "app/ChatPage.h"

namespace tarvok {

class RecordingChatPage : public IChatPage {
 public:
  enum class OpKind { EnsureBase, Reset, Append, Script, ScrollBy, ScrollToBottom, ShowFile };
  struct Op {
    OpKind Kind;
    std::string Text;  // the fragment, the script or the file; the pixels for ScrollBy
  };

  std::vector<Op> Ops;

  void EnsureBaseHtmlLoaded() override { Ops.push_back({OpKind::EnsureBase, {}}); }
  void ResetChatView() override;
  void AppendChatHtml(const std::string& AHtml) override { Ops.push_back({OpKind::Append, AHtml}); }
  void ExecutePageScript(const std::string& AScript) override { Ops.push_back({OpKind::Script, AScript}); }
  void ScrollChatBy(int ADeltaY) override { Ops.push_back({OpKind::ScrollBy, std::to_string(ADeltaY)}); }
  void ScrollChatToBottom() override { Ops.push_back({OpKind::ScrollToBottom, {}}); }
  void SetTitleChangedHandler(std::function<void(const QString& ATitle)> AHandler) override {
    FTitleHandler = std::move(AHandler);
  }
  void ShowLocalFile(const QString& AFilePath) override;
  void SetPageLostHandler(std::function<void()> AHandler) override { FPageLostHandler = std::move(AHandler); }
  QString CurrentUrl() const override { return FUrl; }
  QWidget* Widget() override { return nullptr; }
  void SetBubbleActionHandler(std::function<void(const QString&, int)> AHandler) override {
    FBubbleActionHandler = std::move(AHandler);
  }
  // Decorations are kept apart from Ops: they leave the message HTML as it is.
  void DecoratePage(const std::string& AScript) override { Decorations.push_back(AScript); }
  std::vector<std::string> Decorations;
  // As the page would after the user clicked a bubble's button.
  void FireBubbleAction(const QString& AAction, int ATurn) {
    if (FBubbleActionHandler) FBubbleActionHandler(AAction, ATurn);
  }

  // As the page would report a new document title.
  void FireTitleChanged(const QString& ATitle) {
    if (FTitleHandler) FTitleHandler(ATitle);
  }
  bool HasTitleHandler() const { return static_cast<bool>(FTitleHandler); }
  // As the page would after its renderer ended: emptied, then the loss reported.
  void FirePageLost() {
    ResetChatView();
    if (FPageLostHandler) FPageLostHandler();
  }

  // The texts of the operations of one kind, in order.
  std::vector<std::string> Texts(OpKind AKind) const;
  // Every fragment appended since the last reset, joined.
  std::string ChatHtml() const;
  void Clear() { Ops.clear(); }

 private:
  std::function<void(const QString&)> FTitleHandler;
  std::function<void()> FPageLostHandler;
  std::function<void(const QString&, int)> FBubbleActionHandler;
  QString FUrl = QStringLiteral("about:blank");
};

}  // namespace tarvok
