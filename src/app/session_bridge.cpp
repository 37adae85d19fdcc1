#include "session_bridge.h"

#include <QThread>

namespace lumeno::app {

SessionBridge::SessionBridge(QObject* parent) : QObject(parent) {}

bool SessionBridge::OnOwnThread() const {
    return QThread::currentThread() == thread();
}

void SessionBridge::SetTitle(const std::string& title) {
    bool signal = false;
    {
        std::lock_guard lock(mutex_);
        title_ = QString::fromStdString(title);
        signal = !titlePending_ || OnOwnThread();
        titlePending_ = true;
    }
    if (signal) {
        emit titleReady();
    }
}

void SessionBridge::ShowImage(const DibImage& image) {
    if (image.Empty()) {
        return;
    }
    // A deep copy, made here on the caller's thread: the session goes on
    // writing its bitmap while the window paints this one. It is made in the
    // format the window paints fastest, so that a large picture costs the
    // user interface a plain copy (about a quarter of the time a 24-bit one
    // takes to draw).
    QImage copy =
        QImage(image.bits.get(), image.width, image.height, image.stride, QImage::Format_BGR888)
            .convertToFormat(QImage::Format_RGB32);
    bool signal = false;
    {
        std::lock_guard lock(mutex_);
        frame_ = std::move(copy);
        signal = !framePending_ || OnOwnThread();
        framePending_ = true;
    }
    if (signal) {
        emit frameReady();
    }
}

QImage SessionBridge::TakeFrame() {
    std::lock_guard lock(mutex_);
    framePending_ = false;
    return frame_;
}

QString SessionBridge::TakeTitle() {
    std::lock_guard lock(mutex_);
    titlePending_ = false;
    return title_;
}

void SessionBridge::PassFinished(int passCounter) {
    emit passFinished(passCounter);
}

void SessionBridge::RowsTraced(int rows, int height) {
    bool signal = false;
    {
        std::lock_guard lock(mutex_);
        rows_ = {rows, height};
        signal = !rowsPending_ || OnOwnThread();
        rowsPending_ = true;
    }
    if (signal) {
        emit rowsReady();
    }
}

std::pair<int, int> SessionBridge::TakeRows() {
    std::lock_guard lock(mutex_);
    rowsPending_ = false;
    return rows_;
}

void SessionBridge::WorkerStopped(bool complete) {
    emit workerStopped(complete);
}

void SessionBridge::Message(const std::string& text) {
    emit message(QString::fromStdString(text));
}

}  // namespace lumeno::app
