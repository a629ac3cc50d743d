// Name fields of the editors (patch, timbre, rhythm setup): only characters with a
// one-byte code on the module may be typed or pasted. A name read from the
// module can hold a byte with no character (shown as U+FFFD); such text is
// "intermediate": it can be edited, but is not sent until that mark is gone.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QValidator>
#include <optional>
#include <string>

#include "device/NameCodec.h"

namespace quorvane::ui {

constexpr int kNameLength = 12;

class NameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        bool replacement = false;
        for (QChar c : input) {
            if (c.unicode() == 0xFFFD) {
                replacement = true;
                continue;
            }
            if (c.isSurrogate() || !quorvane::HasModuleCode(c.unicode())) return Invalid;
        }
        return replacement ? Intermediate : Acceptable;
    }
};

// Makes `edit` a module name field: at most 12 characters, module characters only.
inline void MakeNameField(QLineEdit* edit) {
    edit->setMaxLength(kNameLength);
    edit->setValidator(new NameValidator(edit));
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(kNameLength + 2, 'W')));
}

// Module name bytes as shown in a name field; the trailing blanks are only the
// module's padding (the model pads again when it writes).
inline QString NameForDisplay(const std::string& bytes) {
    QString name = QString::fromStdString(quorvane::NameBytesToUtf8(bytes));
    while (name.endsWith(' ')) name.chop(1);
    return name;
}

// The field's text as module bytes, or nullopt (with a tooltip on the field)
// when it still holds a character the module cannot store.
inline std::optional<std::string> NameToSend(QLineEdit* edit, const QString& text) {
    auto bytes = quorvane::Utf8ToNameBytes(text.toStdString());
    if (!bytes) {
        edit->setToolTip("Remove the marked character: it has no code on the U-220. The name is not sent.");
        return std::nullopt;
    }
    edit->setToolTip(QString());
    return bytes;
}

}  // namespace quorvane::ui
