// Termination signals become notices on the event loop: in order, none lost
// in a burst, not before the loop runs, one active object at a time, and the
// earlier handlers back in place once the object is gone.

#include "TerminationSignals.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_ownHandlerCalls {0};

extern "C" void countingHandler(int)
{
    g_ownHandlerCalls.fetch_add(1);
}

QList<int> numbersIn(const QSignalSpy& spy)
{
    QList<int> numbers;
    for (const QList<QVariant>& arguments : spy)
        numbers << arguments.at(0).toInt();
    return numbers;
}

}  // namespace

class TerminationSignalsTest : public QObject {
    Q_OBJECT

private slots:
    void signalsArriveInOrderOnTheEventLoop()
    {
        TerminationSignals notices;
        QVERIFY(notices.isActive());
        QSignalSpy spy(&notices, &TerminationSignals::received);
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        // The handler only writes to the pipe; the notice waits for the loop.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 3);
        QCOMPARE(numbersIn(spy), (QList<int> {SIGHUP, SIGTERM, SIGINT}));
        QCOMPARE(TerminationSignals::nameOf(SIGHUP), "SIGHUP");
        QCOMPARE(TerminationSignals::nameOf(SIGUSR1), "another signal");
    }

    void aBurstIsNotLost()
    {
        TerminationSignals notices;
        QSignalSpy spy(&notices, &TerminationSignals::received);
        for (int i = 0; i < 500; ++i)
            ::raise(SIGTERM);
        QTRY_COMPARE(spy.count(), 500);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 500);
    }

    // As main uses it: the notice ends the loop that is running.
    void aNoticeEndsTheRunningLoop()
    {
        TerminationSignals notices;
        QEventLoop loop;
        connect(&notices, &TerminationSignals::received, &loop, [&loop](int number) { loop.exit(number); });
        QTimer::singleShot(0, [] { ::raise(SIGINT); });
        QTimer::singleShot(30000, &loop, [&loop] { loop.exit(-1); });
        QCOMPARE(loop.exec(), SIGINT);
    }

    void onlyOneObjectIsActive()
    {
        TerminationSignals first;
        QSignalSpy spy(&first, &TerminationSignals::received);
        {
            TerminationSignals second;
            QVERIFY(!second.isActive());
        }
        // The inactive one's end changed nothing.
        QVERIFY(first.isActive());
        ::raise(SIGTERM);
        QTRY_COMPARE(spy.count(), 1);
    }

    void theEarlierHandlersComeBack()
    {
        struct sigaction own {};
        own.sa_handler = countingHandler;
        sigemptyset(&own.sa_mask);
        struct sigaction before {};
        QCOMPARE(::sigaction(SIGHUP, &own, &before), 0);
        // Whatever the test framework put on the other two.
        struct sigaction termBefore {};
        struct sigaction intBefore {};
        QCOMPARE(::sigaction(SIGTERM, nullptr, &termBefore), 0);
        QCOMPARE(::sigaction(SIGINT, nullptr, &intBefore), 0);
        g_ownHandlerCalls.store(0);
        {
            TerminationSignals notices;
            QSignalSpy spy(&notices, &TerminationSignals::received);
            ::raise(SIGHUP);
            QTRY_COMPARE(spy.count(), 1);
            QCOMPARE(g_ownHandlerCalls.load(), 0);
        }
        ::raise(SIGHUP);
        QCOMPARE(g_ownHandlerCalls.load(), 1);
        QCOMPARE(::sigaction(SIGHUP, &before, nullptr), 0);

        struct sigaction termAfter {};
        struct sigaction intAfter {};
        QCOMPARE(::sigaction(SIGTERM, nullptr, &termAfter), 0);
        QCOMPARE(::sigaction(SIGINT, nullptr, &intAfter), 0);
        QVERIFY(termAfter.sa_handler == termBefore.sa_handler);
        QVERIFY(intAfter.sa_handler == intBefore.sa_handler);
    }
};

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "TerminationSignalsTest.moc"
