#include "daemon/eventdispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

short pollEvents(QSocketNotifier::Type type)
{
    switch (type) {
    case QSocketNotifier::Read: return POLLIN;
    case QSocketNotifier::Write: return POLLOUT;
    case QSocketNotifier::Exception: return POLLPRI;
    }
    return 0;
}

// A hang-up or an error wakes every kind of notifier, so that whoever reads
// or writes the socket learns of it.
bool fires(QSocketNotifier::Type type, short revents)
{
    return revents & (pollEvents(type) | POLLHUP | POLLERR);
}

const char *typeName(QSocketNotifier::Type type)
{
    switch (type) {
    case QSocketNotifier::Read: return "Read";
    case QSocketNotifier::Write: return "Write";
    case QSocketNotifier::Exception: return "Exception";
    }
    return "?";
}

} // namespace

EventDispatcher::EventDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
    , m_wakeUpFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_wakeUpFd < 0)
        qFatal("EventDispatcher: no eventfd for wake-ups");
}

EventDispatcher::~EventDispatcher()
{
    ::close(m_wakeUpFd);
}

bool EventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    m_interrupted.storeRelaxed(0);
    QCoreApplication::sendPostedEvents();
    if (m_interrupted.loadRelaxed())
        return false;

    const bool wait = flags & QEventLoop::WaitForMoreEvents;
    const bool withNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool withTimers = !(flags & QEventLoop::X11ExcludeTimers);
    int handled = 0;
    if (wait || (withNotifiers && !m_notifiers.empty()))
        handled += pollAndActivate(wait, withNotifiers, withTimers);
    if (withTimers)
        handled += activateTimers();
    return handled > 0;
}

// Polls the watched sockets, with the wake-up among them so that a wait ends
// when another thread posts an event, and sends the events of those ready.
int EventDispatcher::pollAndActivate(bool wait, bool withNotifiers, bool withTimers)
{
    m_polled.clear();
    m_polledNotifiers.clear();
    if (withNotifiers) {
        for (QSocketNotifier *notifier : m_notifiers) {
            m_polled.push_back({int(notifier->socket()), pollEvents(notifier->type()), 0});
            m_polledNotifiers.push_back(notifier);
        }
    }
    m_polled.push_back({m_wakeUpFd, POLLIN, 0});

    if (wait)
        emit aboutToBlock();
    const int ready = ::poll(m_polled.data(), m_polled.size(), wait ? waitTimeoutMs(withTimers) : 0);
    if (wait)
        emit awake();
    if (ready <= 0)
        return 0; // a signal that cut the wait short is a wake-up like any other

    int handled = 0;
    if (m_polled.back().revents & POLLIN) {
        takeWakeUp();
        ++handled;
    }
    // All are marked before any event is sent: a handler may poll again.
    for (size_t i = 0; i < m_polledNotifiers.size(); ++i) {
        QSocketNotifier *notifier = m_polledNotifiers[i];
        const short revents = m_polled[i].revents;
        if (revents & POLLNVAL) {
            qWarning("QSocketNotifier: Invalid socket %d with type %s, disabling...", m_polled[i].fd,
                     typeName(notifier->type()));
            notifier->setEnabled(false);
        }
        if (fires(notifier->type(), revents)
            && std::find(m_pending.begin(), m_pending.end(), notifier) == m_pending.end())
            m_pending.push_back(notifier);
    }
    return handled + activateNotifiers();
}

int EventDispatcher::waitTimeoutMs(bool withTimers) const
{
    if (!withTimers || m_timers.empty())
        return -1;
    const auto soonest = std::min_element(m_timers.begin(), m_timers.end(),
                                          [](const Timer &a, const Timer &b) { return a.due < b.due; });
    const auto left = soonest->due - Clock::now();
    return std::max(0, int(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

int EventDispatcher::activateNotifiers()
{
    int sent = 0;
    while (!m_pending.empty()) {
        QSocketNotifier *notifier = m_pending.front();
        m_pending.erase(m_pending.begin());
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++sent;
    }
    return sent;
}

// Sends the event of every timer due when the pass began, once. A timer whose
// previous event is still being handled (in a nested loop) is skipped, and a
// timer late by more than its interval fires once and keeps its rhythm from
// now. The handlers may add or remove timers, so the list is searched afresh
// after each event.
int EventDispatcher::activateTimers()
{
    if (m_timers.empty())
        return 0;
    const Clock::time_point now = Clock::now();
    const unsigned pass = ++m_timerPasses;
    int sent = 0;
    for (;;) {
        const auto timer = std::find_if(m_timers.begin(), m_timers.end(), [&](const Timer &candidate) {
            return candidate.due <= now && !candidate.inEvent && candidate.firedInPass != pass;
        });
        if (timer == m_timers.end())
            return sent;
        const std::chrono::milliseconds interval(timer->interval);
        timer->due += interval;
        if (timer->due < now)
            timer->due = now + interval;
        timer->firedInPass = pass;
        timer->inEvent = true;
        const int id = timer->id;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer->object, &event);
        ++sent;
        const auto fired = findTimer(id);
        if (fired != m_timers.end())
            fired->inEvent = false;
    }
}

void EventDispatcher::takeWakeUp()
{
    eventfd_t count;
    ::eventfd_read(m_wakeUpFd, &count);
    // Cleared only after the read: a wake-up that comes in between sees it
    // still set and writes nothing, and the posted events that it announces
    // are sent at the start of the next pass anyway.
    m_wakeUps.storeRelease(0);
}

bool EventDispatcher::hasPendingEvents()
{
    // Only Qt's deprecated QCoreApplication::hasPendingEvents() asks, and the
    // count of posted events is not public.
    return false;
}

void EventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    m_notifiers.push_back(notifier);
}

void EventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    m_notifiers.erase(std::remove(m_notifiers.begin(), m_notifiers.end(), notifier), m_notifiers.end());
    m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), notifier), m_pending.end());
}

void EventDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object)
{
    m_timers.push_back({timerId, interval, timerType, object, Clock::now() + std::chrono::milliseconds(interval)});
}

std::vector<EventDispatcher::Timer>::iterator EventDispatcher::findTimer(int timerId)
{
    return std::find_if(m_timers.begin(), m_timers.end(), [timerId](const Timer &timer) { return timer.id == timerId; });
}

bool EventDispatcher::unregisterTimer(int timerId)
{
    const auto timer = findTimer(timerId);
    if (timer == m_timers.end())
        return false;
    m_timers.erase(timer);
    return true;
}

bool EventDispatcher::unregisterTimers(QObject *object)
{
    const auto kept = std::remove_if(m_timers.begin(), m_timers.end(),
                                     [object](const Timer &timer) { return timer.object == object; });
    const bool found = kept != m_timers.end();
    m_timers.erase(kept, m_timers.end());
    return found;
}

QList<QAbstractEventDispatcher::TimerInfo> EventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> timers;
    for (const Timer &timer : m_timers) {
        if (timer.object == object)
            timers.append(TimerInfo(timer.id, timer.interval, timer.type));
    }
    return timers;
}

int EventDispatcher::remainingTime(int timerId)
{
    const auto timer = findTimer(timerId);
    if (timer == m_timers.end())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer->due - Clock::now());
    return std::max(0, int(left.count()));
}

void EventDispatcher::wakeUp()
{
    if (m_wakeUps.testAndSetAcquire(0, 1))
        ::eventfd_write(m_wakeUpFd, 1);
}

void EventDispatcher::interrupt()
{
    m_interrupted.storeRelaxed(1);
    wakeUp();
}

void EventDispatcher::flush()
{
}
