// The attachments panel and the context-token label.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/QtDialogs.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/TextAttachment.h"
#include "core/TokenEstimate.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using AttachmentsTest = WindowTest;

QStringList Paths(const std::vector<std::string>& AFiles) {
  QStringList out;
  for (const auto& f : AFiles) out << Q(f);
  return out;
}

TEST_F(AttachmentsTest, AddingStopsAtTheLimitSkipsDuplicatesAndRefusesUnknownTypes) {
  OpenWindow();
  std::vector<std::string> first;
  for (int i = 0; i < 10; ++i) first.push_back(MakeFile("f" + std::to_string(i) + ".txt", 1));
  Dialogs.OpenFilesAnswers.push_back(Paths(first));
  Form().btnAddFile1->click();
  ASSERT_EQ(Dialogs.OpenFileCalls.size(), 1u);
  EXPECT_EQ(S(Dialogs.OpenFileCalls[0].Title), ui::kOpenFilesTitle);
  EXPECT_EQ(Dialogs.OpenFileCalls[0].Filter, ToQtFileFilter(Q(ui::kOpenFilesFilter)));
  EXPECT_TRUE(Dialogs.Messages.empty());

  // A duplicate in another letter case, an archive and a .flv, then eight new files.
  std::vector<std::string> second = {first[0].substr(0, first[0].size() - 4) + ".TXT", MakeFile("pack.zip", 1),
                                     MakeFile("clip.flv", 1)};
  for (int i = 0; i < 8; ++i) second.push_back(MakeFile("g" + std::to_string(i) + ".png", 1));
  Dialogs.OpenFilesAnswers.push_back(Paths(second));
  Form().N1->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 3u);
  EXPECT_EQ(S(Dialogs.Messages[0]), std::string(ui::kMsgUnsupportedStart) + "pack.zip" + ui::kMsgUnsupportedEnd);
  EXPECT_EQ(S(Dialogs.Messages[1]), std::string(ui::kMsgUnsupportedStart) + "clip.flv" + ui::kMsgUnsupportedEnd);
  EXPECT_EQ(S(Dialogs.Messages[2]), ui::kMsgFileLimitStopped);
  EXPECT_NE(S(Dialogs.Messages[2]).find("\xE2\x80\x93"), std::string::npos) << "the dash is U+2013";
  ASSERT_EQ(Form().FlbFiles1.size(), 16u);
  EXPECT_EQ(Form().FlbFiles1[10], second[3]);
  EXPECT_EQ(Form().FlbFiles1[15], second[8]);
  EXPECT_EQ(Form().ListBox1->count(), 16);
  EXPECT_EQ(Form().ListBox1->item(15)->text(), "g5.png");
  EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (16/16)");

  Dialogs.Messages.clear();
  Form().btnAddFile1->click();
  EXPECT_EQ(Dialogs.OpenFileCalls.size(), 2u) << "no dialog at the limit";
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), std::string(ui::kMsgFileLimitStart) + "16).");
}

TEST_F(AttachmentsTest, RemoveOneAndClearAllWithConfirmation) {
  OpenWindow();
  const std::vector<std::string> files = {MakeFile("a.txt", 1), MakeFile("b.txt", 1), MakeFile("c.txt", 1)};
  Dialogs.OpenFilesAnswers.push_back(Paths(files));
  Form().btnAddFile1->click();

  Form().ListBox1->clearSelection();
  Form().N3->trigger();
  EXPECT_EQ(Form().FlbFiles1.size(), 3u) << "no selection, nothing removed";
  Form().ListBox1->setCurrentRow(2);
  Form().N3->trigger();
  EXPECT_EQ(Form().FlbFiles1, (std::vector<std::string>{files[0], files[1]}));
  EXPECT_EQ(Form().ListBox1->count(), 2);

  Form().memoPrompt->setPlainText("typed");
  Dialogs.YesNoAnswers = {false};
  Form().btnClearFiles1->click();
  EXPECT_EQ(Form().FlbFiles1.size(), 2u);
  Dialogs.YesNoAnswers = {true};
  Form().N5->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 2u);
  EXPECT_EQ(S(Dialogs.Questions[1].Text), ui::kAskClearFiles);
  EXPECT_TRUE(Form().FlbFiles1.empty());
  EXPECT_EQ(Form().ListBox1->count(), 0);
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "") << "clearing the files empties the prompt too";
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), "0");
}

TEST_F(AttachmentsTest, ContextLabelShowsTheEstimateOnlyForAPromptOrFiles) {
  OpenWindow();
  Dm().FActualHistoryTokens = 100;
  Form().memoPrompt->setPlainText("   ");
  Form().UpdateContextTokensLabel();
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), "100");

  const std::string file = MakeFile("code.py", 400, 'x');
  Dialogs.OpenFilesAnswers.push_back(Paths({file}));
  Form().btnAddFile1->click();
  TContentPart text{TPartType::ptText, "   ", {}, {}, {}};
  TContentPart attached{TPartType::ptInlineData, SanitizeTextFile(file), "text/x-python", {}, file};
  const int estimate = CountTokens({text, attached});
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), QString("100 + %1").arg(estimate));

  // Typing restarts the one-second delay; its tick recounts.
  Form().ListBox1->clear();
  Form().FlbFiles1.clear();
  Form().ContextChatTokensLabel->setText("stale");
  QTest::keyClicks(Form().memoPrompt, "hello");
  EXPECT_TRUE(Form().TokenUpdateTimer->isActive());
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), "stale") << "no recount on each key";
  Form().TokenUpdateTimerTimer();
  EXPECT_FALSE(Form().TokenUpdateTimer->isActive());
  EXPECT_TRUE(Form().ContextChatTokensLabel->text().startsWith("100 + "));
}

TEST(DialogFilterTest, PairsBecomeQtFilters) {
  EXPECT_EQ(ToQtFileFilter("Text|*.txt;*.md|All|*.*"), "Text (*.txt *.md);;All (*)");
  EXPECT_EQ(ToQtFileFilter("Only|*.c"), "Only (*.c)");
  const QStringList filters = ToQtFileFilter(Q(ui::kOpenFilesFilter)).split(";;");
  ASSERT_EQ(filters.size(), 7);
  EXPECT_TRUE(filters[0].contains(" (*.jpg *.jpeg *.png ")) << filters[0].toStdString();
  EXPECT_TRUE(filters[6].endsWith(" (*)")) << filters[6].toStdString();
}

}  // namespace
}  // namespace tarvok
