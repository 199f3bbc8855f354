// The reader of a generateContent answer on any bytes: no crash, and a failure is only
// ever the documented TRequestError.
#include <simdjson.h>

#include "core/WireFormat.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  std::string body;
  body.reserve(ASize + simdjson::SIMDJSON_PADDING);
  body.assign(fuzz::AsText(AData, ASize));
  std::string result;
  TTokenUsage usage;
  try {
    ReadResponseBody(body, result, usage);
  } catch (const TRequestError&) {
  }
  // The same body without spare capacity takes the copying path of the parser.
  std::string tight(fuzz::AsText(AData, ASize));
  tight.shrink_to_fit();
  std::string resultAgain;
  TTokenUsage usageAgain;
  try {
    ReadResponseBody(tight, resultAgain, usageAgain);
  } catch (const TRequestError&) {
  }
  TARVOK_FUZZ_CHECK(result == resultAgain && usage == usageAgain);
  return 0;
}
