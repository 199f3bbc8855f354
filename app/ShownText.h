#pragma once
// Names, paths, answers and error texts shown in the window's own widgets: always as
// plain text (a chat named "<img src=x>" must not draw an image), and without the
// bidirectional control characters that make a name read as another.

#include <QStyledItemDelegate>
#include <QString>

namespace tarvok {

// AText without U+202A..U+202E and U+2066..U+2069.
QString ShownText(const QString& AText);

// A list whose entries are file or chat names draws them through ShownText; the entries
// themselves keep the names as stored.
class TShownNameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& AValue, const QLocale& ALocale) const override;
};

}  // namespace tarvok
