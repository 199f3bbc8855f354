#pragma once
// The environment of the programs Tarvok starts (POSIX). Tarvok's own environment is never
// changed once it runs: setenv beside a getenv or a start on another thread may free what
// that one reads. What a started program should see differently (the proxy the user set,
// the folders a setup added to PATH) is kept here, under a lock, and laid over the
// process's environment for each program as it starts.

#include <optional>
#include <string>
#include <vector>

namespace tarvok {

// AValue replaces the variable for started programs; nullopt gives them the process's own
// value again.
void SetChildVariable(const std::string& AName, std::optional<std::string> AValue);

// The value a program started now sees ("" when it has none).
std::string ChildVariable(const std::string& AName);

// NAME=value entries for a program started now: the process's environment with the
// replaced variables.
std::vector<std::string> ChildEnvironmentEntries();

// Where a program started now by the name AName is found: AName itself when it holds a
// '/', else the first executable file of that name in the folders of the started program's
// PATH; AName unchanged when there is none (starting it then fails as it should).
std::string ProgramForChild(const std::string& AName);

// The entries as the null-terminated array posix_spawn takes; AEntries must outlive it.
std::vector<char*> EnvironmentArray(std::vector<std::string>& AEntries);

}  // namespace tarvok
