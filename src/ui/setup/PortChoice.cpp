#include "ui/setup/PortChoice.h"

#include <QSettings>
#include <algorithm>

#include "device/clsU220.h"
#include "ui/setup/AppSettings.h"

namespace quorvane::ui {

int InputIndexOf(clsU220& model, const PortChoice& c) {
    if (c.virtualIn) return 0;
    midi::MIDIInput& in = *model.MIDIInput1;
    const int n = in.deviceCount();
    for (int i = 1; i < n; ++i)
        if (QString::fromStdString(in.deviceName(i)) == c.in) return i;
    return -2;
}

int OutputIndexOf(clsU220& model, const PortChoice& c) {
    if (c.virtualOut) return -1;
    midi::MIDIOutput& out = *model.MIDIOutput1;
    const int n = out.deviceCount();
    for (int i = 0; i < n; ++i)
        if (QString::fromStdString(out.deviceName(i)) == c.out) return i;
    return -2;
}

bool OpenChoice(clsU220& model, const PortChoice& c, QString* error, bool openIn, bool openOut) {
    // Errors while opening come back here, not as message boxes: the caller
    // says what happened in its own words.
    QString said;
    auto collect = [&said](int, const std::string& text) {
        if (!said.isEmpty()) said += QLatin1Char(' ');
        said += QString::fromStdString(text);
    };
    midi::MIDIInput& in = *model.MIDIInput1;
    midi::MIDIOutput& out = *model.MIDIOutput1;
    const auto inHandler = in.onError;
    const auto outHandler = out.onError;
    in.onError = collect;
    out.onError = collect;

    bool ok = true;
    if (openIn) {
        const int i = InputIndexOf(model, c);
        if (i == -2) {
            collect(0, "The MIDI In device \"" + c.in.toStdString() + "\" is not listed.");
            ok = false;
        } else {
            ok = in.open(i) && ok;
        }
    }
    if (openOut) {
        const int o = OutputIndexOf(model, c);
        if (o == -2) {
            collect(0, "The MIDI Out device \"" + c.out.toStdString() + "\" is not listed.");
            ok = false;
        } else {
            if (o >= 0) out.setSendGapMs(c.sendGapMs);
            ok = out.open(o) && ok;
        }
    }
    in.onError = inHandler;
    out.onError = outHandler;
    model.DeviceID(static_cast<int16_t>(c.deviceId));
    if (error) *error = said;
    return ok;
}

QString MainWindowTitle(const PortChoice& c) {
    return c.real() ? QStringLiteral("Quorvane") : QStringLiteral("Quorvane \u2014 virtual U-220");
}

PortChoice LoadLastChoice() {
    const auto settings = AppSettings();
    QSettings& s = *settings;
    s.beginGroup(QStringLiteral("connection"));
    PortChoice c;
    c.in = s.value(QStringLiteral("in")).toString();
    c.out = s.value(QStringLiteral("out")).toString();
    c.virtualIn = s.value(QStringLiteral("virtualIn"), true).toBool() || c.in.isEmpty();
    c.virtualOut = s.value(QStringLiteral("virtualOut"), true).toBool() || c.out.isEmpty();
    bool ok = false;
    const int id = s.value(QStringLiteral("deviceId"), 16).toInt(&ok);
    c.deviceId = ok && id >= 0 && id <= 31 ? id : 16;
    const int gap = s.value(QStringLiteral("sendGapMs"), kDefaultSendGapMs).toInt(&ok);
    c.sendGapMs = ok ? std::clamp(gap, 0, kMaxSendGapMs) : kDefaultSendGapMs;
    return c;
}

void SaveLastChoice(const PortChoice& c) {
    const auto settings = AppSettings();
    QSettings& s = *settings;
    s.beginGroup(QStringLiteral("connection"));
    s.setValue(QStringLiteral("in"), c.virtualIn ? QString() : c.in);
    s.setValue(QStringLiteral("out"), c.virtualOut ? QString() : c.out);
    s.setValue(QStringLiteral("virtualIn"), c.virtualIn);
    s.setValue(QStringLiteral("virtualOut"), c.virtualOut);
    s.setValue(QStringLiteral("deviceId"), c.deviceId);
    s.setValue(QStringLiteral("sendGapMs"), c.sendGapMs);
}

QString RequestWords(RequestKind what) {
    switch (what) {
        case RequestKind::MasterSetup: return QStringLiteral("the master setup");
        case RequestKind::PatchData: return QStringLiteral("the patch being edited");
        case RequestKind::TimbreData: return QStringLiteral("the timbres of the patch being edited");
        case RequestKind::RhythmCommon: return QStringLiteral("the rhythm setup");
        case RequestKind::RhythmInst: return QStringLiteral("a rhythm instrument");
        case RequestKind::PatchName: return QStringLiteral("a patch name");
        case RequestKind::TimbreName: return QStringLiteral("a timbre name");
        case RequestKind::RhythmName: return QStringLiteral("a rhythm setup name");
        case RequestKind::PatchChange: return QStringLiteral("the confirmation of a patch change");
        case RequestKind::RawRange: return QStringLiteral("memory data");
    }
    return QStringLiteral("data");
}

QString NotRespondingAdvice(const PortChoice& c, RequestKind what) {
    const QString asked = RequestWords(what);
    QString text = QStringLiteral("No answer came to the request for %1").arg(asked);
    if (c.real())
        text += QStringLiteral(" (MIDI Out \"%1\", MIDI In \"%2\")")
                    .arg(c.virtualOut ? QStringLiteral("built-in") : c.out, c.virtualIn ? QStringLiteral("built-in") : c.in);
    text += QStringLiteral(
                ".\n\nPlease check:\n"
                "- both MIDI cables: interface Out to the module's In, and the module's Out to the interface's In;\n"
                "- the device ID: the module's is %1, as chosen in File > MIDI Setup...;\n"
                "- that the module receives System Exclusive messages (its MIDI settings).")
                .arg(c.deviceId + 1);
    return text;
}

}  // namespace quorvane::ui
