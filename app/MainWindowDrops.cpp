// The window's drag and drop: files dropped from a file manager are added
// once the drop has been answered, and rows dragged out offer the files of
// the safe's own folder.

#include "app/EntryListView.h"
#include "app/MainWindow.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace quorvane {

namespace {

// The local files among the dropped URLs, as the bytes of their paths, in
// the order of the drop.
std::vector<std::string> localPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (mime == nullptr || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

// A drop that arrives while a long step runs waits for it to end.
constexpr int DropRetryMilliseconds = 100;

} // namespace

void MainWindow::dragRowsOut() {
    if (ended_ || isBusy_() || !dragSource_)
        return;
    std::vector<int> rows;
    for (int row = entryList_->nextSelectedRow(-1); row != -1;
         row = entryList_->nextSelectedRow(row))
        rows.push_back(row);
    const QList<QUrl> urls = dragSource_(rows);
    if (urls.isEmpty())
        return;
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    auto* drag = new QDrag(entryList_);
    drag->setMimeData(mime);
    // The files are copied out of the safe, never moved: a file manager that
    // moved them would delete them from the safe.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

// Rows dragged from the list are files of the safe's own folder: dropped
// back, they would be added to the safe they are read from.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!ended_ && event->source() == nullptr && !localPaths(event->mimeData()).empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!ended_ && event->source() == nullptr && !localPaths(event->mimeData()).empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = localPaths(event->mimeData());
    if (ended_ || paths.empty() || event->source() != nullptr) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Adding asks questions and may take long; the program that started the
    // drag should not wait for that, so the files are added once the drop
    // has been answered.
    QTimer::singleShot(0, this, [this, paths = std::move(paths)] { deliverDrop(paths); });
}

void MainWindow::deliverDrop(const std::vector<std::string>& paths) {
    if (ended_)
        return;
    if (isBusy_()) {
        QTimer::singleShot(DropRetryMilliseconds, this, [this, paths] { deliverDrop(paths); });
        return;
    }
    dropHandler_(paths);
    updateTitle();
}

} // namespace quorvane
