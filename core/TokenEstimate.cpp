#include "core/TokenEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include <simdjson.h>
#include <stb/stb_image.h>

#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TextAttachment.h"

namespace tarvok {
namespace {

bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

bool FileExists(const std::string& name, std::uintmax_t* size = nullptr) {
  if (name.empty()) return false;
  std::error_code ec;
  const auto path = PathFromUtf8(name);
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  if (size) {
    *size = std::filesystem::file_size(path, ec);
    if (ec) *size = 0;
  }
  return true;
}

double FileSizeTokens(const std::string& name) {
  std::uintmax_t size = 0;
  if (!FileExists(name, &size)) return 0;
  return static_cast<double>(size) / 1048576.0 * 9600.0;
}

// BMP, JPEG, PNG and GIF by their signatures. The decoder also guesses TGA, which has
// none, and would take arbitrary bytes for a picture.
bool IsKnownPicture(const unsigned char (&h)[8]) {
  static constexpr unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (std::memcmp(h, kPng, 8) == 0) return true;
  if (h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return true;
  if (std::memcmp(h, "GIF87a", 6) == 0 || std::memcmp(h, "GIF89a", 6) == 0) return true;
  return h[0] == 'B' && h[1] == 'M';
}

// A JPEG Huffman table holds at most 256 codes, but stb_image 2.27 (Debian's) builds one
// from whatever counts the file gives and writes past its 256 slots. Walks the segments
// before the frame header as the decoder does and says false for such a table, as newer
// stb versions do. Anything else that is wrong is left to the decoder to refuse.
bool JpegHuffmanTablesFit(std::FILE* f) {
  // The decoder reads zeros past the end of the file, and so does this walk.
  const auto get8 = [f] {
    const int c = std::fgetc(f);
    return c == EOF ? 0 : c;
  };
  if (get8() != 0xFF || get8() != 0xD8) return true;
  for (;;) {
    int marker = get8();
    while (marker != 0xFF) {  // the decoder scans over padding between segments
      if (std::feof(f)) return true;
      marker = get8();
    }
    while (marker == 0xFF) marker = get8();
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) return true;
    const int high = get8(), low = get8();
    long left = (high << 8 | low) - 2;
    if (marker != 0xC4) {
      if (left < 0 || std::fseek(f, left, SEEK_CUR) != 0) return true;
      continue;
    }
    while (left > 0) {
      get8();  // table class and number
      int codes = 0;
      for (int i = 0; i < 16; ++i) codes += get8();
      if (codes > 256) return false;
      if (std::feof(f) || std::fseek(f, codes, SEEK_CUR) != 0) return true;
      left -= 17 + codes;
    }
  }
}

}  // namespace

bool GetImageDimensions(const std::string& AFileName, int& AWidth, int& AHeight) {
  AWidth = AHeight = 0;
  // Only a regular file: opening a FIFO or a device named like a picture would block.
  if (!FileExists(AFileName)) return false;
  std::FILE* f = OpenFileForReading(AFileName);
  if (!f) return false;
  unsigned char head[8] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, f);
  int w = 0, h = 0, comp = 0;
  const int ok = got == sizeof head && IsKnownPicture(head) && std::fseek(f, 0, SEEK_SET) == 0 &&
                 JpegHuffmanTablesFit(f) && std::fseek(f, 0, SEEK_SET) == 0 && stbi_info_from_file(f, &w, &h, &comp);
  std::fclose(f);
  if (!ok || w <= 0 || h <= 0) return false;
  AWidth = w;
  AHeight = h;
  return true;
}

int CountTokens(const TContentParts& AParts) {
  double total = 0;
  for (const TContentPart& part : AParts) {
    if (part.PartType == TPartType::ptText) {
      total += static_cast<double>(Utf16Length(part.Text)) / 3.5;
    } else if (part.PartType == TPartType::ptInlineData) {
      if (StartsWithAsciiNoCase(part.MimeType, "image/")) {
        int w, h;
        if (GetImageDimensions(part.FileName, w, h)) {
          total += 258;
          if (w > 512 || h > 512) total += 2.0 * std::ceil(w / 512.0) * std::ceil(h / 512.0);
        } else {
          total += FileSizeTokens(part.FileName);
        }
      } else if (StartsWithAsciiNoCase(part.MimeType, "text/")) {
        if (!part.Text.empty()) total += static_cast<double>(Utf16Length(part.Text)) / 3.5;
        else if (FileExists(part.FileName)) total += static_cast<double>(Utf16Length(SanitizeTextFile(part.FileName))) / 3.5;
      } else {
        total += FileSizeTokens(part.FileName);
      }
    }
  }
  if (total < 1 && !AParts.empty()) {
    const TContentPart& first = AParts.front();
    if ((first.PartType == TPartType::ptInlineData && FileExists(first.FileName)) ||
        (first.PartType == TPartType::ptText && !first.Text.empty()))
      return 1;
  }
  // A picture header may claim 2^31 pixels a side; the estimate stops at the largest int.
  return static_cast<int>(std::min(std::ceil(total), static_cast<double>(std::numeric_limits<int>::max())));
}

int CountTokensForHistory(const TChatHistory& AHistory) {
  std::uint32_t sum = 0;  // wraps as 32-bit arithmetic does, without undefined overflow
  for (const THistoryItem& item : AHistory) sum += static_cast<std::uint32_t>(item.TokenCount);
  return static_cast<std::int32_t>(sum);
}

}  // namespace tarvok
