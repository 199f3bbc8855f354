// The CLI's console output read back into a result and its counts, then through the
// completion's rules: no crash, counts never negative, and an answer the completion
// would record is never one of its failure texts.
#include "cli/CliRequest.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string output(fuzz::AsText(AData, ASize));
  const TCliOutcome outcome = InterpretCliOutput(output, "Привет, это запрос");
  TARVOK_FUZZ_CHECK(outcome.Usage.PromptTokens >= 0 && outcome.Usage.CandidatesTokens >= 0);
  const std::string handed = CliCompletionResult(outcome.Result);
  TARVOK_FUZZ_CHECK(!handed.empty());
  if (handed != outcome.Result) TARVOK_FUZZ_CHECK(IsCliFailureResult(handed));
  return 0;
}
