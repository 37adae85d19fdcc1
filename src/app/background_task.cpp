#include "background_task.h"

#include <exception>

namespace lumeno::app {

BackgroundTask::BackgroundTask(QObject* parent) : QObject(parent) {}

BackgroundTask::~BackgroundTask() {
    Wait();
}

bool BackgroundTask::Start(std::function<void()> work, FollowUp followUp) {
    if (busy_) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();  // work dropped by Wait has ended; nothing is left of it
    }
    busy_ = true;
    followUp_ = std::move(followUp);
    const quint64 serial = ++serial_;
    thread_ = std::thread([this, serial, work = std::move(work)] {
        QString failure;
        try {
            work();
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = QStringLiteral("unknown exception");
        }
        // Queued to this object's thread; dropped if the object is gone by
        // then, which cannot happen before this thread is joined.
        QMetaObject::invokeMethod(
            this, [this, serial, failure] { Finished(serial, failure); }, Qt::QueuedConnection);
    });
    if (!announcedBusy_) {
        announcedBusy_ = true;
        emit busyChanged(true);
    }
    return true;
}

void BackgroundTask::Finished(quint64 serial, const QString& failure) {
    if (serial != serial_ || !busy_) {
        return;  // Wait dropped this work's follow-up
    }
    thread_.join();
    busy_ = false;
    FollowUp followUp = std::move(followUp_);
    followUp_ = nullptr;
    if (followUp) {
        followUp(failure);
    }
    if (!busy_ && announcedBusy_) {
        announcedBusy_ = false;
        emit busyChanged(false);
    }
}

void BackgroundTask::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
    // Nothing is announced: whoever waits is quitting, and those listening
    // may be on their way out too.
    followUp_ = nullptr;
    ++serial_;
    busy_ = false;
    announcedBusy_ = false;
}

}  // namespace lumeno::app
