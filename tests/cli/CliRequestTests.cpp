#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <regex>

#include "CliTestSupportPosix.h"
#include "cli/CliRequest.h"
#include "cli/CliTexts.h"
#include "cli/PrivateFiles.h"
#include "core/ApiKeyStats.h"
#include "core/CoreTexts.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/Text.h"

namespace tarvok {
namespace {

using test::TTempDir;

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

// A `gemini` first on PATH that records how it was run and prints the scripted output.
class StandInCli : public ::testing::Test {
 protected:
  StandInCli() : FPath(FBin.Path()) {
    const std::string rec = FRecord.Path().string();
    const auto script = FBin.Write("gemini",
                                   "#!/bin/sh\n"
                                   "R='" + rec + "'\n"
                                   "printf '%s\\n' \"$@\" > \"$R/args\"\n"
                                   "cat > \"$R/stdin\"\n"
                                   "pwd > \"$R/cwd\"\n"
                                   "printf '%s' \"$GEMINI_CLI_TRUST_WORKSPACE\" > \"$R/trust\"\n"
                                   "stat -c %a . gemini_prompt.txt file_* > \"$R/modes\" 2>/dev/null\n"
                                   "rm -rf \"$R/files\"; cp -r . \"$R/files\"\n"
                                   // With "block" it runs on, with a child, until it is ended.
                                   "if [ -f \"$R/block\" ]; then sleep 1000 & echo $! > \"$R/child.pid.part\" && mv \"$R/child.pid.part\" \"$R/child.pid\"; wait; fi\n"
                                   "cat \"$R/output\"\n");
    test::MakeExecutable(script);
  }
  void Output(const std::string& AText) { FRecord.Write("output", AText); }
  std::filesystem::path LastWorkDir() const { return std::string(Trim(FRecord.Read("cwd"))); }

