// Desktop conveniences in the real window: files dropped or pasted are attached with the
// attachments panel's rules, the chat is exported, and the usual shortcuts work.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include "app/AttachmentsPanel.h"
#include "app/DesktopActions.h"
#include "app/DesktopTexts.h"
#include "app/QtText.h"
#include "app/WebChatPage.h"
#include "app/UiTexts.h"
#include "core/Files.h"
#include "storage/Base64.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using DesktopTest = WindowTest;
namespace fs = std::filesystem;

QMimeData* FilesData(const std::vector<std::string>& APaths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const auto& p : APaths) urls << QUrl::fromLocalFile(Q(p));
  data->setUrls(urls);
  return data;
}

// As the window system delivers a drag that ends with a drop on AWidget.
bool DropOn(QWidget* AWidget, const QMimeData* AData) {
  const QPointF at(5, 5);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, AData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(AWidget, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, AData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(AWidget, &drop);
  return drop.isAccepted();
}

TEST_F(DesktopTest, DroppedFilesFollowTheAttachRulesOnEveryTargetAndFoldersAreRefused) {
  OpenWindow();
  fs::create_directories(Path("pics"));
  const std::string text = MakeFile("notes.txt", 40), picture = MakeFile("a.png", 10), archive = MakeFile("x.zip", 1);
  struct {
    const char* Name;
    QWidget* Target;
  } targets[] = {{"chat pane", Form().WebBrowser1},
                 {"prompt box", Form().memoPrompt->viewport()},
                 {"files list", Form().ListBox1->viewport()}};
  for (const auto& t : targets) {
    Form().Attachments().ClearInputs();
    Dialogs.Messages.clear();
    // The same file twice (once in another letter case), an archive and a folder.
    std::unique_ptr<QMimeData> data(FilesData({text, picture, archive, text.substr(0, text.size() - 3) + "TXT",
                                               Path("pics").string()}));
    ASSERT_TRUE(DropOn(t.Target, data.get())) << t.Name;
    EXPECT_EQ(Form().FlbFiles1, (std::vector<std::string>{text, picture})) << t.Name;
    EXPECT_EQ(Form().ListBox1->count(), 2) << t.Name;
    EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (2/16)") << t.Name;
    EXPECT_TRUE(Form().ContextChatTokensLabel->text().startsWith("0 + ")) << t.Name;
    ASSERT_EQ(Dialogs.Messages.size(), 2u) << t.Name;
    EXPECT_EQ(S(Dialogs.Messages[0]), std::string(ui::kMsgFolderStart) + "pics" + ui::kMsgFolderEnd);
    EXPECT_EQ(S(Dialogs.Messages[1]), std::string(ui::kMsgUnsupportedStart) + "x.zip" + ui::kMsgUnsupportedEnd);
    EXPECT_TRUE(Form().memoPrompt->toPlainText().isEmpty()) << t.Name << ": no path typed into the prompt";
  }

  // The limit: with 15 attached, a drop of three adds one and says so once.
  std::vector<std::string> many;
  for (int i = 0; i < 15; ++i) many.push_back(MakeFile("m" + std::to_string(i) + ".md", 1));
  Form().Attachments().SetFiles({});
  std::unique_ptr<QMimeData> first(FilesData(many));
  DropOn(Form().ListBox1->viewport(), first.get());
  std::unique_ptr<QMimeData> second(FilesData({text, picture, MakeFile("late.txt", 1)}));
  Dialogs.Messages.clear();
  DropOn(Form().memoPrompt->viewport(), second.get());
  EXPECT_EQ(Form().FlbFiles1.size(), 16u);
  EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (16/16)");
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgFileLimitStopped);

  // A text drag is not ours: the prompt box takes it as before.
  QMimeData words;
  words.setText("dragged words");
  Form().Attachments().ClearInputs();
  DropOn(Form().memoPrompt->viewport(), &words);
  EXPECT_TRUE(Form().FlbFiles1.empty());
}

