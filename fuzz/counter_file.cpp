// A request counter file holding any bytes: reading a count never crashes and gives -1
// or a count; a line split gives fields as the counter rule says.
#include "core/ApiKeyStats.h"
#include "core/Platform.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  static const bool ready = [] {
    SetProgramDir(fuzz::ScratchDir());
    std::filesystem::create_directories(ApiStatsDir());
    return true;
  }();
  (void)ready;
  const std::string_view bytes = fuzz::AsText(AData, ASize);
  SplitDelimitedLine(bytes);
  std::filesystem::path file = ApiStatsDir() / "key.txt";
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) std::abort();
  if (ASize) std::fwrite(AData, 1, ASize, f);
  std::fclose(f);
  TARVOK_FUZZ_CHECK(GetRequestCount("key", "gemini-2.5-flash") >= -1);
  return 0;
}
