// The CLI route on Windows: a gemini.cmd first on PATH answers as the CLI does (through the
// test child), run by cmd.exe from a private working folder under %TEMP%.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "CliTestSupport.h"
#include "WindowsTestSupport.h"
#include "cli/CliRequest.h"
#include "cli/PrivateFiles.h"
#include "core/CoreTexts.h"
#include "core/StopToken.h"
#include "core/Text.h"

namespace tarvok {
namespace {

using test::TTempDir;
namespace fs = std::filesystem;

TContentPart Text(const std::string& AText) {
  TContentPart p;
  p.Text = AText;
  return p;
}
TContentPart Inline(const std::string& AMime, const std::string& ABase64, const std::string& AFileName = "") {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = AMime;
  p.Base64Data = ABase64;
  p.FileName = AFileName;
  return p;
}
THistoryItem Turn(const std::string& ARole, TContentParts AParts) {
  THistoryItem t;
  t.Role = ARole;
  t.Parts = std::move(AParts);
  return t;
}

// The process environment's variable for the test's lifetime.
class TScopedVar {
 public:
  TScopedVar(const std::string& AName, const std::string& AValue) : FName(AName), FOld(test::GetEnvVar(AName)) {
    test::SetEnvVar(AName, AValue);
  }
  ~TScopedVar() { test::SetEnvVar(FName, FOld); }

 private:
  std::string FName, FOld;
};

// A folder's access list as text, for failure messages.
std::string AccessList(const fs::path& AFolder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(AFolder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return "<unreadable>";
  wchar_t* text = nullptr;
  std::string result = "<unconvertible>";
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
    result = PathToUtf8(fs::path(text));
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return result;
}

bool ProcessEnded(DWORD APid) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, APid);
  if (!process) return true;
  const bool ended = ::WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

// %TEMP% under a Cyrillic name, as for a user called Иван, and a gemini.cmd first on PATH.
class WindowsCliRun : public ::testing::Test {
 protected:
  WindowsCliRun()
      : FTemp(FRoot.Path() / PathFromUtf8("\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD")),
        FTempVar("TEMP", PathToUtf8(FTemp)),
        FTmpVar("TMP", PathToUtf8(FTemp)),
        FPath(FBin.Path()) {
    fs::create_directories(FTemp);
    FBin.Write("gemini.cmd", "@echo off\r\n" + test::TestChild() + " cli \"" + PathToUtf8(FRecord.Path()) + "\" %*\r\n");
  }
  void Output(const std::string& AText) { FRecord.Write("output", AText); }
  fs::path LastWorkDir() const { return PathFromUtf8(FRecord.Read("cwd")); }