TEST_F(DesktopTest, AFileDroppedOnTheRealBrowserViewIsAttached) {
  OpenWindowWith(std::make_unique<WebChatPage>());
  const std::string file = MakeFile("answer.md", 3);
  std::unique_ptr<QMimeData> data(FilesData({file}));
  // The engine's own inner widget is what the window system hands the drop to.
  QWidget* inner = Form().WebBrowser1->focusProxy() ? Form().WebBrowser1->focusProxy() : Form().WebBrowser1;
  ASSERT_TRUE(DropOn(inner, data.get()));
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
}

TEST_F(DesktopTest, CtrlVAttachesFilesSavesAPictureAsPngAndPastesTextAsBefore) {
  OpenWindow();
  const std::string file = MakeFile("doc.pdf", 5);
  QImage image(7, 3, QImage::Format_ARGB32);
  image.fill(QColor(200, 30, 60));

  auto paste = [&] { QTest::keyClick(Form().memoPrompt, Qt::Key_V, Qt::ControlModifier); };
  QGuiApplication::clipboard()->setMimeData(FilesData({file}));
  paste();
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
  EXPECT_TRUE(Form().memoPrompt->toPlainText().isEmpty());

  QGuiApplication::clipboard()->setImage(image);
  paste();
  ASSERT_EQ(Form().FlbFiles1.size(), 2u);
  const fs::path saved = Form().FlbFiles1[1];
  EXPECT_EQ(saved.parent_path(), Path("attachments"));
  EXPECT_EQ(saved.extension(), ".png");
  EXPECT_TRUE(saved.filename().string().starts_with("paste_20")) << saved << ": a time-stamped name";
  const QImage back(Q(saved.string()));
  ASSERT_FALSE(back.isNull()) << "a real PNG";
  EXPECT_EQ(back.size(), image.size());
  EXPECT_EQ(back.pixelColor(2, 1), QColor(200, 30, 60));
  EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (2/16)");
  paste();  // a second picture in the same millisecond gets a name of its own
  ASSERT_EQ(Form().FlbFiles1.size(), 3u);
  EXPECT_NE(Form().FlbFiles1[2], Form().FlbFiles1[1]);

  QGuiApplication::clipboard()->setText("plain words");
  paste();
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "plain words");
  EXPECT_EQ(Form().FlbFiles1.size(), 3u);
}

// Spreadsheet cells come as their text and a picture of them: the text is what the user
// copied. A picture with nothing but blanks beside it is still attached.
TEST_F(DesktopTest, CtrlVPastesTheTextThatComesWithAPicture) {
  OpenWindow();
  QImage cells(12, 4, QImage::Format_ARGB32);
  cells.fill(Qt::white);
  auto paste = [&] { QTest::keyClick(Form().memoPrompt, Qt::Key_V, Qt::ControlModifier); };

  auto* both = new QMimeData;
  both->setImageData(cells);
  both->setText("A1\tB1\nA2\tB2");
  QGuiApplication::clipboard()->setMimeData(both);
  paste();
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "A1\tB1\nA2\tB2");
  EXPECT_TRUE(Form().FlbFiles1.empty());
  EXPECT_FALSE(fs::exists(Path("attachments")));

  Form().memoPrompt->clear();
  auto* blank = new QMimeData;
  blank->setImageData(cells);
  blank->setText(" \n");
  QGuiApplication::clipboard()->setMimeData(blank);
  paste();
  ASSERT_EQ(Form().FlbFiles1.size(), 1u);
  EXPECT_EQ(fs::path(Form().FlbFiles1[0]).extension(), ".png");
  EXPECT_TRUE(Form().memoPrompt->toPlainText().trimmed().isEmpty());
}

