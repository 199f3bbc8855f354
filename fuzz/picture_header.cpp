// The picture header reader on any bytes: no crash, and a size only when both sides are positive.
#include "core/TokenEstimate.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const auto path = fuzz::WriteScratchFile("picture", fuzz::AsText(AData, ASize));
  int width = -1, height = -1;
  if (GetImageDimensions(path.string(), width, height)) TARVOK_FUZZ_CHECK(width > 0 && height > 0);
  else TARVOK_FUZZ_CHECK(width == 0 && height == 0);
  return 0;
}
