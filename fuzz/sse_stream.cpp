// The reader of a streamed answer on any bytes: no crash; the reads the bytes arrive in
// change nothing (the same events, the same answer); and a stream of one event ends as
// that event read as a whole answer would.
//
// Input: byte 0 gives a count N (0..15), the next 2*N bytes the sizes of the first N reads
// (little-endian; 0 is an empty read); the rest is the stream, and what the planned reads
// leave of it comes as one last read.
#include <simdjson.h>

#include <functional>
#include <string>
#include <vector>

#include "core/CoreTexts.h"
#include "core/StreamReader.h"
#include "core/WireFormat.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace tarvok;

struct TFed {
  std::vector<std::string> Events;
  bool Inside = false;
};

TFed FeedInReads(std::string_view AStream, const std::vector<std::size_t>& AReads) {
  TSseReader reader;
  TFed fed;
  const std::function<void(std::string_view)> onEvent = [&](std::string_view AEvent) { fed.Events.emplace_back(AEvent); };
  std::size_t at = 0;
  for (const std::size_t n : AReads) {
    const std::size_t take = std::min(n, AStream.size() - at);
    reader.Feed(AStream.substr(at, take), onEvent);
    at += take;
  }
  reader.Feed(AStream.substr(at), onEvent);
  fed.Inside = reader.InsideEvent();
  return fed;
}

struct TOutcome {
  bool Raised = false;
  std::string Result, Text;
  bool Failed = false;
  TTokenUsage Usage;
  bool operator==(const TOutcome&) const = default;
};

TOutcome Gather(const std::vector<std::string>& AEvents) {
  TStreamAnswer answer;
  TOutcome out;
  try {
    for (const std::string& e : AEvents) answer.AddEvent(e);
  } catch (const TRequestError&) {
    out.Raised = true;
  }
  out.Result = answer.FinalResult();
  out.Text = answer.Text();
  out.Failed = answer.FinalFailed();
  out.Usage = answer.Usage();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::string_view input = fuzz::AsText(AData, ASize);
  std::vector<std::size_t> plan;
  std::size_t at = 0;
  if (!input.empty()) {
    const std::size_t count = static_cast<std::uint8_t>(input[0]) % 16;
    at = 1;
    for (std::size_t i = 0; i < count && at + 2 <= input.size(); ++i, at += 2)
      plan.push_back(static_cast<std::uint8_t>(input[at]) | static_cast<std::size_t>(static_cast<std::uint8_t>(input[at + 1])) << 8);
  }
  const std::string_view stream = input.substr(std::min(at, input.size()));

  const TFed whole = FeedInReads(stream, {});
  const TFed planned = FeedInReads(stream, plan);
  const TFed bytes = FeedInReads(stream, std::vector<std::size_t>(stream.size(), 1));
  TARVOK_FUZZ_CHECK(planned.Events == whole.Events && planned.Inside == whole.Inside);
  TARVOK_FUZZ_CHECK(bytes.Events == whole.Events && bytes.Inside == whole.Inside);

  const TOutcome streamed = Gather(whole.Events);
  TARVOK_FUZZ_CHECK(Gather(whole.Events) == streamed);  // nothing carried over between answers
  // A finished answer always says something, unless it is a plain success without text.
  TARVOK_FUZZ_CHECK(!streamed.Failed || !streamed.Result.empty());

  // One event: the answer the same body gives unstreamed (a body that is no JSON object
  // is the empty-answer failure there).
  if (whole.Events.size() == 1) {
    TOutcome read;
    std::string body;
    body.reserve(whole.Events[0].size() + simdjson::SIMDJSON_PADDING);
    body = whole.Events[0];
    try {
      read.Failed = ReadResponseBody(body, read.Result, read.Usage);
      if (!read.Failed && read.Result.empty() && !IsJsonObjectBody(body)) {
        read.Result = texts::kEmptyAnswer;
        read.Failed = true;
      }
    } catch (const TRequestError&) {
      read.Raised = true;
    }
    TARVOK_FUZZ_CHECK(read.Raised == streamed.Raised);
    if (!read.Raised) {
      TARVOK_FUZZ_CHECK(read.Result == streamed.Result);
      TARVOK_FUZZ_CHECK(read.Failed == streamed.Failed);
      TARVOK_FUZZ_CHECK(read.Usage == streamed.Usage);
    }
  }
  return 0;
}
