#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "cli/ConsoleRunner.h"

namespace tarvok {
namespace {

TEST(SplitCommandLine, FollowsShellQuoting) {
  struct {
    const char* Name;
    const char* Line;
    bool Ok;
    std::vector<std::string> Args;
  } cases[] = {
      {"plain words", "  echo  a\tb ", true, {"echo", "a", "b"}},
      {"single quotes are literal", R"(x 'a "b" \n' c)", true, {"x", R"(a "b" \n)", "c"}},
      {"double quotes escape only \" \\ $ `", R"(x "a \"b\" \\ \$ \n")", true, {"x", R"(a "b" \ $ \n)"}},
      {"adjacent pieces join", R"(x a'b'"c"\ d)", true, {"x", "ab" "c d"}},
      {"empty quoted argument", "x '' \"\"", true, {"x", "", ""}},
      {"escaped quote in single quotes via ShellQuote", "x 'it'\\''s'", true, {"x", "it's"}},
      {"open single quote", "x 'abc", false, {}},
      {"open double quote", "x \"abc", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    EXPECT_EQ(SplitCommandLine(c.Line, args), c.Ok) << c.Name;
    if (c.Ok) {
      EXPECT_EQ(args, c.Args) << c.Name;
    }
  }
  for (const std::string text : {"", "plain", "it's", "a\"b\\c$d`e'f", " lead and trail "}) {
    std::vector<std::string> args;
    ASSERT_TRUE(SplitCommandLine("x " + ShellQuote(text), args)) << text;
    EXPECT_EQ(args, (std::vector<std::string>{"x", text})) << text;
  }
}

}  // namespace
}  // namespace tarvok
