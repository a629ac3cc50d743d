// Where the program keeps what it remembers between runs (the last ports, the
// device ID, the pause between messages, window positions): the user's
// settings under the application's name.
#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <memory>

namespace quorvane::ui {

inline std::unique_ptr<QSettings> AppSettings() {
    QString org = QCoreApplication::organizationName();
    QString app = QCoreApplication::applicationName();
    if (app.isEmpty()) app = QStringLiteral("Quorvane");
    if (org.isEmpty()) org = app;
    return std::make_unique<QSettings>(org, app);
}

}  // namespace quorvane::ui
