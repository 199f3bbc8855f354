// GenerateContentCLI and its worker thread.
#include "cli/CliRequest.h"

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

#include "cli/CliTexts.h"
#include "cli/ConsoleRunner.h"
#include "cli/PrivateFiles.h"
#include "core/ApiKeyStats.h"
#include "core/CoreTexts.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/GeminiDM.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

// Strict standard Base64 (the stored form). The storage layer has its own codec, but the
// CLI layer sits beside it, not above it.
bool DecodeBase64(std::string_view AText, std::string& ABytes) {
  ABytes.clear();
  if (AText.size() % 4 != 0) return false;
  ABytes.reserve(AText.size() / 4 * 3);
  for (std::size_t i = 0; i < AText.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(AText[i + k]);
      if (c == '=' && i + 4 == AText.size() && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) return false;
      v[k] = Base64DigitValue(c);
      if (v[k] < 0) return false;
    }
    const unsigned triple = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
    ABytes += static_cast<char>((triple >> 16) & 0xFF);
    if (pad < 2) ABytes += static_cast<char>((triple >> 8) & 0xFF);
    if (pad < 1) ABytes += static_cast<char>(triple & 0xFF);
  }
  return true;
}

std::string FormatText(const char* AFormat, std::initializer_list<std::string_view> AValues) {
  std::string out;
  auto value = AValues.begin();
  for (const char* p = AFormat; *p; ++p) {
    if (p[0] == '%' && p[1] == 's' && value != AValues.end()) {
      out += *value++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

std::uintmax_t CliRunBytes(const TChatHistory& AHistory) {
  // Each file takes at least a block; the prompt names every attachment once more.
  constexpr std::uintmax_t kPerFile = 4096 + 256;
  std::uintmax_t bytes = kPerFile;
  for (const THistoryItem& item : AHistory)
    for (const TContentPart& part : item.Parts) {
      bytes += part.Text.size() + 16;
      if (part.PartType == TPartType::ptInlineData) bytes += part.Base64Data.view().size() / 4 * 3 + kPerFile;
    }
  return bytes;
}

namespace {
std::string AfterLastOf(std::string_view AText, const char* ASeparators) {
  const std::size_t cut = AText.find_last_of(ASeparators);
  return std::string(cut == std::string_view::npos ? AText : AText.substr(cut + 1));
}
}  // namespace

std::string ExtractFileNamePartWindows(std::string_view AFileName) { return AfterLastOf(AFileName, "\\/:"); }
std::string ExtractFileNamePartPosix(std::string_view AFileName) { return AfterLastOf(AFileName, "/"); }

std::string CliAttachmentName(int ANumber, const TContentPart& APart) {
  const std::string prefix = "file_" + std::to_string(ANumber);
  if (!APart.FileName.empty()) return prefix + "_" + ExtractFileNamePart(APart.FileName);
  const std::string& mime = APart.MimeType;
  if (mime == "image/png") return prefix + ".png";
  if (mime == "image/jpeg") return prefix + ".jpg";
  if (mime == "image/webp") return prefix + ".webp";
  if (mime == "application/pdf") return prefix + ".pdf";
  if (StartsWithNoCase(mime, "text/")) return prefix + ".txt";
  if (mime == "application/json") return prefix + ".json";
  if (mime == "application/xml") return prefix + ".xml";
  return prefix + ".dat";
}

std::string BuildCliPrompt(const TChatHistory& AHistory, const std::filesystem::path& AWorkDir) {
  std::string prompt;
  int counter = 0;
  std::string bytes;
  for (const THistoryItem& item : AHistory) {
    prompt += item.Role == "user" ? "User: " : "Model: ";
    for (const TContentPart& part : item.Parts) {
      if (part.PartType == TPartType::ptText) {
        prompt += part.Text;
        prompt += "\r\n";
      } else if (part.PartType == TPartType::ptInlineData) {
        if (!DecodeBase64(part.Base64Data.view(), bytes)) {
          prompt += "[Error saving file attachment]\r\n";
          continue;
        }
        ++counter;
        try {
          const std::string name = CliAttachmentName(counter, part);
          WritePrivateFile(AWorkDir / PathFromUtf8(name), bytes);
          if (!part.FileName.empty())
            prompt += FormatText("[Attached file: \"%s\" (internal storage name: %s)]",
                                 {ExtractFileNamePart(part.FileName), name});
          else
            prompt += FormatText("[Attached file: %s]", {name});
          prompt += "\r\n";
        } catch (const TWriteError&) {
          throw;  // the disk said why: the whole run fails with that
        } catch (const std::exception&) {
          prompt += "[Error saving file attachment]\r\n";
        }
      }
    }
    prompt += "\r\n";
  }
  return prompt;
}

TCliOutcome RunCliRequest(const TCliRequest& ARequest) {
  TCliOutcome out;
  TCliRuns& runs = TCliRuns::Instance();
  const TStopTokenPtr token = ARequest.Stop ? ARequest.Stop : runs.NewToken();
  // Leaving comes last, after the folder is gone: whoever waits for the runs to end then
  // finds nothing of this one left.
  struct TLeave {
    TCliRuns& Runs;
    const TStopTokenPtr& Token;
    ~TLeave() { Runs.Leave(Token); }
  } leave{runs, token};
  auto stopped = [&] {
    out = {};
    out.Result = texts::kStoppedResult;
    out.Failed = out.Stopped = true;
    return out;
  };
  if (!runs.Enter(token)) return stopped();

  std::filesystem::path dir;
  auto removeDir = [&dir] {
    if (dir.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    dir.clear();
  };
  try {
    // The runtime folder is small: a run that does not fit there, or finds it full after
    // all, goes to the disk folder.
    const std::uintmax_t need = CliRunBytes(ARequest.History);
    std::filesystem::path promptFile;
    std::string prompt;
    for (int attempt = 0;; ++attempt) {
      const std::filesystem::path parent = attempt == 0 ? UserPrivateFolder(need) : UserDiskPrivateFolder();
      try {
        dir = MakePrivateFolder(parent, RunFolderPrefix("GeminiCLI"));
        promptFile = dir / "gemini_prompt.txt";
        try {
          prompt = BuildCliPrompt(ARequest.History, dir);
        } catch (const TWriteError&) {
          throw;
        } catch (const std::exception& e) {
          prompt = std::string("Error building prompt: ") + e.what();
        }
        WritePrivateFile(promptFile, kUtf8Bom, prompt);
        break;
      } catch (const TWriteError& e) {
        const bool retry = attempt == 0 && e.NoSpace() && parent != UserDiskPrivateFolder();
        removeDir();
        if (!retry) throw;
      }
    }

    std::string error;
    const std::string command =
        MakeCliCommandLine(ARequest.ModelName, ARequest.UseGoogleSearch, PathToUtf8(promptFile), error);
    if (command.empty()) {
      out.Result = error;
      out.Failed = true;
    } else {
      try {
        const std::string output =
            RunConsoleCommand(command, "", PathToUtf8(dir), ARequest.TimeoutSeconds, token.get());
        if (token->IsStopped()) stopped();
        else out = InterpretCliOutput(output, prompt);
      } catch (const std::exception& e) {
        out.Result = std::string(clitexts::kCliExecutionError) + e.what();
        out.Usage = {};
        out.Failed = true;
      }
    }
  } catch (const TWriteError& e) {
    // No run: the user learns which file and why, not that the CLI said nothing.
    out = {};
    out.Result = clitexts::kCannotWriteFile + PathToUtf8(e.Path()) + ": " + e.Reason();
    out.Failed = true;
  } catch (const std::exception& e) {
    out = {};
    out.Result = clitexts::kCannotMakeRunFolder + std::string(e.what());
    out.Failed = true;
  }
  removeDir();
  return out;
}

namespace {
std::atomic<int> ActiveCliWorkers{0};
}  // namespace

TGeminiCLIThread::TGeminiCLIThread(TCliRequest ARequest, TMainThread& AMainThread, TStringCallback ACallback)
    : FRequest(std::move(ARequest)), FMainThread(AMainThread), FCallback(std::move(ACallback)) {}

int TGeminiCLIThread::ActiveCount() { return ActiveCliWorkers.load(); }

void TGeminiCLIThread::Create(const std::string& AApiKey, const std::string& AModelName,
                              const TChatHistory& AHistory, bool AUseGoogleSearch, TGeminiDM& AGeminiDM,
                              TStringCallback ACallback, TStopTokenPtr AStop) {
  TCliRequest request{AApiKey, AModelName, AHistory, AUseGoogleSearch, AGeminiDM.TimeOut1,
                      AStop ? std::move(AStop) : TCliRuns::Instance().NewToken()};
  // When no thread can be made the worker goes with the exception; the caller's guard
  // gives the window back.
  std::unique_ptr<TGeminiCLIThread> owned(
      new TGeminiCLIThread(std::move(request), AGeminiDM.MainThread(), std::move(ACallback)));
  ++ActiveCliWorkers;
  try {
    std::thread([worker = owned.get()] {
      worker->Execute();
      delete worker;
      --ActiveCliWorkers;
    }).detach();
  } catch (...) {
    --ActiveCliWorkers;
    throw;
  }
  owned.release();
}

void TGeminiCLIThread::Execute() {
  // Counted on this thread before the CLI starts (the counter has its own lock).
  CountRequest(FRequest.ApiKey, FRequest.ModelName);
  TCliOutcome outcome = RunCliRequest(FRequest);
  FResult = std::move(outcome.Result);
  FTokenUsage = outcome.Usage;
  FFlags.Failed = outcome.Failed;
  FFlags.Stopped = outcome.Stopped;
  FMainThread.Synchronize([this] {
    if (FCallback && *FCallback) (*FCallback)(FResult, FTokenUsage, FFlags);
  });
}

void GenerateContentCLI(TGeminiDM& AGeminiDM, const std::string& AApiKey, const std::string& AModelName,
                        const TContentParts& AParts, bool AUseGoogleSearch, TStringCallback ACallback,
                        bool AAddToHistory, TStopTokenPtr AStop) {
  THistoryItem userItem;
  userItem.Role = "user";
  userItem.Parts = AParts;
  userItem.Timestamp = Now();
  userItem.TokenCount = TGeminiDM::CountTokens(AParts);

  TChatHistory toSend;
  TGeminiDM::TrimHistoryToTokenLimit(AGeminiDM.FChatHistory, AParts, AGeminiDM.MaxContextTokens, toSend);
  toSend.push_back(userItem);

  TChatHistory before;
  if (AAddToHistory) {
    before = AGeminiDM.FChatHistory;
    AGeminiDM.FChatHistory.push_back(userItem);
    AGeminiDM.FActualHistoryTokens = TGeminiDM::CountTokensForHistory(AGeminiDM.FChatHistory);
  }

  TGeminiDM* dm = &AGeminiDM;
  auto completion = MakeCallback([dm, ACallback, before = std::move(before), AAddToHistory](
                                     const std::string& ARawResult, const TTokenUsage& AUsage,
                                     const TResultFlags& AFlags) {
    TResultFlags flags = AFlags;
    const std::string result = CliCompletionResult(ARawResult, flags);
    TTokenUsage usage = AUsage;
    if (AAddToHistory) {
      if (flags.Failed) {
        dm->FChatHistory = before;
      } else {
        TContentPart modelPart;
        modelPart.PartType = TPartType::ptText;
        modelPart.Text = result;
        THistoryItem modelItem;
        modelItem.Role = "model";
        modelItem.Parts = {modelPart};
        modelItem.Timestamp = Now();
        modelItem.TokenCount = usage.CandidatesTokens;
        if (modelItem.TokenCount == 0) {
          modelItem.TokenCount = TGeminiDM::CountTokens(modelItem.Parts);
          usage.CandidatesTokens = modelItem.TokenCount;
        }
        dm->FChatHistory.push_back(std::move(modelItem));
      }
      dm->FActualHistoryTokens = TGeminiDM::CountTokensForHistory(dm->FChatHistory);
    }
    if (ACallback && *ACallback) (*ACallback)(result, usage, flags);
  });
  TGeminiCLIThread::Create(AApiKey, AModelName, toSend, AUseGoogleSearch, AGeminiDM, std::move(completion),
                           std::move(AStop));
}

}  // namespace tarvok
