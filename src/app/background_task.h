// BackgroundTask: one piece of work at a time on a thread of its own, for
// what must not hold up the user interface: loading a scene, stopping the
// render worker (which may be building an octree or deep in a slow pixel),
// drawing the wireframe preview of millions of triangles. The work runs on
// the task's thread and touches no widget; what follows it runs afterwards
// on the thread the task belongs to (the user interface's), from its event
// loop, and may start the next piece of work at once.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lumeno::app {

class BackgroundTask : public QObject {
    Q_OBJECT

  public:
    // What follows a piece of work; failure is empty unless the work threw
    // (then it holds what the exception said).
    using FollowUp = std::function<void(const QString& failure)>;

    explicit BackgroundTask(QObject* parent = nullptr);
    // Waits for the work under way; its follow-up is dropped.
    ~BackgroundTask() override;

    // True from Start until the follow-up of the last piece of work has run
    // (or Wait dropped it).
    bool Busy() const { return busy_; }

    // Starts work unless some is under way; false (and nothing done) then.
    bool Start(std::function<void()> work, FollowUp followUp = {});

    // Blocks until the work under way has ended and drops its follow-up,
    // without a busyChanged signal: for quitting, when the event loop may
    // never run again.
    void Wait();

  signals:
    // Busy changed. A follow-up that starts the next piece of work at once
    // keeps the task busy without a signal in between.
    void busyChanged(bool busy);

  private:
    struct Outcome {
        quint64 serial = 0;
        QString failure;
    };
    // Runs on the task's own thread, queued by the work's thread.
    Q_INVOKABLE void DeliverOutcome();
    void Finished(quint64 serial, const QString& failure);
    std::mutex outcomesMutex_;
    std::deque<Outcome> outcomes_;

    std::thread thread_;
    FollowUp followUp_;
    bool busy_ = false;
    bool announcedBusy_ = false;
    // Tells the follow-up of the current work from that of work dropped by
    // Wait, whose call may still be queued.
    quint64 serial_ = 0;
};

}  // namespace lumeno::app
