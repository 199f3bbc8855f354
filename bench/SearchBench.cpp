// Chat search over a generated chat folder of a realistic mix: mostly Base64 pictures by
// size, text in Russian and English. TARVOK_SEARCH_BENCH_FILES sets the number of chats
// (default 2000, about 1 GB); the folder is kept in the temporary folder between runs.
// Beside the searches, the reference for a word every chat holds: simdjson validating
// every file of the folder; for the other words, ripgrep (rg -i -l -F, the words as the files
// spell them) run as a process of its own over the same folder, so that with random
// interleaving a spell of load falls on both sides alike. "SearchBench --print-folder"
// prepares the folder and prints it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <simdjson.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/Files.h"
#include "core/Platform.h"
#include "storage/Base64.h"
#include "storage/ChatFile.h"
#include "storage/ChatLibrary.h"
#include "storage/ChatSearch.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvok;

const char* const kWords[] = {
    "привет", "код", "функция", "ошибка", "данные", "файл", "список", "пример", "нужно", "можно", "сделать", "если",
    "когда", "работает", "проект", "запрос", "ответ", "модель", "контекст", "история", "значение", "строка", "таблица",
    "the", "function", "return", "value", "error", "string", "list", "file", "request", "response", "model", "build",
    "test", "memory", "thread", "window", "button", "```cpp", "int", "main()", "{", "}", "//", "std::vector", "for",
    "Москва", "погода", "рецепт", "книга", "идея", "план", "задача", "решение", "вопрос", "почему", "как", "что"};

std::string Sentence(std::mt19937& rng, std::size_t AWords) {
  std::string s;
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kWords) - 1);
  for (std::size_t i = 0; i < AWords; ++i) {
    if (i) s += (rng() % 12 == 0) ? "\n" : " ";
    s += kWords[pick(rng)];
  }
  return s;
}

std::size_t GFolderBytes = 0;

fs::path PrepareFolder() {
  const char* env = std::getenv("TARVOK_SEARCH_BENCH_FILES");
  const int files = env ? std::atoi(env) : 2000;
  // scripts/bench keeps its generated data under build/; alone, the program uses the temporary folder.
  const char* data = std::getenv("TARVOK_BENCH_DATA");
  const fs::path root = (data && *data ? PathFromUtf8(data) : TempDir()) / ("tarvok-search-bench-" + std::to_string(files));
  SetProgramDir(root);
  const fs::path ready = root / "ready";
  if (!fs::exists(ready)) {
    fs::remove_all(root);
    CreateChatFolders();
    std::mt19937 rng(2024);
    std::string picture;
    for (int f = 0; f < files; ++f) {
      TChatHistory history;
      const int turns = 4 + static_cast<int>(rng() % 14);
      for (int t = 0; t < turns; ++t) {
        THistoryItem item;
        item.Role = t % 2 ? "model" : "user";
        item.Timestamp = 45000 + f + t / 100.0;
        item.TokenCount = 100 + static_cast<int>(rng() % 900);
        TContentPart text;
        text.Text = Sentence(rng, t % 2 ? 80 + rng() % 700 : 10 + rng() % 120);
        if (f % 100 == 7 && t == turns - 1) text.Text += " редкоеслово";
        item.Parts.push_back(std::move(text));
        // Pictures are where the bytes are: about two chats in three carry one or two.
        if (t % 2 == 0 && rng() % 100 < 14) {
          picture.resize(150'000 + rng() % 600'000);
          for (char& c : picture) c = static_cast<char>(rng());
          TContentPart part;
          part.PartType = TPartType::ptInlineData;
          part.MimeType = "image/jpeg";
          part.Base64Data = TSharedText(Base64Encode(picture));
          part.FileName = "C:\\Users\\user\\Pictures\\photo_" + std::to_string(f) + ".jpg";
          item.Parts.push_back(std::move(part));
        }
        history.push_back(std::move(item));
      }
      WriteChatFile(PathToUtf8(root / "chats" / ("chat_" + std::to_string(f) + "_2025-01-01_120000.json")), history);
    }
    WriteFileAtomic(ready, "");
  }
  GFolderBytes = 0;
  for (const auto& e : fs::directory_iterator(root / "chats"))
    if (e.is_regular_file()) GFolderBytes += e.file_size();
  return root;
}

