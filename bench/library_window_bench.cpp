// The sound library window at the size of a large collection: a library of N
// bank files (default 1000, about 197,000 sounds; the files of
// tests/library/SoundLibraryFiles.h, as library_bench makes them) opened in
// the window offscreen. Prints the window's opening time (the library opened,
// the list counted, its first screen of rows read and painted), typing in the
// filter field measured through the window's model (each keystroke: the filter
// applied, the count, the rows on screen read and painted), type-to-find in
// the list, a scroll to the end, and the editor's resident memory with the
// window open.
//
//   library_window_bench [--files N] [--dir FOLDER] [--library FILE] [--keep] [--grab PNG]
//
// --library uses a library made before (library_bench --keep leaves one);
// otherwise N files are generated and imported first. --grab saves a picture of
// the window filtered by "brass" (to look at it). Figures only: nothing
// here fails on time.

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/library/SoundLibraryFiles.h"
#include "library/SysexFile.h"
#include "ui/library/LibraryApi.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibrary.h"

using namespace quorvane;
using namespace quorvane::library;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double ResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// What a keystroke costs the user: the list filtered and the screen painted.
void Paint(ui::frmLibrary& w) {
    w.lstItems->viewport()->repaint();
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    int files = 1000;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "quorvane-library-window-bench";
    std::string db;
    QString grab;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--files") && i + 1 < argc) files = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) dir = argv[++i];
        else if (!std::strcmp(argv[i], "--library") && i + 1 < argc) db = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else if (!std::strcmp(argv[i], "--grab") && i + 1 < argc) grab = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "usage: library_window_bench [--files N] [--dir FOLDER] [--library FILE] [--keep] [--grab PNG]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool made = db.empty();
    if (made) {
        const fs::path banks = dir / "banks";
        db = (dir / "library.sqlite").string();
        fs::remove_all(dir);
        fs::create_directories(banks);
        auto t = Clock::now();
        for (int i = 0; i < files; ++i) {
            const Bytes b = SyxBytes(testfiles::MutatedBank(static_cast<uint32_t>(i + 1)), 0x10);
            char name[32];
            std::snprintf(name, sizeof name, "bank%04d.syx", i + 1);
            std::ofstream(banks / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
        }
        SoundLibrary lib(db);
        const ImportReport r = lib.Import({banks.string()});
        std::printf("made a library of %zu files, %zu items in %.1f s\n", r.files, lib.ItemCount(), Ms(Clock::now() - t) / 1000);
    }

    QApplication app(argc, argv);
    const double beforeWindow = ResidentMb();
    auto t = Clock::now();
    ui::LibraryWindowOptions o;
    o.path = QString::fromStdString(db);
    ui::frmLibrary w(o);
    if (!w.OpenLibrary()) return 1;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return 1;
    Paint(w);
    const double openMs = Ms(Clock::now() - t);
    ui::LibraryModel& m = *w.Model();
    std::printf("window open with %d items, first screen painted: %.1f ms (aim <= 500); %d pages of %d rows read\n",
                m.rowCount(), openMs, m.PagesRead(), ui::LibraryModel::kPageRows);
    std::printf("resident memory: %.0f MB before the window, %.0f MB with it open\n", beforeWindow, ResidentMb());

    // The window reads the search texts just after it shows; a user starts
    // typing a moment later.
    {
        const auto s = Clock::now();
        QTest::qWait(400);
        std::printf("the window's first 0.4 s after showing (the search texts read meanwhile): %.1f ms; resident memory %.0f MB\n",
                    Ms(Clock::now() - s), ResidentMb());
    }
    // Typing "brass pad", then "jet", then a file name, a keystroke at a time,
    // as the filter timer hands each to the model.
    std::vector<std::string> keystrokes;
    for (const char* word : {"brass pad", "jet", "bank0777"}) {
        for (size_t n = 1; n <= std::strlen(word); ++n) keystrokes.push_back(std::string(word, n));
        keystrokes.push_back("");
    }
    std::vector<double> times;
    double first = 0;
    std::printf("search as you type through the window's model (filter, count, rows on screen, paint), ms:");
    for (const std::string& k : keystrokes) {
        const QString text = QString::fromStdString(k);
        {
            const QSignalBlocker quiet(w.txtFilter);  // the timer is the window's; the bench applies at once
            w.txtFilter->setText(text);
        }
        const auto s = Clock::now();
        w.ApplyFilter();
        Paint(w);
        const double ms = Ms(Clock::now() - s);
        if (first == 0) first = ms;
        else times.push_back(ms);
        std::printf(" '%s' %.1f (%d)", k.c_str(), ms, m.rowCount());
    }
    std::sort(times.begin(), times.end());
    std::printf("\nsearch: first keystroke %.1f ms; then median %.1f ms, slowest %.1f ms a "
                "keystroke (aim <= 30)\n", first, times[times.size() / 2], times.back());
    std::printf("resident memory after searching: %.0f MB\n", ResidentMb());

    // Type-to-find in the whole list, and a jump to its end.
    w.lstItems->setFocus();
    for (const char* find : {"jet", "w", "dark"}) {
        const auto s = Clock::now();
        QTest::keyClicks(w.lstItems, QString::fromLatin1(find));
        Paint(w);
        std::printf("type-to-find '%s': %.1f ms\n", find, Ms(Clock::now() - s));
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
    }
    {
        const auto s = Clock::now();
        QTest::keyClick(w.lstItems, Qt::Key_End, Qt::ControlModifier);
        Paint(w);
        std::printf("Ctrl+End to the last of %d rows: %.1f ms\n", m.rowCount(), Ms(Clock::now() - s));
    }
    std::printf("resident memory with the window open at the end: %.0f MB\n", ResidentMb());
    if (!grab.isEmpty()) {
        w.txtFilter->setText(QStringLiteral("brass"));
        w.ApplyFilter();
        Paint(w);
        std::printf("%s %s\n", w.grab().save(grab) ? "saved" : "could not save", grab.toLocal8Bit().constData());
    }

    if (made && !keep) fs::remove_all(dir);
    else if (made) std::printf("kept %s\n", dir.string().c_str());
    return 0;
}
