#pragma once
// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). Attachments reach
// hundreds of megabytes, so both directions are table-driven and work on whole words.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvok {

constexpr std::size_t Base64EncodedLength(std::size_t ABytes) { return (ABytes + 2) / 3 * 4; }

std::string Base64Encode(std::string_view AData);
// Appends the encoding to AOut (one allocation for the whole result).
void Base64EncodeAppend(std::string& AOut, std::string_view AData);

// Decodes standard Base64. CR, LF, tab and space anywhere are skipped, and missing
// padding is accepted. False (AOut unspecified) for any other character outside the
// alphabet, a misplaced "=" or a length that cannot be Base64.
bool Base64Decode(std::string_view AText, std::string& AOut);

// True when every character belongs to the alphabet or is "=": such a text needs no
// JSON escape except for "/".
bool IsBase64Text(std::string_view AText);

// Copies Base64 text into AOut as the content of a JSON string: every "/" becomes "\/",
// the only escape such text needs. Stops before the first character that is neither in
// the alphabet nor "=" (what follows needs full JSON escaping). AOut needs room for two
// characters per character of AText. Returns how many characters of AText were copied
// and sets AWritten to the characters put in AOut.
std::size_t Base64ToJsonString(std::string_view AText, char* AOut, std::size_t& AWritten);

// The reverse, for the content of a JSON string (without its quotes): every "\/" becomes
// "/". False, AOut unspecified, when the content holds anything but the alphabet, "="
// and that escape.
bool Base64FromJsonString(std::string_view AContent, std::string& AOut);

}  // namespace tarvok
