// "Загрузить список моделей" against the emulator, whose list comes in pages of three.
#include <QAction>
#include <QComboBox>
#include <QLabel>

#include "app/QtText.h"
#include "app/UiTexts.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

class ModelListTest : public WindowTest {
 protected:
  std::vector<std::string> Models() {
    std::vector<std::string> out;
    for (int i = 0; i < Form().cbModels->count(); ++i) out.push_back(S(Form().cbModels->itemText(i)));
    return out;
  }
  void LoadAndWait() {
    Form().N21->trigger();
    ASSERT_TRUE(WaitFor([this] { return Form().N21->isEnabled(); }));
  }
};

TEST_F(ModelListTest, NewGeneratingModelsFollowTheUsersEntriesInTheServicesOrder) {
  UseEmulator();
  WriteText("Models.txt", "my-model\r\nGEMINI-2.5-FLASH\r\n");
  OpenWindow();
  LoadAndWait();

  const auto requests = Emulator.Requests();
  ASSERT_EQ(requests.size(), 3u) << "seven models, three a page";
  EXPECT_EQ(requests[0].Method, "GET");
  EXPECT_EQ(requests[0].Path, "/v1beta/models");
  EXPECT_EQ(requests[0].Query, "key=test-key&pageSize=1000");
  EXPECT_EQ(requests[1].Query, "key=test-key&pageSize=1000&pageToken=page-3");
  EXPECT_EQ(requests[2].Query, "key=test-key&pageSize=1000&pageToken=page-6");

  // The embedding model does not generate content; a name differing only in case is there already.
  const std::vector<std::string> want = {"my-model",           "GEMINI-2.5-FLASH",       "gemini-2.5-pro",
                                         "gemini-2.5-flash-lite", "gemini-2.5-flash-image", "gemini-3-pro-preview",
                                         "gemma-3-27b-it"};
  EXPECT_EQ(Models(), want);
  EXPECT_EQ(ReadText("Models.txt"),
            "my-model\r\nGEMINI-2.5-FLASH\r\ngemini-2.5-pro\r\ngemini-2.5-flash-lite\r\ngemini-2.5-flash-image\r\n"
            "gemini-3-pro-preview\r\ngemma-3-27b-it\r\n");
  EXPECT_EQ(Status(), "Список моделей загружен, добавлено: 5");
  EXPECT_EQ(S(Form().cbModels->currentText()), "my-model") << "the model shown stays";

  Form().cbModels->setEditText("gemma-3-27b-it");
  EXPECT_EQ(S(Form().ContextChatTokensLabel->toolTip()), "gemma-3-27b-it: запрос до 131072 токенов, ответ до 8192");
  Form().cbModels->setEditText("my-model");
  EXPECT_EQ(S(Form().ContextChatTokensLabel->toolTip()), "");

  LoadAndWait();
  EXPECT_EQ(Models(), want) << "nothing twice";
  EXPECT_EQ(Status(), "Список моделей загружен, добавлено: 0");
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(ModelListTest, AFailureIsShownAsARequestFailureAndChangesNothing) {
  UseEmulator();
  OpenWindow();
  const std::string before = ReadText("Models.txt");
  Emulator.Stop();
  LoadAndWait();
  EXPECT_EQ(Status(), ui::kStatusModelsFailed);
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]).rfind("Исключение: TTransportError - ", 0), 0u) << S(Dialogs.Messages[0]);
  EXPECT_EQ(ReadText("Models.txt"), before);
  EXPECT_EQ(Models().size(), 3u);
}

TEST_F(ModelListTest, WithoutAKeyNothingIsAsked) {
  UseEmulator("");
  OpenWindow();
  Form().N21->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgEnterApiKey);
  EXPECT_TRUE(Emulator.Requests().empty());
}

}  // namespace
}  // namespace tarvok
