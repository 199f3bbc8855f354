// The error text of a failed request's body: no crash, and the text comes out as valid UTF-8.
#include "core/TextAttachment.h"
#include "core/WireFormat.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string message = ExtractErrorMessage(fuzz::AsText(AData, ASize));
  TARVOK_FUZZ_CHECK(IsValidUtf8(message));
  return 0;
}
