// A text attachment's bytes decoded to UTF-8 (byte-order mark, UTF-8 check, legacy code
// page), in memory and from a file: no crash, the same text both ways, and never invalid UTF-8.
#include "core/Text.h"
#include "core/TextAttachment.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string_view bytes = fuzz::AsText(AData, ASize);
  IsValidUtf8(bytes);
  const std::string decoded = DecodeTextBytes(bytes);
  const auto path = fuzz::WriteScratchFile("attachment.txt", bytes);
  TARVOK_FUZZ_CHECK(SanitizeTextFile(path.string()) == decoded);
  TARVOK_FUZZ_CHECK(MakeValidUtf8(decoded) == decoded);
  Utf16Left(decoded, ASize / 2);
  return 0;
}
