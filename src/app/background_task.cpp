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
        // The outcome goes through a mailbox under a lock, and only a bare
        // call is queued to this object's thread: that way the hand-over is
        // one the thread sanitizer sees, not only the event queue's.
        {
            std::lock_guard lock(outcomesMutex_);
            outcomes_.push_back({serial, failure});
        }
        QMetaObject::invokeMethod(this, "DeliverOutcome", Qt::QueuedConnection);
    });
    if (!announcedBusy_) {
        announcedBusy_ = true;
        emit busyChanged(true);
    }
    return true;
}

void BackgroundTask::DeliverOutcome() {
    Outcome outcome;
    {
        std::lock_guard lock(outcomesMutex_);
        if (outcomes_.empty()) {
            return;
        }
        outcome = std::move(outcomes_.front());
        outcomes_.pop_front();
    }
    Finished(outcome.serial, outcome.failure);
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
