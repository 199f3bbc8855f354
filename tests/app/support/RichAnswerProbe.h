#pragma once
// One answer that holds what the page decorates (a C++ block, a table with a formula, a
// display formula) beside dollars and shell text that must stay as written, and the
// checks that the page shows it decorated.

#include <gtest/gtest.h>

#include <QTest>
#include <QVariant>
#include <string>

#include "app/WebChatPage.h"

namespace tarvok {

inline constexpr int kRichWaitMs = 30000;

inline constexpr const char* kRichSampleAnswer =
    "Быстрая сортировка на C++:\n\n"
    "```cpp\n"
    "#include <vector>\n"
    "// Разделение вокруг опорного элемента\n"
    "int partition(std::vector<int>& a, int lo, int hi) {\n"
    "    int pivot = a[hi];\n"
    "    return lo + 42;\n"
    "}\n"
    "```\n\n"
    "| Алгоритм | В среднем | Худший случай |\n"
    "|---|---|---|\n"
    "| Быстрая сортировка | $O(n \\log n)$ | $O(n^2)$ |\n\n"
    "Среднее число сравнений: $$C(n) \\approx 2n \\ln n$$\n\n"
    "Книга стоит $5, а с доставкой $10. Переменная окружения: `echo $HOME`.\n";

// How many different colours the tokens of the first coloured code block are drawn in.
inline constexpr const char* kDistinctCodeColours =
    "(function(){var c=document.querySelector('pre code.hljs');if(!c)return 0;var s=new Set();"
    "c.querySelectorAll('span').forEach(function(e){s.add(getComputedStyle(e).color);});return s.size;})()";

inline QVariant EvalInPage(WebChatPage& APage, const std::string& AScript) {
  bool done = false;
  QVariant value;
  APage.EvaluateScript(AScript, [&](const QVariant& AValue) {
    value = AValue;
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kRichWaitMs)) << AScript;
  return value;
}

// The bubble ABubble (a selector) shows kRichSampleAnswer decorated.
inline void ExpectRichSampleShown(WebChatPage& APage, const std::string& ABubble) {
  const std::string bubble = "document.querySelector('" + ABubble + "')";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return EvalInPage(APage, "(function(){var b=" + bubble + ";return b?b.querySelectorAll('.math .katex').length:0;})()").toInt() >= 3; },
      kRichWaitMs));
  EXPECT_EQ(EvalInPage(APage, bubble + ".querySelectorAll('.math .katex').length").toInt(), 3);
  EXPECT_EQ(EvalInPage(APage, bubble + ".querySelectorAll('.math-error').length").toInt(), 0);
  EXPECT_GE(EvalInPage(APage, kDistinctCodeColours).toInt(), 3);
  const QString shown = EvalInPage(APage, bubble + ".innerText").toString();
  for (const char* raw : {"\\log", "$O(", "$$", "\\approx"}) EXPECT_FALSE(shown.contains(QString::fromUtf8(raw))) << raw;
  for (const char* kept : {"$5", "$10", "echo $HOME", "int pivot = a[hi];"})
    EXPECT_TRUE(shown.contains(QString::fromUtf8(kept))) << kept;
  EXPECT_EQ(EvalInPage(APage, "(function(){var d=" + bubble + ".querySelector('td');var s=getComputedStyle(d);"
                              "return s.borderTopStyle+' '+s.borderLeftStyle+' '+(parseFloat(s.borderTopWidth)>0);})()")
                .toString(),
            "solid solid true");
  // The formulas are drawn in KaTeX's own fonts, which came with the page, not from anywhere else.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return EvalInPage(APage, "Array.from(document.fonts).some(function(f){return f.family.replace(/\"/g,'')==="
                                 "'KaTeX_Main'&&f.status==='loaded';})")
            .toBool();
      },
      kRichWaitMs));
}

}  // namespace tarvok
