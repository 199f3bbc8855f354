// The chat file loader on any bytes: no crash, and what it reads is written back in a
// form that reads back the same (a loaded chat survives being saved and loaded again).
#include "fuzz/FuzzSupport.h"
#include "storage/ChatFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  TChatHistory first;
  std::int32_t tokens = 0;
  ParseChatFileText(fuzz::AsText(AData, ASize), first, tokens);
  const std::string saved = ChatFileContent(first);
  TChatHistory second;
  std::int32_t tokensAgain = 0;
  ParseChatFileText(saved, second, tokensAgain);
  TARVOK_FUZZ_CHECK(second.size() == first.size());
  TARVOK_FUZZ_CHECK(ChatFileContent(second) == saved);
  return 0;
}
