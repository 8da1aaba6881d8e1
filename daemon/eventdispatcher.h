#pragma once

#include <QAbstractEventDispatcher>
#include <QAtomicInt>

#include <chrono>
#include <vector>

#include <poll.h>

// The daemon thread's event loop: Qt's poll() loop, less the poll() where
// there is nothing to poll. An update transfer lets pending events run after
// every 256-byte chunk; Qt's own dispatcher makes a poll() system call on
// every such pass even when no socket is watched, which costs about as much
// as the chunk's read. This one calls poll() only to wait, or when sockets
// are watched: posted events and timers need no system call, and another
// thread's wake-up is seen by the next wait.
//
// Socket notifiers fire as with Qt's dispatcher (a read notifier on POLLIN,
// POLLHUP or POLLERR, so a device that fails is seen); timers are all kept
// to the millisecond, which any timer type allows.
class EventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT

public:
    explicit EventDispatcher(QObject *parent = nullptr);
    ~EventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;
    void flush() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Timer
    {
        int id;
        int interval;
        Qt::TimerType type;
        QObject *object;
        Clock::time_point due;
        bool inEvent = false;     // its event is being handled
        unsigned firedInPass = 0; // the last pass that sent its event
    };

    int pollAndActivate(bool wait, bool withNotifiers, bool withTimers);
    int waitTimeoutMs(bool withTimers) const;
    int activateTimers();
    int activateNotifiers();
    void takeWakeUp();

    std::vector<Timer>::iterator findTimer(int timerId);

    std::vector<Timer> m_timers;
    unsigned m_timerPasses = 0;
    std::vector<QSocketNotifier *> m_notifiers;
    std::vector<QSocketNotifier *> m_pending; // ready, their events not yet sent
    std::vector<pollfd> m_polled;             // the last poll: notifiers, then the wake-up
    std::vector<QSocketNotifier *> m_polledNotifiers;
    const int m_wakeUpFd;
    QAtomicInt m_wakeUps;
    QAtomicInt m_interrupted;
};
