// Reading the CLI's JSON answer: the answer object, the result text and the token counts.
#include <simdjson.h>

#include <cstdint>
#include <limits>
#include <new>
#include <optional>

#include "cli/CliRequest.h"
#include "cli/CliTexts.h"
#include "core/JsonWriter.h"
#include "core/Text.h"

namespace tarvok {
namespace {

void WriteElement(TJsonWriter& AWriter, simdjson::dom::element AValue) {
  using simdjson::dom::element_type;
  switch (AValue.type()) {
    case element_type::OBJECT: {
      simdjson::dom::object object;
      if (AValue.get(object) != simdjson::SUCCESS) break;
      AWriter.BeginObject();
      for (auto field : object) {
        AWriter.Key(field.key);
        WriteElement(AWriter, field.value);
      }
      AWriter.EndObject();
      break;
    }
    case element_type::ARRAY: {
      simdjson::dom::array array;
      if (AValue.get(array) != simdjson::SUCCESS) break;
      AWriter.BeginArray();
      for (auto item : array) WriteElement(AWriter, item);
      AWriter.EndArray();
      break;
    }
    case element_type::STRING: {
      std::string_view text;
      if (AValue.get(text) != simdjson::SUCCESS) break;
      AWriter.String(text);
      break;
    }
    case element_type::INT64: {
      std::int64_t value = 0;
      if (AValue.get(value) != simdjson::SUCCESS) break;
      AWriter.Int(value);
      break;
    }
    case element_type::UINT64: {
      std::uint64_t value = 0;
      if (AValue.get(value) != simdjson::SUCCESS) break;
      AWriter.Double(static_cast<double>(value));
      break;
    }
    case element_type::DOUBLE: {
      double value = 0;
      if (AValue.get(value) != simdjson::SUCCESS) break;
      AWriter.Double(value);
      break;
    }
    case element_type::BOOL: {
      bool value = false;
      if (AValue.get(value) != simdjson::SUCCESS) break;
      AWriter.Bool(value);
      break;
    }
    case element_type::NULL_VALUE:
      AWriter.Null();
      break;
  }
}

std::string JsonText(simdjson::dom::object AObject) {
  std::string out;
  TJsonWriter writer(out);
  writer.BeginObject();
  for (auto field : AObject) {
    writer.Key(field.key);
    WriteElement(writer, field.value);
  }
  writer.EndObject();
  return out;
}

std::optional<std::int32_t> Int32Member(simdjson::dom::object AObject, std::string_view AName) {
  std::int64_t value;
  if (AObject[AName].get_int64().get(value) != simdjson::SUCCESS) return std::nullopt;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void ReadCounts(simdjson::dom::object AObject, std::string_view APrompt, std::string_view ACandidates,
                std::string_view ATotal, TTokenUsage& AUsage) {
  if (auto v = Int32Member(AObject, APrompt)) AUsage.PromptTokens = *v;
  if (auto v = Int32Member(AObject, ACandidates)) AUsage.CandidatesTokens = *v;
  if (auto v = Int32Member(AObject, ATotal)) AUsage.TotalTokens = *v;
}

// The CLI reports tokens per model under stats.models.<model>.tokens; a turn can involve
// several models (a router, a summariser), so the counts are summed.
void ReadModelCounts(simdjson::dom::object AModels, TTokenUsage& AUsage) {
  std::int64_t sums[3] = {0, 0, 0};
  bool seen[3] = {false, false, false};
  static constexpr std::string_view kNames[3] = {"prompt", "candidates", "total"};
  for (auto model : AModels) {
    simdjson::dom::object tokens;
    if (model.value["tokens"].get_object().get(tokens) != simdjson::SUCCESS) continue;
    for (int i = 0; i < 3; ++i) {
      if (auto v = Int32Member(tokens, kNames[i])) {
        sums[i] += *v;
        seen[i] = true;
      }
    }
  }
  std::int32_t* fields[3] = {&AUsage.PromptTokens, &AUsage.CandidatesTokens, &AUsage.TotalTokens};
  for (int i = 0; i < 3; ++i)
    if (seen[i] && sums[i] >= 0 && sums[i] <= std::numeric_limits<std::int32_t>::max())
      *fields[i] = static_cast<std::int32_t>(sums[i]);
}

std::int32_t QuarterLength(std::string_view AText) { return static_cast<std::int32_t>(Utf16Length(AText) / 4); }

}  // namespace

TCliOutcome InterpretCliOutput(const std::string& ARunnerResult, const std::string& APromptText) {
  TCliOutcome out;
  out.Result = ARunnerResult;
  const auto estimateAll = [&] {
    out.Usage.PromptTokens = QuarterLength(APromptText);
    out.Usage.CandidatesTokens = QuarterLength(out.Result);
    out.Usage.TotalTokens = out.Usage.PromptTokens + out.Usage.CandidatesTokens;
  };

  // Every suffix ends where the whole text ends, so one padded copy serves all attempts.
  simdjson::padded_string padded(ARunnerResult);
  if (padded.data() == nullptr) throw std::bad_alloc();
  // A lone surrogate escape in the answer reads as U+FFFD rather than failing the whole answer.
  RepairLoneSurrogateEscapes(padded.data(), padded.size());
  simdjson::dom::parser parser;
  simdjson::dom::object answer;
  bool found = false;
  for (std::size_t brace = ARunnerResult.find('{'); brace != std::string::npos;
       brace = ARunnerResult.find('{', brace + 1)) {
    simdjson::dom::element root;
    if (parser.parse(padded.data() + brace, ARunnerResult.size() - brace, false).get(root) != simdjson::SUCCESS)
      continue;
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS) continue;
    if (object["response"].error() == simdjson::SUCCESS || object["error"].error() == simdjson::SUCCESS) {
      answer = object;
      found = true;
      break;
    }
  }

