// Names, paths and error texts in the window's own widgets: shown as written (never as
// markup) and without the bidirectional controls that make one name read as another.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>

#include "app/QtDialogs.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/DateTime.h"
#include "storage/ChatFile.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using ShownTextTest = WindowTest;

const std::string kRlo = "\u202E";
const std::string kImg = "<img src=x onerror=alert(1)>";
const std::string kSvg = "<svg onload=alert(1)>";

THistoryItem Turn(const std::string& ARole, const std::string& AText) {
  THistoryItem item;
  item.Role = ARole;
  item.Parts.push_back(TContentPart{TPartType::ptText, AText, {}, {}, {}});
  item.Timestamp = EncodeDateTime({2025, 1, 1, 12, 0, 0, 0});
  return item;
}

// What the list draws for its row (the entry itself keeps the stored name).
std::string Drawn(QListWidget* AList, int ARow) {
  const QModelIndex index = AList->model()->index(ARow, 0);
  auto* delegate = qobject_cast<QStyledItemDelegate*>(AList->itemDelegate());
  if (!delegate) return "no styled delegate";
  return S(delegate->displayText(index.data(Qt::DisplayRole), QLocale()));
}

int RowOf(QListWidget* AList, const std::string& AText) {
  for (int i = 0; i < AList->count(); ++i)
    if (S(AList->item(i)->text()) == AText) return i;
  return -1;
}

TEST_F(ShownTextTest, ChatAndPartNamesShowLiterallyInTheStatusLineAndTheLists) {
  const std::string chat = kImg + "_2025-01-01_120000.json";
  const std::string part = kImg + "_2025-01-01_120000_part_01_" + kSvg + ".json";
  const std::string spoofed = "invoice" + kRlo + "fdp_2025-02-01_120000.json";
  std::filesystem::create_directories(FDir / "chats" / "subchats");
  WriteChatFile((FDir / "chats" / chat).string(), {Turn("user", "q"), Turn("model", "a")});
  WriteChatFile((FDir / "chats" / "subchats" / part).string(), {Turn("user", "q2"), Turn("model", "a2")});
  WriteChatFile((FDir / "chats" / spoofed).string(), {Turn("user", "q3"), Turn("model", "a3")});
  OpenWindow();
  EXPECT_EQ(Form().StatusText->textFormat(), Qt::PlainText);

  // The chat opens on its last part; the status line names that file, tags and all.
  const int row = RowOf(Form().ListBox2, kImg);
  ASSERT_GE(row, 0);
  Form().ListBox2->setCurrentRow(row);
  EXPECT_EQ(Status(), std::string(ui::kStatusChatLoaded) + part);
  EXPECT_EQ(Drawn(Form().ListBox2, row), kImg);
  const int partRow = Form().GeminiListBox->count() - 1;
  EXPECT_NE(Drawn(Form().GeminiListBox, partRow).find(kSvg), std::string::npos) << Drawn(Form().GeminiListBox, partRow);

  // A right-to-left override is not drawn, in the list or in the status line.
  const int spoofedRow = RowOf(Form().ListBox2, "invoice" + kRlo + "fdp");
  ASSERT_GE(spoofedRow, 0);
  EXPECT_EQ(Drawn(Form().ListBox2, spoofedRow), "invoicefdp");
  Form().ListBox2->setCurrentRow(spoofedRow);
  EXPECT_EQ(Status(), std::string(ui::kStatusChatLoaded) + "invoicefdp_2025-02-01_120000.json");
}

TEST_F(ShownTextTest, AttachedFileNamesAreDrawnWithoutBidiControls) {
  OpenWindow();
  const std::string file = MakeFile("invoice" + kRlo + "fdp.txt", 1);
  Dialogs.OpenFilesAnswers.push_back({Q(file)});
  Form().btnAddFile1->click();
  ASSERT_EQ(Form().ListBox1->count(), 1);
  EXPECT_EQ(Drawn(Form().ListBox1, 0), "invoicefdp.txt");
}

// The real message boxes: each is read while it is open, then closed.
TEST(QtDialogsShownTextTest, MessageBoxesShowTheirTextAsPlainTextWithoutBidiControls) {
  TQtDialogs dialogs;
  const QString text = Q("<font color=red size=7>RED" + kRlo + ".zip</font>");
  const QString shown = Q("<font color=red size=7>RED.zip</font>");
  const struct {
    const char* Name;
    std::function<void()> Show;
  } cases[] = {
      {"message", [&] { dialogs.ShowMessage(text); }},
      {"error", [&] { dialogs.ShowError(text); }},
      {"question", [&] { dialogs.AskYesNo(text, QString(), Dialogs::Icon::Warning); }},
  };
  for (const auto& c : cases) {
    Qt::TextFormat format = Qt::AutoText;
    QString seen;
    bool closed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || closed) return;
      format = box->textFormat();
      seen = box->text();
      closed = true;
      box->reject();
    });
    poll.start(10);
    c.Show();
    EXPECT_TRUE(closed) << c.Name;
    EXPECT_EQ(format, Qt::PlainText) << c.Name;
    EXPECT_EQ(seen, shown) << c.Name;
  }
}

}  // namespace
}  // namespace tarvok
