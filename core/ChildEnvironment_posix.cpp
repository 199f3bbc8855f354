#include "core/ChildEnvironment.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace tarvok {
namespace {

struct TReplaced {
  std::mutex Lock;
  std::map<std::string, std::string> Values;
};

TReplaced& Replaced() {
  static TReplaced replaced;
  return replaced;
}

}  // namespace

void SetChildVariable(const std::string& AName, std::optional<std::string> AValue) {
  TReplaced& r = Replaced();
  std::lock_guard lock(r.Lock);
  if (AValue) r.Values[AName] = std::move(*AValue);
  else r.Values.erase(AName);
}

std::string ChildVariable(const std::string& AName) {
  TReplaced& r = Replaced();
  {
    std::lock_guard lock(r.Lock);
    if (auto it = r.Values.find(AName); it != r.Values.end()) return it->second;
  }
  const char* own = std::getenv(AName.c_str());
  return own ? own : "";
}

std::vector<std::string> ChildEnvironmentEntries() {
  TReplaced& r = Replaced();
  std::map<std::string, std::string> replaced;
  {
    std::lock_guard lock(r.Lock);
    replaced = r.Values;
  }
  std::vector<std::string> entries;
  for (char** e = environ; e && *e; ++e) {
    const char* equals = std::strchr(*e, '=');
    if (equals && replaced.count(std::string(*e, static_cast<std::size_t>(equals - *e)))) continue;
    entries.emplace_back(*e);
  }
  for (const auto& [name, value] : replaced) entries.push_back(name + "=" + value);
  return entries;
}

std::string ProgramForChild(const std::string& AName) {
  if (AName.empty() || AName.find('/') != std::string::npos) return AName;
  const std::string path = ChildVariable("PATH");
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";  // an empty entry is the working folder, as for the shell
    const std::string candidate = dir + "/" + AName;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return AName;
}

std::vector<char*> EnvironmentArray(std::vector<std::string>& AEntries) {
  std::vector<char*> array;
  array.reserve(AEntries.size() + 1);
  for (auto& e : AEntries) array.push_back(e.data());
  array.push_back(nullptr);
  return array;
}

}  // namespace tarvok
