// The CLI's console output read back into a result and its counts, then through the
// completion's rule: no crash, counts never negative, never an empty result, and a text
// the completion changes is always flagged as a failure.
#include "cli/CliRequest.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string output(fuzz::AsText(AData, ASize));
  const TCliOutcome outcome = InterpretCliOutput(output, "Привет, это запрос");
  TARVOK_FUZZ_CHECK(outcome.Usage.PromptTokens >= 0 && outcome.Usage.CandidatesTokens >= 0);
  TResultFlags flags;
  flags.Failed = outcome.Failed;
  const std::string handed = CliCompletionResult(outcome.Result, flags);
  TARVOK_FUZZ_CHECK(!handed.empty());
  if (handed != outcome.Result) TARVOK_FUZZ_CHECK(flags.Failed);
  return 0;
}
