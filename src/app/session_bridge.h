// SessionBridge: how the render session's worker reaches the render window.
// The session shows its picture and title and reports its passes through a
// DisplaySink and a SessionListener, partly on the worker's thread; the
// bridge turns every call into a Qt signal, which a receiver on the user
// interface thread gets queued (or at once, when the call came from that
// thread, as the wireframe preview's do). No widget is touched here.
//
// Pictures and titles are mailboxes rather than queues: a call copies the
// bitmap into a QImage under a lock, and a pending signal is sent only when
// none is waiting, so a fast worker cannot pile up frames behind a busy user
// interface, and whatever arrives last is what the window shows.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <mutex>

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
    void WorkerStopped(bool complete) override;
    void Message(const std::string& message) override;

    // The latest picture and title; called where the signals arrive.
    QImage TakeFrame();
    QString TakeTitle();

  signals:
    void frameReady();
    void titleReady();
    void passFinished(int passCounter);
    void workerStopped(bool complete);
    void message(const QString& text);

  private:
    bool OnOwnThread() const;

    std::mutex mutex_;
    QImage frame_;
    bool framePending_ = false;
    QString title_;
    bool titlePending_ = false;
};

}  // namespace lumeno::app