  TTempDir FRoot, FBin, FRecord;  // made before %TEMP% changes: the batch file names them
  fs::path FTemp;
  TScopedVar FTempVar, FTmpVar;
  test::TPathPrefix FPath;
};

TEST_F(WindowsCliRun, TheConversationAndAttachmentsAreWrittenPrivatelyAndRemoved) {
  // "Привет, Иван!" with the counts of the CLI's stats.
  Output("Loaded cached credentials.\r\n{\"response\":\"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
         "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD!\",\"stats\":{\"models\":{\"m\":{\"tokens\":{\"prompt\":9,"
         "\"candidates\":3,\"total\":12}}}}}\r\n");
  const std::string question = "\xD0\x9A\xD1\x82\xD0\xBE \xD1\x8F?";  // "Кто я?"
  const TChatHistory history = {
      Turn("user", {Text(question), Inline("image/png", "UE5HREFUQQ==", "C:\\Users\\a\\cat.png")}),
      Turn("model", {Text("Nice"), Inline("text/plain", "dGV4dA==")}),
      Turn("user", {Text(question)}),
  };
  const TCliOutcome out = RunCliRequest({kGeminiCliKey, "gemini-2.5-flash", history, true, 60, {}});
  EXPECT_EQ(out.Result, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD!");
  EXPECT_FALSE(out.Failed);
  EXPECT_EQ(out.Usage, (TTokenUsage{9, 3, 12}));

  EXPECT_EQ(FRecord.Read("stdin"),
            "\xEF\xBB\xBFUser: " + question +
                "\r\n[Attached file: \"cat.png\" (internal storage name: file_1_cat.png)]\r\n\r\n"
                "Model: Nice\r\n[Attached file: file_2.txt]\r\n\r\nUser: " + question + "\r\n\r\n");
  EXPECT_EQ(FRecord.Read("files/file_1_cat.png"), "PNGDATA");
  EXPECT_EQ(FRecord.Read("files/file_2.txt"), "text");
  EXPECT_EQ(FRecord.Read("args"), "--model\ngemini-2.5-flash\n--allowed-tools\ngoogleSearch\n--output-format\njson\n");
  EXPECT_EQ(FRecord.Read("trust"), "true");

  const fs::path dir = LastWorkDir();
  EXPECT_EQ(dir.parent_path(), FTemp / "tarvok");
  EXPECT_EQ(PathToUtf8(dir.filename()).rfind("GeminiCLI_" + std::to_string(::GetCurrentProcessId()) + "_", 0), 0u)
      << PathToUtf8(dir);
  EXPECT_FALSE(fs::exists(dir)) << "the conversation must not stay on disk";
  EXPECT_TRUE(fs::is_empty(FTemp / "tarvok"));
}

TEST_F(WindowsCliRun, FoldersAreTheUsersAloneAndStaleOnesGo) {
  const fs::path parent = UserPrivateFolder();
  const fs::path run = MakePrivateFolder(parent, RunFolderPrefix("GeminiCLI"));
  fs::create_directory(FTemp / "plain");
  if (IsPrivateFolderOfOurs(FTemp / "plain") && test::RunningUnderWine())
    GTEST_SKIP() << "Wine keeps no access lists here: every folder reads as the user's alone";
  EXPECT_FALSE(IsPrivateFolderOfOurs(FTemp / "plain")) << "a folder with its parent's rights";
  EXPECT_TRUE(IsPrivateFolderOfOurs(run)) << AccessList(run);
  EXPECT_TRUE(IsPrivateFolderOfOurs(parent)) << AccessList(parent);
  // A run folder of an ended program goes at the next start; this program's stays.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring command = L"cmd.exe /c exit 0";
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &info));
  ::WaitForSingleObject(info.hProcess, INFINITE);
  const DWORD ended = info.dwProcessId;
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  const fs::path stale = MakePrivateFolder(parent, "GeminiCLI_" + std::to_string(ended) + "_");
  WritePrivateFile(stale / "gemini_prompt.txt", "User: secret");
  EXPECT_EQ(RemoveStaleRunFolders(), 1);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(run));
}

TEST_F(WindowsCliRun, AStopEndsTheCliItsChildrenAndItsFolder) {
  FRecord.Write("block", "");
  Output(R"({"response":"late"})");
  TCliRequest request{kGeminiCliKey, "m", {Turn("user", {Text("secret")})}, false, 120, std::make_shared<TStopToken>()};
  std::atomic<bool> done = false;
  TCliOutcome out;
  std::thread worker([&] {
    out = RunCliRequest(request);
    done = true;
  });
  for (int i = 0; i < 1000 && FRecord.Read("pids") == "<missing>"; ++i) ::Sleep(20);
  std::istringstream pids(FRecord.Read("pids"));
  DWORD cli = 0, child = 0;
  pids >> cli >> child;
  const fs::path dir = LastWorkDir();
  EXPECT_TRUE(fs::exists(dir / "gemini_prompt.txt"));
  request.Stop->Stop();
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(out.Result, texts::kStoppedResult);
  EXPECT_TRUE(out.Stopped && out.Failed);
  EXPECT_FALSE(fs::exists(dir)) << "the working folder is removed";
  ASSERT_NE(cli, 0u) << "the stand-in never ran";
  EXPECT_TRUE(ProcessEnded(cli)) << "the CLI";
  EXPECT_TRUE(ProcessEnded(child)) << "what it started";
}

}  // namespace
}  // namespace tarvok
