#pragma once
// A conversation that carries hundreds of megabytes of attachments, the shape a long
// chat with PDFs and pictures takes: user turns with two attachments each and text
// answers between them. Every attachment has a buffer of its own.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "core/Platform.h"
#include "core/Types.h"
#include "storage/Base64.h"

namespace tarvok::bench {

// A pass over hundreds of megabytes takes about a second: a few of them steady the figure
// whatever minimum time the command line asks for.
inline constexpr double kHeavyMinTime = 2.0;

inline std::string RandomBytes(std::size_t ASize, std::uint64_t ASeed) {
  std::string s(ASize, '\0');
  std::mt19937_64 rng(ASeed);
  std::size_t i = 0;
  for (; i + 8 <= ASize; i += 8) {
    const auto v = rng();
    std::memcpy(s.data() + i, &v, 8);
  }
  for (; i < ASize; ++i) s[i] = static_cast<char>(rng());
  return s;
}

// The Base64 of RandomBytes(ASize, ASeed), made a block at a time: the raw bytes are never
// whole in memory, so a history of hundreds of megabytes costs its Base64 and no more (the
// peak-memory row measures the process that holds it).
inline std::string RandomBase64(std::size_t ASize, std::uint64_t ASeed) {
  // Whole Base64 groups (3 bytes) of whole draws (8 bytes): the blocks encode to the same
  // text as the bytes at once.
  constexpr std::size_t kBlock = 3 * 8 * 16384;
  std::string out;
  out.reserve(Base64EncodedLength(ASize));
  std::string block;
  std::mt19937_64 rng(ASeed);
  for (std::size_t done = 0; done < ASize; done += kBlock) {
    const std::size_t n = std::min(kBlock, ASize - done);
    block.resize(n);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      const auto v = rng();
      std::memcpy(block.data() + i, &v, 8);
    }
    for (; i < n; ++i) block[i] = static_cast<char>(rng());
    Base64EncodeAppend(out, block);
  }
  return out;
}

// AAttachments parts of ARawBytes each (Base64 makes them a third larger), two per user turn.
inline TChatHistory MakeBigHistory(int AAttachments, std::size_t ARawBytes) {
  TChatHistory history;
  for (int a = 0; a < AAttachments; a += 2) {
    THistoryItem user;
    user.Role = "user";
    user.Timestamp = 45600.5 + a / 100.0;
    user.Parts.push_back({TPartType::ptText, "Сравни эти документы, раздел " + std::to_string(a), "", {}, ""});
    for (int k = a; k < a + 2 && k < AAttachments; ++k)
      user.Parts.push_back({TPartType::ptInlineData, "", "application/pdf",
                            TSharedText(RandomBase64(ARawBytes, 1000 + static_cast<std::uint64_t>(k))),
                            "/home/user/Documents/report_" + std::to_string(k) + ".pdf"});
    user.TokenCount = 1500;
    history.push_back(std::move(user));

    THistoryItem model;
    model.Role = "model";
    model.Timestamp = user.Timestamp + 0.001;
    model.ModelName = "gemini-2.5-pro";
    model.Duration = "12";
    model.Parts.push_back({TPartType::ptText,
                           "## Сравнение\n\nВ первом документе **выручка** выросла, во втором — нет.\n\n"
                           "| раздел | итог |\n|---|---|\n| " + std::to_string(a) + " | рост |\n",
                           "", {}, ""});
    model.TokenCount = 400;
    history.push_back(std::move(model));
  }
  return history;
}

inline std::size_t AttachmentBytes(const TChatHistory& AHistory) {
  std::size_t n = 0;
  for (const THistoryItem& item : AHistory)
    for (const TContentPart& part : item.Parts) n += part.Base64Data.size();
  return n;
}

// Counts the attachments of ACopy that share their buffer with AOriginal's.
inline int SharedAttachments(const TChatHistory& AOriginal, const TChatHistory& ACopy) {
  int shared = 0;
  for (std::size_t i = 0; i < AOriginal.size() && i < ACopy.size(); ++i)
    for (std::size_t j = 0; j < AOriginal[i].Parts.size() && j < ACopy[i].Parts.size(); ++j)
      if (AOriginal[i].Parts[j].Base64Data.SharesWith(ACopy[i].Parts[j].Base64Data)) ++shared;
  return shared;
}

// A folder of its own in the temporary folder, removed with the value.
class TScratchDir {
 public:
  explicit TScratchDir(const std::string& AName)
      : FPath(TempDir() / (AName + "-" + std::to_string(std::random_device{}()))) {
    std::filesystem::create_directories(FPath);
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

}  // namespace tarvok::bench