  if (!found) {
    if (!ARunnerResult.empty()) {
      out.Result = std::string("Error: Failed to parse valid JSON response from Gemini CLI.\r\nRaw Output Start: ") +
                   Utf16Left(ARunnerResult, 200);
      out.Failed = true;
    }
    estimateAll();
    return out;
  }

  try {
    std::string_view response;
    simdjson::dom::object error;
    if (answer["response"].get_string().get(response) == simdjson::SUCCESS) {
      out.Result = std::string(response);
    } else if (answer["error"].get_object().get(error) == simdjson::SUCCESS) {
      // A "message" that is not a string is treated as missing: the error still has to reach
      // the user as a failure, not as the raw output taken for an answer.
      std::string_view message;
      if (error["message"].get_string().get(message) == simdjson::SUCCESS && !message.empty())
        out.Result = std::string(clitexts::kCliErrorPrefix) + std::string(message);
      else
        out.Result = std::string(clitexts::kCliErrorPrefix) + JsonText(error);
      out.Failed = true;
    } else {
      out.Result = std::string(clitexts::kCliInvalidAnswer) + JsonText(answer);
      out.Failed = true;
    }

    simdjson::dom::object usage, stats, tokens, models;
    const bool hasStats = answer["stats"].get_object().get(stats) == simdjson::SUCCESS;
    if (answer["usageMetadata"].get_object().get(usage) == simdjson::SUCCESS)
      ReadCounts(usage, "promptTokenCount", "candidatesTokenCount", "totalTokenCount", out.Usage);
    else if (hasStats && stats["tokens"].get_object().get(tokens) == simdjson::SUCCESS)
      ReadCounts(tokens, "prompt", "candidates", "total", out.Usage);
    else if (hasStats && stats["models"].get_object().get(models) == simdjson::SUCCESS)
      ReadModelCounts(models, out.Usage);

    if (out.Usage.CandidatesTokens < 1) out.Usage.CandidatesTokens = QuarterLength(out.Result);
    if (out.Usage.PromptTokens < 1) out.Usage.PromptTokens = QuarterLength(APromptText);
    if (out.Usage.TotalTokens < 1) out.Usage.TotalTokens = out.Usage.PromptTokens + out.Usage.CandidatesTokens;
  } catch (const std::exception&) {
    out.Result = ARunnerResult;
    out.Usage = {};
    out.Failed = true;  // whatever the output held, no answer was read from it
    estimateAll();
  }
  return out;
}

bool IsCliFailureResult(std::string_view AResult) {
  return StartsWithNoCase(AResult, clitexts::kFailureUpper) || StartsWithNoCase(AResult, clitexts::kFailure) ||
         StartsWithNoCase(AResult, "Error");
}

std::string CliCompletionResult(const std::string& AResult, TResultFlags& AFlags) {
  if (AResult.empty()) {
    AFlags.Failed = true;
    return clitexts::kCliEmptyAnswer;
  }
  // Only our own invalid-answer text gets the prefix; an answer quoting it stays as it is.
  if (AFlags.Failed && AResult.starts_with(clitexts::kCliInvalidAnswer))
    return std::string(clitexts::kCliErrorPrefix) + AResult;
  return AResult;
}

}  // namespace tarvok
