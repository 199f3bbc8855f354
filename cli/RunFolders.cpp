// Run folders named after their program's process, and removing those whose program is gone
// (ended by a signal or a crash before it could remove them).
#include <cctype>
#include <charconv>
#include <system_error>

#include "core/Platform.h"

#include "cli/PrivateFiles.h"

namespace tarvok {
namespace {

// The runs that make folders: a CLI request and the setup scripts.
constexpr const char* kRunBases[] = {"GeminiCLI", "gemini_check", "gemini_setup", "gemini_update",
                                     "gemini_uninstall"};

// The owning process of a run folder's name "<base>_<pid>_<random>", or 0 when the name is
// not one of ours.
std::uint64_t OwnerOfRunFolder(std::string_view AName) {
  for (std::string_view base : kRunBases) {
    if (!AName.starts_with(base) || AName.size() <= base.size() || AName[base.size()] != '_') continue;
    std::string_view rest = AName.substr(base.size() + 1);
    const std::size_t cut = rest.find('_');
    if (cut == std::string_view::npos || cut == 0) return 0;
    std::uint64_t pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + cut, pid);
    if (error != std::errc() || end != rest.data() + cut) return 0;
    const std::string_view random = rest.substr(cut + 1);
    // mkdtemp's six characters here, twelve of our own on Windows.
    if (random.size() < 6 || random.size() > 12) return 0;
    for (char c : random)
      if (!std::isalnum(static_cast<unsigned char>(c))) return 0;
    return pid;
  }
  return 0;
}

}  // namespace

std::string RunFolderPrefix(const std::string& ABaseName) {
  return ABaseName + "_" + std::to_string(CurrentProcessIdNumber()) + "_";
}

int RemoveStaleRunFolders(const std::filesystem::path& AParent) {
  if (!IsPrivateFolderOfOurs(AParent)) return 0;
  int removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(AParent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path folder = it->path();
    const std::uint64_t owner = OwnerOfRunFolder(PathToUtf8(folder.filename()));
    if (owner == 0 || owner == CurrentProcessIdNumber() || ProcessIsRunning(owner)) continue;
    if (!IsPrivateFolderOfOurs(folder)) continue;  // a link, someone else's, or open to others
    EndRunsIn(folder);
    // remove_all takes links inside away as links, never what they point to.
    std::error_code removeError;
    if (std::filesystem::remove_all(folder, removeError) != static_cast<std::uintmax_t>(-1) && !removeError) ++removed;
  }
  return removed;
}

int RemoveStaleRunFolders() {
  int removed = 0;
  for (const auto& folder : ExistingUserPrivateFolders()) removed += RemoveStaleRunFolders(folder);
  return removed;
}

}  // namespace tarvok
