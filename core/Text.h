#pragma once
// UTF-8 text helpers. Text inside the program is UTF-8; lengths and cuts that the
// behaviour counts in UTF-16 code units go through these.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvok {

// Number of UTF-16 code units of a UTF-8 text (invalid bytes count as one unit each).
std::size_t Utf16Length(std::string_view AUtf8);
// The first ACount UTF-16 code units; a surrogate pair is never split (the cut falls before it).
std::string Utf16Left(std::string_view AUtf8, std::size_t ACount);

std::u16string Utf8ToUtf16(std::string_view AUtf8);
// Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view AUtf16);
// UTF-16 held as bytes (a file's content after its byte-order mark) and back; an odd
// last byte is dropped.
std::string Utf16BytesToUtf8(std::string_view ABytes, bool ABigEndian);
std::string Utf8ToUtf16Bytes(std::string_view AUtf8, bool ABigEndian);
// Decodes code points one at a time; invalid bytes decode to U+FFFD, one byte each.
// Returns the number of bytes consumed (at least 1 when AText is not empty).
std::size_t DecodeUtf8Char(std::string_view AText, char32_t& ACodePoint);
void AppendUtf8(std::string& AOut, char32_t ACodePoint);

// Replaces invalid UTF-8 sequences by U+FFFD so that the text is safe to hand on.
std::string MakeValidUtf8(std::string_view ABytes);

// JSON text: every \u escape of a surrogate that is not one half of a pair becomes \uFFFD
// (the same length, so the text is changed in place), as an invalid UTF-8 byte reads as
// U+FFFD. Returns whether anything changed. Escaped backslashes are respected.
bool RepairLoneSurrogateEscapes(char* AJson, std::size_t ALength);

// Blanks and control characters (<= U+0020) trimmed from both ends, as the toolkit's Trim does.
std::string_view Trim(std::string_view AText);
// The value of one Base64 digit (A-Z a-z 0-9 + /), or -1 for any other character.
int Base64DigitValue(unsigned char c);
bool StartsWithNoCase(std::string_view AText, std::string_view APrefix);  // full Unicode-insensitive for ASCII and Cyrillic
std::string LowerCase(std::string_view AText);  // Unicode simple lower-case mapping
bool SameTextNoCase(std::string_view A, std::string_view B);

}  // namespace tarvok
