#pragma once
// The stand-in `gemini` of the window's CLI tests (POSIX shell). It records its standard
// input and working folder in ARecordDir and prints the file "output" found there; while
// a file "block" is there it first runs on, with a child, until it is ended.

#include <string>

namespace tarvok::test {

inline std::string StandInCliScript(const std::string& ARecordDir) {
  return "#!/bin/sh\n"
         "R='" + ARecordDir + "'\n"
         "cat > \"$R/stdin\"\n"
         "pwd > \"$R/cwd\"\n"
         "if [ -f \"$R/block\" ]; then sleep 1000 & echo $! > \"$R/child.pid.part\" && mv \"$R/child.pid.part\" \"$R/child.pid\"; wait; fi\n"
         "cat \"$R/output\"\n";
}

}  // namespace tarvok::test
