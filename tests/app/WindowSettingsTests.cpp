// Settings file, the three settings boxes, and the key and model lists.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QApplication>
#include <QFocusEvent>
#include <QTest>

#include "app/IniFile.h"
#include "app/ListFile.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "app/UpDown.h"
#include "core/ApiKeyStats.h"
#include "core/Files.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using SettingsTest = WindowTest;

TEST_F(SettingsTest, FirstStartWritesTheStartValuesWhileAFileWithoutThemReadsTheDefaults) {
  OpenWindow();
  TIniFile written(Path("config.ini"));
  EXPECT_EQ(written.ReadInteger("Settings", "MaxContextTokens", 0), 124000);
  EXPECT_EQ(written.ReadInteger("Settings", "MaxOutputTokens", 0), 500000);
  EXPECT_EQ(written.ReadInteger("Settings", "MaxInputTextLength", 0), 30020);
  EXPECT_EQ(written.ReadString("Settings", "MethodGenerate", ""), "generateContent");
  EXPECT_EQ(written.ReadString("Settings", "CreativityLevel", "?"), "0");
  EXPECT_EQ(written.ReadString("Settings", "LastSaveDir", "?"), "");
  EXPECT_EQ(written.ReadString("Settings", "StreamAnswers", "?"), "0");
  // Eight keys, in their order; the stream box's after the others.
  const std::string text = ReadText("config.ini");
  std::size_t at = 0;
  for (const char* key : {"MaxInputTextLength=", "MaxContextTokens=", "MaxOutputTokens=", "GeminiApiUrlBase=",
                          "MethodGenerate=", "CreativityLevel=", "LastSaveDir=", "StreamAnswers="}) {
    const auto found = text.find(key, at);
    ASSERT_NE(found, std::string::npos) << key;
    at = found;
  }
  CloseWindow();

  WriteText("config.ini",
            "; my notes\r\n[Other]\r\nA=1\r\n\r\n[Settings]\r\nMethodGenerate=generateContent\r\nStreamAnswers=1\r\n");
  OpenWindow();
  EXPECT_TRUE(Form().chkStreamAnswers->isChecked());
  EXPECT_EQ(Dm().MaxContextTokens, 80000);
  EXPECT_EQ(Dm().MaxOutputTokens, 300000);
  EXPECT_EQ(Form().MaxLimKont->text(), "80000");
  CloseWindow();
  const std::string kept = ReadText("config.ini");
  EXPECT_EQ(kept.rfind("; my notes\r\n[Other]\r\nA=1\r\n", 0), 0u) << kept;
  EXPECT_NE(kept.find("MaxContextTokens=80000"), std::string::npos);
}

TEST_F(SettingsTest, CreativityLevelFromTheFile) {
  struct {
    const char* Level;
    bool Message;
    const char* Shown;
    double Temperature;
    int TopK;
    double TopP;
  } cases[] = {
      {"3", false, "3", 0.8, 25, 0.85},
      {"9", true, "0", 0.0, 1, 1.0},
      {"x", false, "0", 0.0, 1, 1.0},
      {"5", false, "5", 1.2, 100, 0.75},
  };
  for (const auto& c : cases) {
    WriteText("config.ini", std::string("[Settings]\r\nCreativityLevel=") + c.Level + "\r\n");
    Dialogs.Messages.clear();
    OpenWindow();
    EXPECT_EQ(Form().KreaEdit->text(), c.Shown) << c.Level;
    EXPECT_DOUBLE_EQ(Dm().Temperature, c.Temperature) << c.Level;
    EXPECT_EQ(Dm().TopK, c.TopK) << c.Level;
    EXPECT_DOUBLE_EQ(Dm().TopP, c.TopP) << c.Level;
    ASSERT_EQ(Dialogs.Messages.size(), c.Message ? 1u : 0u) << c.Level;
    if (c.Message) {
      EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgKreaRange);
    }
    CloseWindow();
  }
}