TEST_F(DesktopTest, ExportWritesMarkdownWithPicturesBesideItOrOnePageWithoutScripts) {
  UseEmulator();
  Emulator.Enqueue(TextReply("**Ответ** готов", 5, 7));
  OpenWindow();
  auto* actions = Form().findChild<TDesktopActions*>();
  ASSERT_NE(actions, nullptr);
  ASSERT_TRUE(Form().ListBox2PopupMenu->actions().contains(actions->ExportChat));
  EXPECT_EQ(S(actions->ExportChat->text()), ui::kMenuExportChat);

  actions->ExportChat->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgExportEmpty);
  EXPECT_TRUE(Dialogs.SaveFileCalls.empty());

  SendAndWait("Вопрос");
  const std::string png = "\x89PNG\r\n\x1a\npicture bytes";
  THistoryItem image;
  image.Role = "model";
  image.Parts.push_back({TPartType::ptInlineData, {}, "image/png", Base64Encode(png), {}});
  Dm().ChatHistory().push_back(image);

  fs::create_directories(Path("out"));
  Dialogs.AnswerSaveWith(Q(Path("out/my chat.md").string()));
  actions->ExportChat->trigger();
  ASSERT_EQ(Dialogs.SaveFileCalls.size(), 1u);
  EXPECT_EQ(S(Dialogs.SaveFileCalls[0].Filter), ui::kExportFilter);
  EXPECT_TRUE(Dialogs.SaveFileCalls[0].FileName.endsWith(".md"));
  EXPECT_TRUE(Dialogs.SaveFileCalls[0].FileName.startsWith("Вопрос_20")) << "named after the chat's file";
  const std::string md = ReadText("out/my chat.md");
  EXPECT_NE(md.find("## 👤 Пользователь"), std::string::npos);
  EXPECT_NE(md.find("Вопрос"), std::string::npos);
  EXPECT_NE(md.find("**Ответ** готов"), std::string::npos);
  EXPECT_NE(md.find("![my chat_01.png](<my chat_01.png>)"), std::string::npos);
  EXPECT_EQ(ReadText("out/my chat_01.png"), png) << "the picture's bytes, decoded";
  EXPECT_EQ(Status(), std::string(ui::kStatusExported) + Path("out/my chat.md").string());

  Dialogs.AnswerSaveWith(Q(Path("out/page.html").string()));
  Dialogs.SaveFilterAnswers.push_back(ui::kExportFilterHtml);
  actions->ExportChat->trigger();
  EXPECT_EQ(Dialogs.SaveFileCalls[1].Dir, Q(Path("out").string())) << "the last export's folder";
  const std::string html = ReadText("out/page.html");
  EXPECT_NE(html.find("<strong>Ответ</strong> готов"), std::string::npos);
  EXPECT_NE(html.find("data:image/png;base64," + Base64Encode(png)), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("out/page_01.png"))) << "the page keeps its pictures inside";

  // A folder that cannot be written: the user is told, nothing is left behind.
  Dialogs.Messages.clear();
  Dialogs.AnswerSaveWith(Q(Path("missing/dir/x.md").string()));
  actions->ExportChat->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_TRUE(S(Dialogs.Messages[0]).starts_with(ui::kMsgExportFailed));
}

