// How quickly the window shows a large tree of stored files and answers the
// name filter: 10,000 entries in folders ("Album 7/Day 3/IMG_0042.JPG")
// handed to the list as an opened safe hands them, then one filter
// keystroke after another, each timed until the list is painted again.
//
//   quorvane-tree-bench [ENTRIES]
//       prints "show MS ENTRIES FOLDERS" (rows handed over to painted), then
//       "filter 'TEXT' MS SHOWN" per keystroke, then "rename MS" and "remove MS":
//       the list shown again after one file was renamed or removed, as a
//       command hands it over; the median of five runs each.

#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "app/QtShell.h"
#include "lifecycle/SafeState.h"
#include "lifecycle/Session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace quorvane;

constexpr int Runs = 5;

std::vector<EntryRow> treeOf(int entries, int& folders) {
    std::vector<EntryRow> rows;
    rows.reserve(static_cast<std::size_t>(entries));
    constexpr int PerDay = 50;
    constexpr int DaysPerAlbum = 10;
    folders = 0;
    for (int i = 0; i < entries; ++i) {
        const int day = i / PerDay;
        const int album = day / DaysPerAlbum;
        if (i % PerDay == 0)
            folders += day % DaysPerAlbum == 0 ? 2 : 1;
        char name[96];
        std::snprintf(name, sizeof name, "Album %d/Day %d/IMG_%04d.JPG", album, day % DaysPerAlbum,
                      i % PerDay + 1);
        rows.push_back(
            {std::to_string(i), name, std::to_string(1000 + i) + " Bytes", "2025-06-01 12:00"});
    }
    return rows;
}

// Runs the event loop until nothing is left to do: the list is laid out and painted.
void settle() {
    QApplication::processEvents();
    QApplication::processEvents();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    // Without a display the list is drawn offscreen, which costs the same.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int entries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    int folders = 0;
    const std::vector<EntryRow> rows = treeOf(entries, folders);

    SafeState state;
    QtShell shell;
    Session session{state, shell};
    MainWindow window(session, [] { return false; });
    window.resize(900, 700);
    window.show();
    settle();
    EntryListView* list = window.entryList();

    std::vector<double> shows;
    std::vector<double> handed;
    for (int run = 0; run < Runs; ++run) {
        list->showEntries({});
        settle();
        QElapsedTimer timer;
        timer.start();
        list->showEntries(rows);
        handed.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        list->repaint();
        settle();
        shows.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("show %.1f ms (rows taken in %.1f ms) %d entries %d folders\n", median(shows),
                median(handed), list->entryCount(), folders);

    // One file renamed, then one removed: every row handed over again, as
    // the commands do, until the list is painted.
    std::vector<EntryRow> renamed = rows;
    renamed[rows.size() / 2].name += ".renamed";
    std::vector<EntryRow> removed = rows;
    removed.erase(removed.begin() + static_cast<std::ptrdiff_t>(rows.size() / 2));
    for (std::size_t i = rows.size() / 2; i < removed.size(); ++i)
        removed[i].number = std::to_string(i);
    for (const auto& [what, changed] :
         {std::pair{"rename", &renamed}, std::pair{"remove", &removed}}) {
        std::vector<double> times;
        for (int run = 0; run < Runs; ++run) {
            list->showEntries(rows);
            list->repaint();
            settle();
            QElapsedTimer timer;
            timer.start();
            list->showEntries(*changed);
            list->repaint();
            settle();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::printf("%s %.1f ms %d entries\n", what, median(times), list->entryCount());
    }
    list->showEntries(rows);
    settle();

    for (const char* text : {"i", "im", "img", "img_", "img_0", "img_00", "img_004", "img_0042"}) {
        std::vector<double> times;
        for (int run = 0; run < Runs; ++run) {
            window.nameFilter()->setText(QString::fromLatin1(text).chopped(1));
            settle();
            QElapsedTimer timer;
            timer.start();
            window.nameFilter()->setText(QString::fromLatin1(text));
            list->repaint();
            settle();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::printf("filter '%s' %.1f ms %d shown\n", text, median(times), list->shownEntryCount());
    }
    return 0;
}
