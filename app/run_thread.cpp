#include "app/run_thread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>

#include "app/main_form.h"

namespace app {

TRunThread::TRunThread(TMainForm& form) : m_form(form) {}

TRunThread::~TRunThread() {
    // The owner waits (AbandonAndWait, or a finished run) before it lets go.
    wait();
}

void TRunThread::AbandonAndWait() {
    m_abandoned->store(true);
    // A worker blocked in OnUiThread waits for the UI thread, which is here:
    // serve the window's queued calls until the thread is gone.
    while (!wait(QDeadlineTimer(5))) QCoreApplication::sendPostedEvents(&m_form, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(&m_form, QEvent::MetaCall);
}

bool TRunThread::OnUiThread(const std::function<void()>& fn) {
    if (m_abandoned->load()) return false;
    bool ran = false;
    const auto abandoned = m_abandoned;
    QMetaObject::invokeMethod(
        &m_form,
        [&fn, &ran, abandoned] {
            if (abandoned->load()) return;
            fn();
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

void TRunThread::PostToUiThread(std::function<void()> fn) {
    if (m_abandoned->load()) return;
    QMetaObject::invokeMethod(
        &m_form,
        [fn = std::move(fn), abandoned = m_abandoned] {
            if (!abandoned->load()) fn();
        },
        Qt::QueuedConnection);
}

}  // namespace app
