#pragma once
// The app's edge between UTF-8 std::string and QString.

#include <QString>
#include <string>
#include <string_view>

namespace tarvok {

inline QString Q(std::string_view AUtf8) { return QString::fromUtf8(AUtf8.data(), static_cast<qsizetype>(AUtf8.size())); }
inline std::string S(const QString& AText) { return AText.toUtf8().toStdString(); }

}  // namespace tarvok