TEST_F(SettingsTest, TimeOutBox) {
  OpenWindow();
  struct {
    const char* Typed;
    bool Message;
    const char* Shown;
    int TimeOut1;
  } cases[] = {
      {"61", true, "8", 480}, {"0", true, "8", 480}, {"-1", true, "8", 480},
      {"abc", false, "abc", 480}, {"-", false, "-", 480}, {"", false, "", 480},
      {"15", false, "15", 900}, {"60", false, "60", 3600}, {"1", false, "1", 60},
  };
  for (const auto& c : cases) {
    Form().TimeOutEdit->setText("7");
    Dialogs.Messages.clear();
    Form().TimeOutEdit->setText(c.Typed);
    EXPECT_EQ(Form().TimeOutEdit->text(), c.Shown) << c.Typed;
    EXPECT_EQ(Dm().TimeOut1, c.TimeOut1) << c.Typed;
    ASSERT_EQ(Dialogs.Messages.size(), c.Message ? 1u : 0u) << c.Typed;
    if (c.Message) {
      EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgTimeOutRange) << c.Typed;
    }
  }
  // The down arrow from 1 reaches 0, which is refused the same way.
  Form().TimeOutEdit->setText("1");
  Dialogs.Messages.clear();
  Form().UpDown2->StepBy(-1);
  EXPECT_EQ(Form().TimeOutEdit->text(), "8");
  EXPECT_EQ(Dialogs.Messages.size(), 1u);
}

TEST_F(SettingsTest, ContextBoxTakesAnyIntegerAndRefusesOtherText) {
  OpenWindow();
  Form().MaxLimKont->setText("-5");
  EXPECT_EQ(Dm().MaxContextTokens, -5);
  EXPECT_TRUE(Dialogs.Messages.empty());
  Form().MaxLimKont->setText("12a");
  EXPECT_EQ(Dm().MaxContextTokens, -5);
  EXPECT_EQ(Form().MaxLimKont->text(), "12a");
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgMaxLimKontInvalid);
}

TEST_F(SettingsTest, EnterAddsANewKeyOnceAndIgnoresCaseVariants) {
  WriteText("Keys.txt", "AbcKey\r\n");
  OpenWindow();
  auto enter = [this](const QString& AText) {
    Form().editApiKey->setEditText(AText);
    QTest::keyClick(Form().editApiKey->lineEdit(), Qt::Key_Return);
  };
  enter("abckey");
  EXPECT_EQ(Form().editApiKey->count(), 1);
  EXPECT_EQ(ReadText("Keys.txt"), "AbcKey\r\n");
  enter("NewKey");
  EXPECT_EQ(Form().editApiKey->count(), 2);
  EXPECT_EQ(ReadText("Keys.txt"), "AbcKey\r\nNewKey\r\n");
}

TEST_F(SettingsTest, ACaseVariantTypedIntoAListBoxStaysAsTyped) {
  WriteText("Keys.txt", "AbcKey\r\nOther\r\n");
  WriteText("Models.txt", "Gemini-Pro\r\ngemini-flash\r\n");
  OpenWindow();
  struct {
    QComboBox* Box;
    const char* Typed;
  } cases[] = {{Form().editApiKey, "abckey"}, {Form().cbModels, "gemini-pro"}};
  for (const auto& c : cases) {
    c.Box->setCurrentIndex(1);
    c.Box->lineEdit()->clear();
    QTest::keyClicks(c.Box->lineEdit(), c.Typed);
    EXPECT_EQ(c.Box->currentText(), c.Typed) << "no completion in other letter case";
    QTest::keyClick(c.Box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(c.Box->currentText(), c.Typed) << "Enter selects no other entry";
    EXPECT_EQ(c.Box->currentIndex(), 1) << c.Typed;
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(c.Box->lineEdit(), &leave);
    EXPECT_EQ(c.Box->currentText(), c.Typed) << "leaving the box selects no other entry";
    EXPECT_EQ(c.Box->count(), 2) << c.Typed;
  }
}

TEST_F(SettingsTest, DeletingAModelAsksFirstAndNothingHappensForAnUnknownText) {
  OpenWindow();
  Form().cbModels->setEditText("not-a-model");
  Form().N8->trigger();
  EXPECT_TRUE(Dialogs.Questions.empty());
  EXPECT_EQ(Form().cbModels->count(), 3);

  Form().cbModels->setEditText("GEMINI-2.5-FLASH");
  Dialogs.YesNoAnswers = {false};
  Form().N8->trigger();
  EXPECT_EQ(Form().cbModels->count(), 3);
  Dialogs.YesNoAnswers = {true};
  Form().N8->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 2u);
  EXPECT_EQ(S(Dialogs.Questions[1].Text), ui::kAskDeleteModel);
  EXPECT_EQ(ReadText("Models.txt"), "gemini-2.5-pro\r\ngemini-2.5-flash-lite\r\n");
  EXPECT_EQ(Form().cbModels->currentText(), "GEMINI-2.5-FLASH") << "the shown text stays";
}

