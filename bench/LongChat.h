#pragma once
// A long stored conversation of plain Markdown turns: a question with a line break and an
// answer with a list, a code block and a table. Opened by ChatRenderBench and WindowBench.

#include <string>

#include "core/Types.h"

namespace tarvok::bench {

inline TChatHistory MakeLongChat(int ATurns) {
  TChatHistory history;
  for (int i = 0; i < ATurns; ++i) {
    history.push_back({"user", {{TPartType::ptText, "Question " + std::to_string(i) + " about a < b\r\nand more", "", {}, ""}},
                       12, 45000.5, "", ""});
    history.push_back({"model",
                       {{TPartType::ptText,
                         "An **answer** with a list:\n\n- one\n- two\n\n```cpp\nint f(int x) { return x * " +
                             std::to_string(i) + "; }\n```\n\n| a | b |\n|---|---|\n| 1 | 2 |\n",
                         "", {}, ""}},
                       80, 45000.5, "gemini-2.5-pro", "7"});
  }
  return history;
}

}  // namespace tarvok::bench