// The type chosen in the dialog decides the format; a name typed without a suffix gets
// that type's; pictures never replace files already beside the export.
TEST_F(DesktopTest, ExportFollowsTheChosenTypeAndKeepsExistingFiles) {
  UseEmulator();
  Emulator.Enqueue(TextReply("**Ответ**", 5, 7));
  OpenWindow();
  auto* actions = Form().findChild<TDesktopActions*>();
  ASSERT_NE(actions, nullptr);
  SendAndWait("Вопрос");
  const std::string png = "\x89PNG\r\n\x1a\nnew picture";
  THistoryItem image;
  image.Role = "model";
  image.Parts.push_back({TPartType::ptInlineData, {}, "image/png", Base64Encode(png), {}});
  Dm().ChatHistory().push_back(image);
  fs::create_directories(Path("out"));

  const struct {
    const char* Name;
    const char* Typed;
    const char* Filter;  // null: the one the dialog showed first
    const char* Written;
    bool Html;
  } cases[] = {
      {"HTML chosen, no suffix typed", "out/a", ui::kExportFilterHtml, "out/a.html", true},
      {"Markdown chosen, no suffix typed", "out/b", ui::kExportFilterMarkdown, "out/b.md", false},
      {"HTML chosen, another suffix typed", "out/c.md", ui::kExportFilterHtml, "out/c.md", true},
      {"Markdown chosen, .html typed", "out/d.html", ui::kExportFilterMarkdown, "out/d.html", false},
      {"nothing changed in the dialog", "out/e", nullptr, "out/e.md", false},
  };
  for (const auto& c : cases) {
    Dialogs.AnswerSaveWith(Q(Path(c.Typed).string()));
    if (c.Filter) Dialogs.SaveFilterAnswers.push_back(c.Filter);
    actions->ExportChat->trigger();
    EXPECT_EQ(S(Dialogs.SaveFileCalls.back().SelectedFilter), ui::kExportFilterMarkdown) << c.Name;
    EXPECT_EQ(Dialogs.SaveFileCalls.back().DefaultSuffix, "md") << c.Name;
    ASSERT_TRUE(fs::exists(Path(c.Written))) << c.Name;
    const std::string text = ReadText(c.Written);
    EXPECT_EQ(text.starts_with("<!DOCTYPE html>"), c.Html) << c.Name;
    EXPECT_EQ(text.find("**Ответ**") != std::string::npos, !c.Html) << c.Name;
    if (std::string(c.Typed) != c.Written) EXPECT_FALSE(fs::exists(Path(c.Typed))) << c.Name;
  }

  // The suffix added after the dialog could name a file the dialog did not ask about: asked
  // here, and No leaves it alone.
  Dialogs.Questions.clear();
  Dialogs.AnswerSaveWith(Q(Path("out/a").string()));
  Dialogs.SaveFilterAnswers.push_back(ui::kExportFilterHtml);
  WriteText("out/a.html", "mine");
  actions->ExportChat->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 1u);
  EXPECT_EQ(S(Dialogs.Questions[0].Text),
            std::string(ui::kAskReplaceExportStart) + "a.html" + ui::kAskReplaceExportEnd);
  EXPECT_EQ(ReadText("out/a.html"), "mine");

  // Files of an earlier export (or anyone's) beside the target stay as they are.
  WriteText("out/pic_01.png", "keep me");
  Dialogs.AnswerSaveWith(Q(Path("out/pic.md").string()));
  actions->ExportChat->trigger();
  EXPECT_EQ(ReadText("out/pic_01.png"), "keep me");
  EXPECT_EQ(ReadText("out/pic_02.png"), png);
  EXPECT_NE(ReadText("out/pic.md").find("![pic_02.png](<pic_02.png>)"), std::string::npos);

  // A name a viewer would misread ('#', '%') still links its picture.
  Dialogs.AnswerSaveWith(Q(Path("out/C# 100%.md").string()));
  actions->ExportChat->trigger();
  EXPECT_EQ(ReadText("out/C# 100%_01.png"), png);
  EXPECT_NE(ReadText("out/C# 100%.md").find("(<C%23 100%25_01.png>)"), std::string::npos);
}

TEST_F(DesktopTest, ShortcutsNewChatSearchAttachAndKeyHelp) {
  UseEmulator();
  WriteText("AddKey.html", "<html><body>key help</body></html>");
  Emulator.Enqueue(TextReply("ok", 1, 1));
  OpenWindow();
  QApplication::setActiveWindow(&Form());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  EXPECT_EQ(QApplication::focusWidget(), Form().memoPrompt) << "a new user types a prompt first";

  QTest::keyClick(Form().memoPrompt, Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), Form().Edit1);

  QTest::keyClick(Form().Edit1, Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(Dialogs.OpenFileCalls.size(), 1u);
  EXPECT_EQ(S(Dialogs.OpenFileCalls[0].Title), ui::kOpenFilesTitle);

  SendAndWait("first");
  ASSERT_FALSE(Form().FCurrentChatFile.empty());
  QTest::keyClick(Form().memoPrompt, Qt::Key_N, Qt::ControlModifier);
  EXPECT_TRUE(Form().FCurrentChatFile.empty());
  EXPECT_TRUE(Dm().ChatHistory().empty());
  EXPECT_EQ(Form().ListBox2->item(0)->text(), "<Новый чат>");

  QTest::keyClick(Form().memoPrompt, Qt::Key_F1);
  const auto shown = Page().Texts(RecordingChatPage::OpKind::ShowFile);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(fs::path(shown[0]), Path("AddKey.html"));
}

}  // namespace
}  // namespace tarvok