TEST_F(SettingsTest, CountFollowsKeyModelAndTheCliBox) {
  WriteText("Keys.txt", "k1\r\n");
  IncrementRequestCount("k1", "gemini-2.5-flash");
  for (int i = 0; i < 3; ++i) IncrementRequestCount("GeminiCLI", "gemini-2.5-flash");
  OpenWindow();
  Form().cbModels->setCurrentIndex(1);
  EXPECT_EQ(Form().CountLabel->text(), "1");
  {
    const QSignalBlocker block(Form().GeminiCliCheckBox);  // the box's own check is not under test here
    Form().GeminiCliCheckBox->setChecked(true);
  }
  Form().cbModels->setCurrentIndex(0);
  Form().cbModels->setCurrentIndex(1);
  EXPECT_EQ(Form().CountLabel->text(), "3");
}

TEST_F(SettingsTest, AListFileThatCannotBeReadIsLeftAloneAndALinkStaysALink) {
  namespace fs = std::filesystem;
  WriteText("lists/models.txt", "m1\r\n");
  fs::create_symlink("lists/models.txt", Path("Models.txt"));
  fs::create_symlink("lists/keys.txt", Path("Keys.txt"));  // its target is not there yet
  OpenWindow();
  EXPECT_EQ(Form().cbModels->count(), 1);
  Form().cbModels->setEditText("m2");
  QTest::keyClick(Form().cbModels->lineEdit(), Qt::Key_Return);
  Form().editApiKey->setEditText("k1");
  QTest::keyClick(Form().editApiKey->lineEdit(), Qt::Key_Return);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Path("Models.txt"))));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Path("Keys.txt"))));
  EXPECT_EQ(ReadText("lists/models.txt"), "m1\r\nm2\r\n");
  EXPECT_EQ(ReadText("lists/keys.txt"), "k1\r\n");
  EXPECT_TRUE(Dialogs.Messages.empty());
  CloseWindow();

  fs::remove(Path("Keys.txt"));
  fs::create_directory(Path("Keys.txt"));  // there, but no list to read
  OpenWindow();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_TRUE(Dialogs.Messages[0].startsWith(Q(ui::kMsgListReadFailed) + "Keys.txt: ")) << S(Dialogs.Messages[0]);
  EXPECT_EQ(Status(), ui::kStatusNewChat) << "the start-up goes on";
  Form().editApiKey->setEditText("k2");
  QTest::keyClick(Form().editApiKey->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(Form().editApiKey->count(), 1) << "the box takes the key";
  EXPECT_TRUE(fs::is_directory(Path("Keys.txt")));
  EXPECT_TRUE(fs::is_empty(Path("Keys.txt")));
  EXPECT_EQ(Dialogs.Messages.size(), 2u) << "the user is told the file was not written";
  EXPECT_TRUE(Dialogs.Errors.empty());
}

TEST(ListFileTest, ReadsAndWritesBackInTheEncodingOfItsByteOrderMark) {
  QTemporaryDir dir;
  const auto path = std::filesystem::path(dir.path().toStdString()) / "Keys.txt";
  struct {
    const char* Name;
    std::string Bytes;
    TListEncoding Encoding;
  } cases[] = {
      {"utf-8 bom", std::string("\xEF\xBB\xBF") + "ключ\r\nb\r\n", TListEncoding::Utf8Bom},
      {"utf-16le", std::string("\xFF\xFE" "a\0\r\0\n\0" "b\0\r\0\n\0", 14), TListEncoding::Utf16LE},
      {"utf-16be", std::string("\xFE\xFF" "\0a\0\r\0\n\0b\0\r\0\n", 14), TListEncoding::Utf16BE},
      {"legacy", std::string("\xEA\xEB\xFE\xF7\r\nb\r\n"), TListEncoding::Legacy},
  };
  for (const auto& c : cases) {
    WriteFileAtomic(path, c.Bytes);
    TListFile list;
    ASSERT_TRUE(LoadListFile(path, list)) << c.Name;
    EXPECT_EQ(list.Encoding, c.Encoding) << c.Name;
    ASSERT_EQ(list.Lines.size(), 2u) << c.Name;
    EXPECT_EQ(list.Lines[1], "b") << c.Name;
    if (c.Encoding != TListEncoding::Utf16LE && c.Encoding != TListEncoding::Utf16BE) {
      EXPECT_EQ(list.Lines[0], "ключ") << c.Name;
    }
    SaveListFile(path, list);
    EXPECT_EQ(*ReadWholeFile(path), c.Bytes) << c.Name;
  }
}

}  // namespace
}  // namespace tarvok
