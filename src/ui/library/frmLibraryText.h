// Small text helpers the library window's files share.
#pragma once

#include <QString>
#include <cstddef>
#include <string>

namespace quorvane::ui::library_window {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

inline QString Capital(const QString& s) { return s.left(1).toUpper() + s.mid(1); }

inline QString Plural(size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

}  // namespace quorvane::ui::library_window
