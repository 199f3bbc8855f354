#pragma once
// Reading a streamed answer (streamGenerateContent with alt=sse): the event-stream framing,
// and the answer gathered from its events, which ends as the same result text that the
// whole answer read at once would give.

#include <functional>
#include <string>
#include <string_view>

#include "core/Types.h"

namespace tarvok {

// Splits a text/event-stream into events as bytes arrive, in reads of any size. Lines end
// in CR LF, LF or CR (also when a CR LF is split between two reads); an empty line ends an
// event, whose "data" lines are joined with LF. Comments and other fields are skipped.
class TSseReader {
 public:
  void Feed(std::string_view ABytes, const std::function<void(std::string_view AData)>& AOnEvent);
  // Bytes of an event that has not ended yet (a stream cut in the middle of one).
  bool InsideEvent() const { return !FLine.empty() || FHasData; }

 private:
  void EndLine(const std::function<void(std::string_view)>& AOnEvent);

  std::string FLine;
  std::string FData;
  bool FHasData = false;
  bool FAfterCr = false;
};

// The answer gathered from the events' JSON objects.
class TStreamAnswer {
 public:
  // Reads one event. Text parts are appended (thought parts skipped); the last event that
  // has "usageMetadata" gives the counts. False when the event is not a JSON object.
  // A member of the wrong kind raises TRequestError, as in the whole answer.
  bool AddEvent(std::string_view AData);

  const std::string& Text() const { return FText; }
  // Thoughts gathered so far, the last thought count and the sources (the service sends
  // them whole in one event, the last one that has any).
  const TAnswerExtras& Extras() const { return FExtras; }
  // A stop reason arrived: the service has sent the whole answer.
  bool Finished() const { return !FFinishReason.empty(); }
  const TTokenUsage& Usage() const { return FUsage; }
  // The result text of the finished stream: the text, a picture's result text, or the
  // failure text the whole answer would give (an error event, a blocked prompt, a stop
  // reason without any text, nothing at all).
  std::string FinalResult() const;
  // The final result is a failure (no answer was received).
  bool FinalFailed() const;

 private:
  std::string FText;
  TAnswerExtras FExtras;
  std::string FPicture;
  TTokenUsage FUsage;
  std::string FFinishReason, FBlockReason, FErrorMessage;
  bool FSawCandidates = false;
};

}  // namespace tarvok
