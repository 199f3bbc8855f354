#include "app/ShownText.h"

#include "app/QtText.h"
#include "view/MessageRender.h"

namespace tarvok {

QString ShownText(const QString& AText) { return Q(StripBidiControls(S(AText))); }

QString TShownNameDelegate::displayText(const QVariant& AValue, const QLocale& ALocale) const {
  return ShownText(QStyledItemDelegate::displayText(AValue, ALocale));
}

}  // namespace tarvok