void RunSearch(benchmark::State& AState, const std::vector<std::string>& AWords) {
  static const fs::path root = PrepareFolder();
  SetProgramDir(root);
  std::size_t found = 0;
  for (auto _ : AState) {
    found = SearchChats(AWords).size();
    benchmark::DoNotOptimize(found);
  }
  AState.counters["chats_found"] = static_cast<double>(found);
  AState.counters["folder_MB"] = static_cast<double>(GFolderBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * GFolderBytes));
}

void BM_SearchRareWord(benchmark::State& AState) { RunSearch(AState, {"редкоеслово"}); }
void BM_SearchMissingWord(benchmark::State& AState) { RunSearch(AState, {"несуществующее", "nowhere"}); }
void BM_SearchCommonWord(benchmark::State& AState) { RunSearch(AState, {"привет"}); }
BENCHMARK(BM_SearchRareWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchMissingWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchCommonWord)->Unit(benchmark::kMillisecond)->UseRealTime();

// A word as the chat files hold it: ASCII JSON writes every other letter as \uXXXX.
std::string JsonEscaped(const std::string& AWord) {
  std::string out;
  for (std::size_t i = 0; i < AWord.size();) {
    const auto c = static_cast<unsigned char>(AWord[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Two- and three-byte letters: the words here are Cyrillic.
    const std::size_t n = c >= 0xE0 ? 3 : 2;
    unsigned cp = c & (n == 3 ? 0x0Fu : 0x1Fu);
    for (std::size_t k = 1; k < n && i + k < AWord.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(AWord[i + k]) & 0x3Fu);
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04X", cp);
    out += buf;
    i += n;
  }
  return out;
}

// ripgrep over the chat folder, its list of files thrown away, as hyperfine would run it.
void RunRg(benchmark::State& AState, const std::vector<std::string>& AWords) {
  static const fs::path root = PrepareFolder();
  std::vector<std::string> args{"rg", "-i", "-l", "-F"};
  for (const std::string& w : AWords) {
    args.push_back("-e");
    args.push_back(JsonEscaped(w));
  }
  args.push_back(PathToUtf8(root / "chats"));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : AState) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "rg", &actions, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) != pid ||
        !WIFEXITED(status) || WEXITSTATUS(status) > 1) {  // 1: nothing found
      AState.SkipWithError("rg did not run");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * GFolderBytes));
}

void BM_RgRareWord(benchmark::State& AState) { RunRg(AState, {"редкоеслово"}); }
void BM_RgMissingWord(benchmark::State& AState) { RunRg(AState, {"несуществующее", "nowhere"}); }
BENCHMARK(BM_RgRareWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RgMissingWord)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ValidateEveryFile(benchmark::State& AState) {
  static const fs::path root = PrepareFolder();
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(root / "chats"))
    if (e.is_regular_file()) files.push_back(e.path().string());
  simdjson::dom::parser parser;
  for (auto _ : AState) {
    std::size_t valid = 0;
    for (const std::string& f : files) {
      simdjson::padded_string text;
      simdjson::dom::element doc;
      if (simdjson::padded_string::load(f).get(text) != simdjson::SUCCESS) continue;
      const std::size_t skip = std::string_view(text).starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
      if (parser.parse(text.data() + skip, text.size() - skip, false).get(doc) == simdjson::SUCCESS) ++valid;
    }
    if (valid != files.size()) AState.SkipWithError("a generated chat is not valid JSON");
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * GFolderBytes));
}
BENCHMARK(BM_ValidateEveryFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--print-folder") {
    std::printf("%s\n", PathToUtf8(PrepareFolder() / "chats").c_str());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
