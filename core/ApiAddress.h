#pragma once
// Every address of the service derives from GeminiApiUrlBase, so that a relay set there
// serves every call: the API root is the part before "/models/" ("https://host/v1beta"),
// the upload root the same with "/upload" before its path ("https://host/upload/v1beta").

#include <string>
#include <string_view>

namespace tarvok {

// The API root of the address pattern: the part before "/models/"; without it, the part
// before the last '/' ahead of the first placeholder.
std::string ApiRootOf(std::string_view AUrlPattern);
// The API root with "/upload" put before its path.
std::string UploadRootOf(std::string_view AUrlPattern);

// AText as one path segment: every byte but the unreserved ones (letters, digits, "-._~")
// percent-encoded, and a segment of dots alone ("." or "..") written with its dots encoded,
// so that no name can add, climb or end a segment, or start the query.
std::string EncodePathSegment(std::string_view AText);
// AText as a query value: as a path segment, the dots kept.
std::string EncodeQueryValue(std::string_view AText);

}  // namespace tarvok