  test::TPrivateHome FHome;
  TTempDir FBin, FRecord;
  test::TPathPrefix FPath;
};

const TChatHistory kHello = {Turn("user", {Text("Hello")})};  // prompt "User: Hello\r\n\r\n", 15 units

TEST_F(StandInCli, AnswerShapes) {
  const std::string err = clitexts::kCliErrorPrefix;
  const std::string invalid = clitexts::kCliInvalidAnswer;
  const std::string parseFail = "Error: Failed to parse valid JSON response from Gemini CLI.\r\nRaw Output Start: ";
  struct {
    const char* Name;
    std::string Output;
    std::string Result;
    TTokenUsage Usage;
  } cases[] = {
      {"text before the object", "Loaded cached credentials.\n{\"response\":\"Hi\"}\n", "Hi", {3, 0, 3}},
      {"text after the object", "{\"response\":\"Hi\"} done\n", parseFail + "{\"response\":\"Hi\"} done\n",
       {3, (79 + 23) / 4, 3 + (79 + 23) / 4}},
      {"stats.tokens", R"({"response":"Hi","stats":{"tokens":{"prompt":10,"candidates":2,"total":12}}})", "Hi", {10, 2, 12}},
      {"stats.models summed over models",
       R"({"response":"Hi","stats":{"models":{"a":{"tokens":{"prompt":7,"candidates":3,"total":10}},"b":{"tokens":{"prompt":1,"candidates":1,"total":2}}}}})",
       "Hi", {8, 4, 12}},
      {"usageMetadata comes first",
       R"({"response":"Hi","usageMetadata":{"promptTokenCount":5,"candidatesTokenCount":6,"totalTokenCount":11},"stats":{"tokens":{"prompt":1,"candidates":1,"total":1}}})",
       "Hi", {5, 6, 11}},
      {"counts that are not integers are estimated", R"({"response":"Hi","stats":{"tokens":{"prompt":"10","candidates":2.5,"total":12}}})",
       "Hi", {3, 0, 12}},
      {"only response", R"({"response":"Hi"})", "Hi", {3, 0, 3}},
      {"error with message", R"({"error":{"message":"Quota exceeded","code":429}})", err + "Quota exceeded",
       {3, 8, 11}},
      {"error without message", R"({"error":{"code":429}})", err + R"({"code":429})", {3, 7, 10}},
      {"error whose message is not a string", R"({"error":{"message":{"a":1}}})", err + R"({"message":{"a":1}})",
       {3, 9, 12}},
      {"error as a string", R"({"error":"boom"})", invalid + R"({"error":"boom"})", {3, 13, 16}},
      {"non-ASCII in JSON text is escaped", "{\"error\":{\"status\":\"\xD0\xBE/\"}}",
       err + R"({"status":"\u043E\/"})", {3, 10, 13}},
      {"an object of other members is passed over", R"({"a":1} {"response":"Hi"})", "Hi", {3, 0, 3}},
      {"inner objects are tried when the outer has no answer", R"({"wrap":{"response":"Hi"}})",
       parseFail + R"({"wrap":{"response":"Hi"}})", {3, (79 + 26) / 4, 3 + (79 + 26) / 4}},
      {"no output at all", "", "", {3, 0, 3}},
      {"raw output is cut at 200 characters", std::string(300, 'x'), parseFail + std::string(200, 'x'),
       {3, 279 / 4, 3 + 279 / 4}},
  };
  for (const auto& c : cases) {
    Output(c.Output);
    const TCliOutcome out = RunCliRequest({kGeminiCliKey, "gemini-2.5-flash", kHello, false, 30, {}});
    EXPECT_EQ(out.Result, c.Result) << c.Name;
    EXPECT_EQ(out.Usage, c.Usage) << c.Name << ": " << out.Usage.PromptTokens << "," << out.Usage.CandidatesTokens
                                  << "," << out.Usage.TotalTokens;
  }
}

TEST_F(StandInCli, PromptFileAttachmentsCommandLineAndCleanUp) {
  Output(R"({"response":"ok"})");
  const TChatHistory history = {
      Turn("user", {Text("Look"), Inline("image/png", "UE5HREFUQQ==", "notes:v2\\cat.png")}),
      Turn("model", {Text("Nice"), Inline("image/png", "SU1HMg==")}),
      Turn("assistant", {Inline("image/png", "@@not base64@@"), Inline("text/plain", "dGV4dA=="),
                         Inline("application/x-thing", "AA==", "/home/u/notes.bin")}),
      Turn("user", {Text("\xD0\x95\xD1\x89\xD1\x91")}),
  };
  const std::string model = "gemini-2.5-pro'; touch pwned; '";
  const TCliOutcome out = RunCliRequest({kGeminiCliKey, model, history, true, 30, {}});
  EXPECT_EQ(out.Result, "ok");

  EXPECT_EQ(FRecord.Read("stdin"),
            "\xEF\xBB\xBF"
            "User: Look\r\n[Attached file: \"notes:v2\\cat.png\" (internal storage name: file_1_notes:v2\\cat.png)]\r\n\r\n"
            "Model: Nice\r\n[Attached file: file_2.png]\r\n\r\n"
            "Model: [Error saving file attachment]\r\n[Attached file: file_3.txt]\r\n"
            "[Attached file: \"notes.bin\" (internal storage name: file_4_notes.bin)]\r\n\r\n"
            "User: \xD0\x95\xD1\x89\xD1\x91\r\n\r\n");
  EXPECT_EQ(FRecord.Read("files/file_1_notes:v2\\cat.png"), "PNGDATA");
  EXPECT_EQ(FRecord.Read("files/file_2.png"), "IMG2");
  EXPECT_EQ(FRecord.Read("files/file_3.txt"), "text");
  EXPECT_EQ(FRecord.Read("files/file_4_notes.bin"), std::string(1, '\0'));
  EXPECT_FALSE(std::filesystem::exists(FRecord.Path() / "files" / "pwned"));

  EXPECT_EQ(FRecord.Read("args"),
            "--model\n" + model + "\n--allowed-tools\ngoogleSearch\n--output-format\njson\n");
  EXPECT_EQ(FRecord.Read("trust"), "true");
  const std::string cwd(Trim(FRecord.Read("cwd")));
  EXPECT_NE(cwd.find("GeminiCLI_"), std::string::npos) << cwd;
  EXPECT_FALSE(std::filesystem::exists(cwd)) << "the working folder must be gone";

  Output("not json");
  RunCliRequest({kGeminiCliKey, "m", kHello, false, 30, {}});
  EXPECT_EQ(FRecord.Read("args"), "--model\nm\n--output-format\njson\n");
  EXPECT_FALSE(std::filesystem::exists(std::string(Trim(FRecord.Read("cwd"))))) << "gone after a failure too";
}

TEST_F(StandInCli, TheWorkingFolderIsNewAndOnlyTheUsersOwn) {
  Output(R"({"response":"ok"})");
  const TChatHistory history = {Turn("user", {Text("secret"), Inline("text/plain", "dGV4dA==", "a.txt")})};
  ASSERT_EQ(RunCliRequest({kGeminiCliKey, "m", history, false, 30, {}}).Result, "ok");
  const auto first = LastWorkDir();
  EXPECT_EQ(first.parent_path(), FHome.Runtime() / "tarvok");
  EXPECT_EQ(test::Mode(FHome.Runtime() / "tarvok"), 0700u);
  EXPECT_EQ(FRecord.Read("modes"), "700\n600\n600\n") << "folder, prompt file, attachment";
  RunCliRequest({kGeminiCliKey, "m", history, false, 30, {}});
  EXPECT_NE(LastWorkDir(), first) << "every run gets a folder of its own";
  EXPECT_TRUE(std::filesystem::is_empty(FHome.Runtime() / "tarvok"));
}

TEST_F(StandInCli, AFolderOthersCouldReachOrPlantIsNeverUsed) {
  Output(R"({"response":"ok"})");
  namespace fs = std::filesystem;
  const fs::path cache = FHome.Home() / ".cache" / "tarvok";
  TTempDir elsewhere;
  struct {
    const char* Name;
    std::function<void()> Plant;
    fs::path Expected;  // the folder the run must use; empty: none, the run must not start
  } cases[] = {
      {"a runtime folder open to others is passed over",
       [&] { fs::permissions(FHome.Runtime(), fs::perms::all); }, cache},
      {"a cache folder open to others is closed first",
       [&] {
         fs::permissions(FHome.Runtime(), fs::perms::all);
         fs::create_directories(cache);
         fs::permissions(cache, fs::perms::all);
       },
       cache},
      {"a link in place of the cache folder is refused",
       [&] {
         fs::permissions(FHome.Runtime(), fs::perms::all);
         fs::create_directories(cache.parent_path());
         fs::create_directory_symlink(elsewhere.Path(), cache);
       },
       {}},
      {"a link in place of the runtime folder's is refused",
       [&] { fs::create_directory_symlink(elsewhere.Path(), FHome.Runtime() / "tarvok"); }, {}},
  };
  for (const auto& c : cases) {
    std::error_code ec;
    fs::remove_all(FHome.Runtime() / "tarvok", ec);
    fs::remove_all(FHome.Home() / ".cache", ec);
    fs::permissions(FHome.Runtime(), fs::perms::owner_all);
    FRecord.Write("cwd", "");
    c.Plant();
    const TCliOutcome out = RunCliRequest({kGeminiCliKey, "m", kHello, false, 30, {}});
    if (c.Expected.empty()) {
      EXPECT_TRUE(out.Result.starts_with(clitexts::kCannotMakeRunFolder)) << c.Name << ": " << out.Result;
      EXPECT_TRUE(out.Failed) << c.Name;
      EXPECT_EQ(FRecord.Read("cwd"), "") << c.Name << ": the CLI must not run";
    } else {
      EXPECT_EQ(out.Result, "ok") << c.Name;
      EXPECT_EQ(LastWorkDir().parent_path(), c.Expected) << c.Name;
      EXPECT_EQ(test::Mode(c.Expected), 0700u) << c.Name;
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << c.Name;
  }
  fs::permissions(FHome.Runtime(), fs::perms::owner_all);
}

// The runtime folder is a small share of memory. A run that does not fit there goes to the
// disk folder; when nothing can take it, the user sees which file failed and why, and no
// partly written file is left behind.
TEST_F(StandInCli, ARunThatDoesNotFitTheRuntimeFolderGoesToDiskOrSaysWhy) {
  namespace fs = std::filesystem;
  Output(R"({"response":"ok"})");
  const fs::path runtime = FHome.Runtime() / "tarvok";
  const fs::path disk = FHome.Home() / ".cache" / "tarvok";
  auto attachment = [](std::size_t ABytes) {
    return TChatHistory{Turn("user", {Text("see"), Inline("application/octet-stream",
                                                           std::string(ABytes / 3 * 4, 'Q'), "big.bin")})};
  };
  struct {
    const char* Name;
    std::string RuntimeDisk;  // tmpfs options for the runtime folder
    std::string HomeDisk;     // and for ~/.cache, or none
    std::size_t Bytes;
    fs::path Expected;  // the run's folder; empty: no run, the write error instead
  } cases[] = {
      {"a run that fits stays in the runtime folder", "size=4m,mode=0700", "", 30000, runtime},
      {"a run bigger than the runtime folder goes to disk", "size=512k,mode=0700", "", 900000, disk},
      {"a runtime folder out of room for names sends it to disk", "size=4m,nr_inodes=3,mode=0700", "", 3000, disk},
      {"no room anywhere: the file and the reason", "size=512k,mode=0700", "size=256k,mode=0700", 900000, {}},
  };
  for (const auto& c : cases) {
    test::TSmallDisk small(FHome.Runtime(), c.RuntimeDisk);
    if (!small.Error().empty()) GTEST_SKIP() << small.Error();
    std::optional<test::TSmallDisk> home;
    if (!c.HomeDisk.empty()) home.emplace(FHome.Home() / ".cache", c.HomeDisk);
    FRecord.Write("cwd", "");
    const TCliOutcome out = RunCliRequest({kGeminiCliKey, "m", attachment(c.Bytes), false, 30, {}});
    if (c.Expected.empty()) {
      const std::regex expected(std::string(clitexts::kCannotWriteFile) + disk.string() +
                                "/GeminiCLI_[0-9]+_[A-Za-z0-9]{6}/file_1_big\\.bin: No space left on device");
      EXPECT_TRUE(std::regex_match(out.Result, expected)) << c.Name << ": " << out.Result;
      EXPECT_TRUE(out.Failed) << c.Name;
      EXPECT_EQ(FRecord.Read("cwd"), "") << c.Name << ": the CLI must not run";
      EXPECT_TRUE(fs::is_empty(disk)) << c.Name << ": the partly written file is gone";
    } else {
      EXPECT_EQ(out.Result, "ok") << c.Name;
      EXPECT_EQ(LastWorkDir().parent_path(), c.Expected) << c.Name;
      EXPECT_EQ(fs::file_size(FRecord.Path() / "files" / "file_1_big.bin"), c.Bytes / 3 * 3) << c.Name;
      EXPECT_EQ(test::Mode(c.Expected), 0700u) << c.Name;
    }
    EXPECT_TRUE(!fs::exists(runtime) || fs::is_empty(runtime)) << c.Name << ": nothing left in the runtime folder";
    std::error_code ec;
    fs::remove_all(disk, ec);
  }
}

TEST(PrivateFiles, AFileThatDoesNotFitIsRemovedAndTheReasonKept) {
  TTempDir dir;
  test::TSmallDisk small(dir.Path(), "size=64k,mode=0700");
  if (!small.Error().empty()) GTEST_SKIP() << small.Error();
  const auto file = dir.Path() / "big.bin";
  try {
    WritePrivateFile(file, std::string(200000, 'x'));
    FAIL() << "the write should not fit";
  } catch (const TWriteError& e) {
    EXPECT_TRUE(e.NoSpace());
    EXPECT_EQ(e.Path(), file);
    EXPECT_EQ(e.Reason(), "No space left on device");
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  WritePrivateFile(file, std::string(30000, 'x'));  // the room is back
  EXPECT_EQ(std::filesystem::file_size(file), 30000u);
}

TEST(CliRequest, AttachmentNamesAndCommandLines) {
  struct {
    const char* Mime;
    const char* FileName;
    const char* Expected;
  } names[] = {
      {"image/png", "", "file_7.png"},          {"image/jpeg", "", "file_7.jpg"},
      {"image/webp", "", "file_7.webp"},        {"application/pdf", "", "file_7.pdf"},
      {"TEXT/Markdown", "", "file_7.txt"},      {"application/json", "", "file_7.json"},
      {"application/xml", "", "file_7.xml"},    {"Image/PNG", "", "file_7.dat"},
      {"audio/mpeg", "", "file_7.dat"},         {"image/png", "/x/y.png", "file_7_y.png"},
      {"image/png", "../../etc/passwd", "file_7_passwd"},
  };
  for (const auto& n : names)
    EXPECT_EQ(CliAttachmentName(7, Inline(n.Mime, "", n.FileName)), n.Expected) << n.Mime << " " << n.FileName;
  // Windows cuts at its separators and the drive colon; POSIX names may hold both.
  struct {
    const char* FileName;
    const char* Windows;
    const char* Posix;
  } parts[] = {
      {"C:\\a\\cat.png", "cat.png", "C:\\a\\cat.png"}, {"C:cat.png", "cat.png", "C:cat.png"},
      {"notes:v2.txt", "v2.txt", "notes:v2.txt"},         {"/home/u/n.bin", "n.bin", "n.bin"},
      {"../../etc/passwd", "passwd", "passwd"},           {"plain.txt", "plain.txt", "plain.txt"},
  };
  for (const auto& p : parts) {
    EXPECT_EQ(ExtractFileNamePartWindows(p.FileName), p.Windows) << p.FileName;
    EXPECT_EQ(ExtractFileNamePartPosix(p.FileName), p.Posix) << p.FileName;
  }

  std::string error;
  EXPECT_EQ(MakeCliCommandLineWindows("gemini-2.5-pro", true, "C:\\T\\gemini_prompt.txt", error),
            "cmd.exe /c set GEMINI_CLI_TRUST_WORKSPACE=true&& gemini --model \"gemini-2.5-pro\" --allowed-tools "
            "googleSearch --output-format json < \"C:\\T\\gemini_prompt.txt\"");
  EXPECT_EQ(MakeCliCommandLineWindows("m", false, "p.txt", error),
            "cmd.exe /c set GEMINI_CLI_TRUST_WORKSPACE=true&& gemini --model \"m\" --output-format json < \"p.txt\"");
  for (const char* bad : {"a\"&calc&\"", "%PATH%", "a!b!", "a\r\nb"}) {
    EXPECT_EQ(MakeCliCommandLineWindows(bad, false, "p.txt", error), "") << bad;
    EXPECT_EQ(error, std::string(clitexts::kCliUnsafeName) + bad);
  }
  EXPECT_EQ(MakeCliCommandLinePosix("a\nb", false, "/tmp/p", error), "");
  EXPECT_TRUE(IsCliFailureResult(error));
}

TEST(CliRequest, UnquotableModelNameIsRefusedWithoutRunning) {
  test::TPrivateHome home;
  const TCliOutcome out = RunCliRequest({kGeminiCliKey, "bad\nname", kHello, false, 30, {}});
  EXPECT_EQ(out.Result, std::string(clitexts::kCliUnsafeName) + "bad\nname");
  EXPECT_TRUE(IsCliFailureResult(out.Result));
}

// GenerateContentCLI end to end with the stand-in: history, counts, counter, completion.
class CliTurn : public StandInCli {
 protected:
  CliTurn() : FDM(FMain) { SetProgramDir(FProgram.Path()); }
  ~CliTurn() override { SetProgramDir({}); }

  struct TAnswer {
    std::string Result;
    TTokenUsage Usage;
  };
  TAnswer Send(const std::string& AText, bool AAddToHistory = true) {
    std::atomic<bool> done = false;
    TAnswer answer;
    GenerateContentCLI(FDM, kGeminiCliKey, "gemini-2.5-flash", {Text(AText)}, false,
                       MakeCallback([&](const std::string& R, const TTokenUsage& U, const TResultFlags&) {
                         answer = {R, U};
                         done = true;
                       }),
                       AAddToHistory);
    EXPECT_TRUE(FMain.ProcessUntil([&] { return done.load(); }));
    return answer;
  }

  TTempDir FProgram;
  TLoopMainThread FMain;
  TGeminiDM FDM;
};

TEST_F(CliTurn, SuccessRecordsBothTurnsAndCountsUnderGeminiCli) {
  Output(R"({"response":"Hi"})");
  const TAnswer a = Send("Hello");
  EXPECT_EQ(a.Result, "Hi");
  ASSERT_EQ(FDM.FChatHistory.size(), 2u);
  EXPECT_EQ(FDM.FChatHistory[1].Role, "model");
  EXPECT_EQ(FDM.FChatHistory[1].Parts, (TContentParts{Text("Hi")}));
  // "Hi" is 2/4 = 0 by the worker's estimate; the completion counts it instead and hands that on.
  EXPECT_EQ(a.Usage.CandidatesTokens, 1);
  EXPECT_EQ(FDM.FChatHistory[1].TokenCount, 1);
  EXPECT_EQ(FDM.FActualHistoryTokens, FDM.FChatHistory[0].TokenCount + 1);
  EXPECT_EQ(GetRequestCount(kGeminiCliKey, "gemini-2.5-flash"), 1);

  // The next turn sends the earlier ones.
  Output(R"({"response":"Again","stats":{"tokens":{"prompt":40,"candidates":4,"total":44}}})");
  EXPECT_EQ(Send("More").Usage, (TTokenUsage{40, 4, 44}));
  EXPECT_EQ(FRecord.Read("stdin"), "\xEF\xBB\xBFUser: Hello\r\n\r\nModel: Hi\r\n\r\nUser: More\r\n\r\n");
  EXPECT_EQ(FDM.FChatHistory.size(), 4u);
  EXPECT_EQ(FDM.FChatHistory[3].TokenCount, 4);
  EXPECT_EQ(GetRequestCount(kGeminiCliKey, "gemini-2.5-flash"), 2);
}

TEST_F(CliTurn, ResultsWithoutAnAnswerTakeTheUserTurnBackOut) {
  Output(R"({"response":"Hi"})");
  Send("first");
  const TChatHistory before = FDM.FChatHistory;
  struct {
    const char* Name;
    std::string Output;
    std::string Result;
  } cases[] = {
      {"error object", R"({"error":{"message":"Quota exceeded"}})", std::string(clitexts::kCliErrorPrefix) + "Quota exceeded"},
      {"unparsable output", "boom", "Error: Failed to parse valid JSON response from Gemini CLI.\r\nRaw Output Start: boom"},
      {"answer object without an answer", R"({"error":7})",
       std::string(clitexts::kCliErrorPrefix) + clitexts::kCliInvalidAnswer + R"({"error":7})"},
      {"no output", "", clitexts::kCliEmptyAnswer},
  };
  for (const auto& c : cases) {
    Output(c.Output);
    EXPECT_EQ(Send("second").Result, c.Result) << c.Name;
    EXPECT_EQ(FDM.FChatHistory, before) << c.Name;
    EXPECT_EQ(FDM.FActualHistoryTokens, TGeminiDM::CountTokensForHistory(before)) << c.Name;
  }
}

TEST_F(CliTurn, AnAnswerThatBeginsWithAFailureWordIsRecorded) {
  for (const std::string answer : {"Ошибка возникает, потому что…", "Error handling: wrap the call"}) {
    Output(R"({"response":")" + answer + R"("})");
    FDM.ClearHistory();
    EXPECT_EQ(Send("Why?").Result, answer);
    ASSERT_EQ(FDM.FChatHistory.size(), 2u) << answer;
    EXPECT_EQ(FDM.FChatHistory[1].Parts, (TContentParts{Text(answer)}));
  }
}

TEST_F(CliTurn, StoppingAllRunsEndsTheCliWithItsChildrenAndRemovesTheFolder) {
  FRecord.Write("block", "");
  Output(R"({"response":"late"})");
  std::atomic<int> completions = 0;
  GenerateContentCLI(FDM, kGeminiCliKey, "gemini-2.5-flash", {Text("secret")}, false,
                     MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags&) { ++completions; }), true);
  ASSERT_TRUE(FMain.ProcessUntil([&] { return FRecord.Read("child.pid") != "<missing>"; }));
  const auto dir = LastWorkDir();
  ASSERT_TRUE(std::filesystem::exists(dir / "gemini_prompt.txt"));
  const pid_t child = std::stoi(FRecord.Read("child.pid"));

  EXPECT_TRUE(TCliRuns::Instance().StopAll(std::chrono::seconds(10)));
  EXPECT_FALSE(std::filesystem::exists(dir)) << "the conversation must not stay on disk";
  EXPECT_TRUE(test::WaitUntilGone(child)) << "the CLI's child outlived the stop";
  ASSERT_TRUE(FMain.ProcessUntil([&] { return completions.load() == 1; }));
  EXPECT_TRUE(FDM.FChatHistory.empty()) << "a stopped run is no answer";

  // A run whose token was stopped before it began starts nothing.
  FRecord.Write("cwd", "");
  const TStopTokenPtr token = TCliRuns::Instance().NewToken();
  TCliRuns::Instance().StopAll(std::chrono::seconds(1));
  TCliRequest request{kGeminiCliKey, "m", kHello, false, 30, token};
  const TCliOutcome outcome = RunCliRequest(request);
  EXPECT_EQ(outcome.Result, texts::kStoppedResult);
  EXPECT_TRUE(outcome.Failed && outcome.Stopped);
  EXPECT_EQ(FRecord.Read("cwd"), "");
}

TEST_F(CliTurn, WithoutAddToHistoryTheHistoryIsUntouched) {
  Output(R"({"response":"Summary"})");
  EXPECT_EQ(Send("summarise", false).Result, "Summary");
  EXPECT_TRUE(FDM.FChatHistory.empty());
  EXPECT_EQ(FDM.FActualHistoryTokens, 0);
}

}  // namespace
}  // namespace tarvok
