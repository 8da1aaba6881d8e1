#include "daemontestmain.h"
#include "testpipe.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

constexpr int patienceMs = 10000;

// Runs a loop until `done` holds, at most for the patience; returns whether it held.
template <typename Done>
bool runUntil(Done done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < patienceMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return done();
}

} // namespace

class EventDispatcherTest : public QObject
{
    Q_OBJECT

private slots:
    // A loop that waits with nothing to watch still wakes for an event that
    // another thread posts, or for a quit from another thread.
    void otherThreadsWakeAWait_data()
    {
        QTest::addColumn<bool>("posted");
        QTest::newRow("posted event") << true;
        QTest::newRow("quit") << false;
    }
    void otherThreadsWakeAWait()
    {
        QFETCH(bool, posted);
        QEventLoop loop;
        QTimer::singleShot(patienceMs, &loop, [&loop] { loop.exit(1); });
        std::thread other([&loop, posted] {
            QThread::msleep(50);
            if (posted)
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
            else
                loop.quit();
        });
        const int exitCode = loop.exec();
        other.join();
        QCOMPARE(exitCode, 0);
    }

    // A pass that does not wait still sends posted events and due timers.
    void passWithoutWaitingRunsWhatIsDue()
    {
        int posted = 0, timed = 0;
        QMetaObject::invokeMethod(this, [&posted] { ++posted; }, Qt::QueuedConnection);
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [&timed] { ++timed; });
        timer.start(0);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(posted, 1);
        QCOMPARE(timed, 1);
    }

    void timersFireInTheOrderTheyAreDue()
    {
        QList<int> fired;
        for (int ms : {60, 20, 40})
            QTimer::singleShot(ms, Qt::PreciseTimer, this, [&fired, ms] { fired << ms; });
        QVERIFY(runUntil([&] { return fired.size() == 3; }));
        QCOMPARE(fired, (QList<int>{20, 40, 60}));
    }

    // Timers due in the same pass: whichever fires first stops the other,
    // which must then not fire after all.
    void timerStoppedByAnotherInTheSamePass()
    {
        QTimer timers[2];
        int fired = 0;
        for (int i = 0; i < 2; ++i) {
            timers[i].setSingleShot(true);
            connect(&timers[i], &QTimer::timeout, this, [&, i] {
                ++fired;
                timers[1 - i].stop();
            });
        }
        timers[0].start(0);
        timers[1].start(0);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(fired, 1);
    }

    // A repeating timer whose handler runs a nested loop is not entered again
    // from that loop, while other timers go on firing there.
    void timerNotReenteredFromItsOwnHandler()
    {
        QTimer outer, other;
        int depth = 0, deepest = 0, outerFired = 0, otherFired = 0;
        connect(&other, &QTimer::timeout, this, [&otherFired] { ++otherFired; });
        connect(&outer, &QTimer::timeout, this, [&] {
            deepest = std::max(deepest, ++depth);
            if (++outerFired == 1)
                runUntil([&] { return otherFired >= 3; });
            --depth;
        });
        outer.start(1);
        other.start(1);
        QVERIFY(runUntil([&] { return outerFired >= 3; }));
        QCOMPARE(deepest, 1);
        QVERIFY(otherFired >= 3);
    }

    void remainingTimeAndMoveToThread()
    {
        QTimer timer;
        timer.start(5000);
        QVERIFY(timer.remainingTime() > 4000 && timer.remainingTime() <= 5000);

        // Moving an object hands its timers to the other thread's dispatcher.
        QThread thread;
        thread.start();
        QObject mover;
        QAtomicInt ticksThere;
        QTimer *ticking = new QTimer(&mover);
        connect(
            ticking, &QTimer::timeout, ticking,
            [&ticksThere, &thread] {
                if (QThread::currentThread() == &thread)
                    ticksThere.ref();
            },
            Qt::DirectConnection);
        ticking->start(5);
        mover.moveToThread(&thread);
        QTRY_VERIFY_WITH_TIMEOUT(ticksThere.loadRelaxed() >= 3, patienceMs);
        QMetaObject::invokeMethod(&mover, [&mover] { mover.moveToThread(QCoreApplication::instance()->thread()); },
                                  Qt::BlockingQueuedConnection);
        // Back here, the timer is registered again from this thread's loop.
        QTRY_VERIFY_WITH_TIMEOUT(ticking->remainingTime() >= 0, patienceMs);
        thread.quit();
        thread.wait();
    }

    // A hang-up wakes a read notifier, as a failing device must.
    void readNotifiers_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("data") << false;
        QTest::newRow("hang-up") << true;
    }
    void readNotifiers()
    {
        QFETCH(bool, hangUp);
        TestPipe pipe;
        QSocketNotifier notifier(pipe.fds[0], QSocketNotifier::Read);
        int fired = 0;
        connect(&notifier, &QSocketNotifier::activated, this, [&] {
            ++fired;
            notifier.setEnabled(false);
        });
        QCoreApplication::processEvents();
        QCOMPARE(fired, 0);
        if (hangUp)
            pipe.hangUp();
        else
            pipe.send("x");
        QVERIFY(runUntil([&] { return fired > 0; }));
        QCOMPARE(fired, 1);
    }

    // Two sockets ready in the same pass: whichever goes first deletes the
    // other, whose event must then not be sent.
    void notifierDeletedByAnotherInTheSamePass()
    {
        TestPipe first, second;
        QPointer<QSocketNotifier> notifiers[2] = {new QSocketNotifier(first.fds[0], QSocketNotifier::Read, this),
                                                  new QSocketNotifier(second.fds[0], QSocketNotifier::Read, this)};
        int fired = 0;
        for (int i = 0; i < 2; ++i) {
            connect(notifiers[i], &QSocketNotifier::activated, this, [&, i] {
                ++fired;
                delete notifiers[1 - i];
                notifiers[i]->setEnabled(false);
            });
        }
        first.send("x");
        second.send("x");
        QVERIFY(runUntil([&] { return fired > 0; }));
        QCoreApplication::processEvents();
        QCOMPARE(fired, 1);
        qDeleteAll(notifiers, notifiers + 2);
    }
};

DAEMON_TEST_MAIN(EventDispatcherTest)
#include "tst_eventdispatcher.moc"
