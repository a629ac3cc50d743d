// The library window's details pane (an item's sources and bank) and its
// duplicates tab (the same sound under other names).
#include "ui/library/frmLibrary.h"

#include <QTextBrowser>
#include <QTreeWidget>

#include "library/SoundLibraryModule.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"

namespace quorvane::ui {

using namespace library_window;

namespace {

QString H(const std::string& s) { return Q(s).toHtmlEscaped(); }

QString MemoryText(library::SoundType t, int number) {
    switch (t) {
        case library::SoundType::Patch: return QStringLiteral("patch %1").arg(number);
        case library::SoundType::Timbre: return QStringLiteral("timbre %1").arg(number);
        case library::SoundType::Rhythm: return QStringLiteral("rhythm setup %1").arg(number);
        case library::SoundType::Working: return QStringLiteral("the working patch");
    }
    return {};
}

}  // namespace

// What the module told of the sound when it was last auditioned: the part
// timbres and the rhythm setup a patch names (with the bank's names for them).
void frmLibrary::AddReading(QString& html, const library::ItemDetails& d) {
    if (d.row.type != library::SoundType::Patch) return;
    std::optional<library::Reading> r;
    try {
        r = library::LoadReading(*lib_, d.row.id);
    } catch (const std::exception&) {
        return;  // a damaged reading: the details show without it
    }
    if (!r) return;
    const auto bankName = [&](library::SoundType type, int number) {
        for (const library::FileMember& m : d.bank)
            if (m.type == type && m.number == number) return QStringLiteral(" %1").arg(H(m.name));
        return QString();
    };
    QStringList parts;
    for (size_t i = 0; i < r->timbres.size(); ++i)
        parts << QStringLiteral("%1: T-%2%3").arg(i + 1).arg(r->timbres[i]).arg(bankName(library::SoundType::Timbre, r->timbres[i]));
    html += QStringLiteral("<p><b>As the module played it</b> (auditioned %1 UTC)</p><ul><li>Parts %2</li>")
                .arg(H(r->readAt), parts.join(QStringLiteral("; ")));
    if (r->rhythmSetup)
        html += QStringLiteral("<li>Rhythm setup R-%1%2</li>").arg(r->rhythmSetup).arg(bankName(library::SoundType::Rhythm, r->rhythmSetup));
    html += QStringLiteral("</ul>");
}

void frmLibrary::ShowDetails(int64_t id) {
    if (!lib_ || id <= 0) {
        txtDetails->clear();
        return;
    }
    std::optional<library::ItemDetails> d;
    try {
        d = lib_->Details(id);
    } catch (const std::exception& e) {
        txtDetails->setPlainText(QStringLiteral("The library failed: %1").arg(Q(e.what())));
        return;
    }
    if (!d) {
        txtDetails->clear();
        return;
    }
    QString html = QStringLiteral("<h3>%1</h3><p>%2").arg(H(d->row.name), LibraryModel::TypeText(d->row.type));
    if (!d->userName.empty()) html += QStringLiteral(", named &ldquo;%1&rdquo; in its bytes").arg(H(d->nameInBytes));
    if (d->row.favourite) html += QStringLiteral(", a favourite");
    html += QStringLiteral("</p>");
    if (!d->tags.empty()) {
        QStringList t;
        for (const std::string& s : d->tags) t << H(s);
        html += QStringLiteral("<p>Tags: %1</p>").arg(t.join(QStringLiteral(", ")));
    }
    if (!d->comment.empty()) html += QStringLiteral("<p>%1</p>").arg(H(d->comment));
    html += QStringLiteral("<p><b>Sources</b></p><ul>");
    for (const library::SourceInfo& s : d->sources)
        html += QStringLiteral("<li>%1 of <b>%2</b> (imported %3)<br><small>%4</small></li>")
                    .arg(MemoryText(d->row.type, s.number), H(s.fileName), H(s.imported), H(s.path));
    html += QStringLiteral("</ul>");
    if (!d->bank.empty()) {
        html += QStringLiteral("<p><b>Its bank</b> (the file it was first imported from): the timbres and the rhythm setup "
                               "its parts play are among these.</p><ul>");
        for (auto t : {library::SoundType::Patch, library::SoundType::Timbre, library::SoundType::Rhythm, library::SoundType::Working}) {
            QStringList names;
            for (const library::FileMember& m : d->bank)
                if (m.type == t) names << QStringLiteral("%1 %2").arg(m.number).arg(H(m.name));
            if (!names.isEmpty())
                html += QStringLiteral("<li>%1: %2</li>").arg(Capital(LibraryModel::TypePlural(t)), names.join(QStringLiteral("; ")));
        }
        html += QStringLiteral("</ul>");
    }
    AddReading(html, *d);
    if (!d->otherNames.empty()) html += QStringLiteral("<p>The same sound is in the library under %1.</p>").arg(Plural(d->otherNames.size(), "other name", "other names"));
    if (d->copyOf) html += QStringLiteral("<p>A copy kept on purpose.</p>");
    txtDetails->setHtml(html);
}

void frmLibrary::ShowDuplicates() {
    treeDuplicates->clear();
    if (!lib_) return;
    std::vector<library::DuplicateGroup> groups;
    try {
        groups = lib_->Duplicates();
    } catch (const std::exception& e) {
        ShowStatus(QStringLiteral("The duplicates cannot be read: %1").arg(Q(e.what())));
        return;
    }
    for (const library::DuplicateGroup& g : groups) {
        auto* top = new QTreeWidgetItem(treeDuplicates);
        QStringList names;
        for (const library::ItemRow& r : g.items) names << Q(r.name);
        top->setText(0, QStringLiteral("%1: %2").arg(LibraryModel::TypeText(g.type), names.join(QStringLiteral(" = "))));
        for (const library::ItemRow& r : g.items) {
            auto* it = new QTreeWidgetItem(top);
            it->setText(0, Q(r.name));
            it->setText(1, QString::number(r.sources));
            it->setData(0, Qt::UserRole, static_cast<qlonglong>(r.id));
        }
    }
    treeDuplicates->resizeColumnToContents(0);
}

}  // namespace quorvane::ui
