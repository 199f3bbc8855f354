#pragma once
// The one decoding of a text attachment used everywhere (the estimate, the request, the
// context label): byte-order marks, UTF-16, invalid bytes and the legacy code page.

#include <string>
#include <string_view>

namespace tarvok {

// The file's content decoded to UTF-8: by byte-order mark (kept, as U+FEFF), else UTF-8
// when structurally valid, else the legacy code page. Empty when missing, empty or unreadable.
std::string SanitizeTextFile(const std::string& AFileName);
// The same decoding for bytes already in memory.
std::string DecodeTextBytes(std::string_view ABytes);
// Structural UTF-8 check: overlong forms, surrogates and values above U+10FFFF pass.
bool IsValidUtf8(std::string_view ABuffer);

}  // namespace tarvok
