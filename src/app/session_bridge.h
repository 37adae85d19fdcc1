// SessionBridge: how the render session's worker reaches the render window.
// The session shows its picture and title and reports its passes through a
// DisplaySink and a SessionListener, partly on the worker's thread; the
// bridge turns every call into a Qt signal, which a receiver on the user
// interface thread gets queued (or at once, when the call came from that
// thread, as the wireframe preview's do). No widget is touched here.
//
// Pictures, titles and the progress within a pass are mailboxes rather than
// queues: a call copies the bitmap into a QImage (or stores the text or the
// row count) under a lock, and a pending signal is sent only when none is
// waiting, so a fast worker cannot pile up frames behind a busy user
// interface, and whatever arrives last is what the window shows.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <mutex>
#include <utility>

#include "render/display_sink.h"
#include "render/render_session.h"

namespace lumeno::app {

class SessionBridge : public QObject, public DisplaySink, public SessionListener {
    Q_OBJECT

  public:
    explicit SessionBridge(QObject* parent = nullptr);

    // DisplaySink and SessionListener: callable from any thread.
    void SetTitle(const std::string& title) override;
    void ShowImage(const DibImage& image) override;
    void PassFinished(int passCounter) override;
    void RowsTraced(int rows, int height) override;
    void WorkerStopped(bool complete) override;
    void Message(const std::string& message) override;

    // The latest picture and title; called where the signals arrive.
    QImage TakeFrame();
    QString TakeTitle();
    // The latest progress within a pass: rows traced of height.
    std::pair<int, int> TakeRows();

  signals:
    void frameReady();
    void titleReady();
    void passFinished(int passCounter);
    void rowsReady();
    void workerStopped(bool complete);
    void message(const QString& text);

  private:
    bool OnOwnThread() const;

    std::mutex mutex_;
    QImage frame_;
    bool framePending_ = false;
    QString title_;
    bool titlePending_ = false;
    std::pair<int, int> rows_{0, 0};
    bool rowsPending_ = false;
};

}  // namespace lumeno::app
