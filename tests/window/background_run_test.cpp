// The background run on a QCoreApplication: results reach the window's thread once and
// only for the current run (a cancelled run's result already queued is never taken for
// the next one), a cancel or a destruction waits for the work and delivers nothing, a
// stop request still delivers what the work returns, and the work's progress reaches
// the window's thread. The work waits on gates the test opens, never on the clock.

#include "window/background_run.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using namespace tambrel;

namespace {

// A one-way gate between the test and a run's work.
class Gate {
  public:
    void open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }
    // Until open or the run is cancelled; true when opened.
    bool wait_unless_cancelled(const RunControl& run) {
        std::unique_lock lock(mutex_);
        while (!open_ && !run.cancelled()) changed_.wait_for(lock, std::chrono::milliseconds(1));
        return open_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// What the deliveries were and on which thread they came.
struct Deliveries {
    std::vector<int> values;
    std::vector<QThread*> threads;
    auto to() {
        return [this](int value) {
            values.push_back(value);
            threads.push_back(QThread::currentThread());
        };
    }
};

// Runs what has been posted to this thread so far.
void drain() { QCoreApplication::sendPostedEvents(); }

}  // namespace

class BackgroundRunTest : public QObject {
    Q_OBJECT
  private slots:
    void aResultIsDeliveredOnceOnTheWindowsThread();
    void aCancelledRunsQueuedResultIsNeverTheNextRunsResult();
    void aRunStartedWhileOneGoesSupersedesIt();
    void destructionDuringARunWaitsForItAndDeliversNothing();
    void anInterruptedRunStillDeliversWhatItsWorkReturns();
    void progressReachesTheWindowsThread();
    void theDeliveryMayStartTheNextRun();
};

void BackgroundRunTest::aResultIsDeliveredOnceOnTheWindowsThread() {
    BackgroundRun run;
    Deliveries got;
    QThread* work_thread = nullptr;
    QVERIFY(!run.running());
    const RunId id = run.start(
        [&](RunControl& control) {
            work_thread = QThread::currentThread();
            return int(control.id()) * 10;
        },
        got.to());
    QCOMPARE(run.id(), id);
    QVERIFY(run.running());
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    QCOMPARE(got.values, std::vector<int>{int(id) * 10});
    QCOMPARE(got.threads[0], QThread::currentThread());
    QVERIFY(work_thread && work_thread != QThread::currentThread());
    drain();
    QCOMPARE(int(got.values.size()), 1);

    // Each run its own id.
    const RunId next =
        run.start([](RunControl& control) { return int(control.id()) * 10; }, got.to());
    QVERIFY(next != id);
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    QCOMPARE(got.values, (std::vector<int>{int(id) * 10, int(next) * 10}));
}

void BackgroundRunTest::aCancelledRunsQueuedResultIsNeverTheNextRunsResult() {
    BackgroundRun run;
    Deliveries got;
    // The first run's work ends at once; cancel() waits for its thread, so its result is
    // queued for this thread when the second run starts.
    run.start([](RunControl&) { return 1; }, got.to());
    run.cancel();
    QVERIFY(!run.running());
    auto second_may_end = std::make_shared<Gate>();
    run.start(
        [second_may_end](RunControl&) {
            second_may_end->wait();
            return 2;
        },
        got.to());
    // The first run's post is handled while the second still works: dropped.
    drain();
    QVERIFY(got.values.empty());
    QVERIFY(run.running());
    second_may_end->open();
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    drain();
    QCOMPARE(got.values, std::vector<int>{2});

    // A cancel with nothing running changes nothing.
    run.cancel();
    drain();
    QCOMPARE(got.values, std::vector<int>{2});
}

void BackgroundRunTest::aRunStartedWhileOneGoesSupersedesIt() {
    BackgroundRun run;
    Deliveries got;
    auto never = std::make_shared<Gate>();
    std::atomic<bool> first_saw_cancel{false};
    const RunId first = run.start(
        [never, &first_saw_cancel](RunControl& control) {
            if (!never->wait_unless_cancelled(control)) first_saw_cancel = true;
            return 1;
        },
        got.to());
    const RunId second = run.start([](RunControl&) { return 2; }, got.to());
    // The first run has been told to stop and waited for before the second began.
    QVERIFY(first_saw_cancel);
    QVERIFY(second != first);
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    drain();
    QCOMPARE(got.values, std::vector<int>{2});
}

void BackgroundRunTest::destructionDuringARunWaitsForItAndDeliversNothing() {
    Deliveries got;
    std::atomic<bool> work_ended{false};
    auto never = std::make_shared<Gate>();
    auto started = std::make_shared<Gate>();
    {
        BackgroundRun run;
        run.start(
            [never, started, &work_ended](RunControl& control) {
                started->open();
                never->wait_unless_cancelled(control);
                work_ended = true;
                return 1;
            },
            got.to());
        started->wait();
    }
    // Joined by the destructor: the work has ended before it returned.
    QVERIFY(work_ended);
    drain();
    QVERIFY(got.values.empty());

    // Destroyed as its work ends: the destructor waits for the thread, so the result is
    // queued by then, and it goes with the object.
    {
        BackgroundRun run;
        auto returning = std::make_shared<Gate>();
        run.start(
            [returning](RunControl&) {
                returning->open();
                return 3;
            },
            got.to());
        returning->wait();
    }
    drain();
    QVERIFY(got.values.empty());
}

void BackgroundRunTest::anInterruptedRunStillDeliversWhatItsWorkReturns() {
    BackgroundRun run;
    Deliveries got;
    auto never = std::make_shared<Gate>();
    run.start(
        [never](RunControl& control) { return never->wait_unless_cancelled(control) ? 1 : -1; },
        got.to());
    run.interrupt();
    QVERIFY(run.running());  // not waited for
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    QCOMPARE(got.values, std::vector<int>{-1});

    // The next run starts with its flag down.
    std::optional<bool> cancelled_at_start;
    run.start(
        [&cancelled_at_start](RunControl& control) {
            cancelled_at_start = control.cancelled();
            return 0;
        },
        got.to());
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    QCOMPARE(cancelled_at_start, std::optional<bool>(false));
}

void BackgroundRunTest::progressReachesTheWindowsThread() {
    BackgroundRun run;
    Deliveries got;
    QSignalSpy progressed(&run, &BackgroundRun::progressed);
    auto reported = std::make_shared<Gate>();
    auto may_end = std::make_shared<Gate>();
    // Until the work reports, the total given at the start.
    run.start(
        [reported, may_end](RunControl& control) {
            reported->wait();
            control.report_progress(3, 8);
            may_end->wait();
            return 0;
        },
        got.to(), 12);
    QCOMPARE(run.progress(), (RunProgress{0, 12}));
    QVERIFY(progressed.wait(60000));
    QCOMPARE(progressed.last().at(0).toLongLong(), 0);
    QCOMPARE(progressed.last().at(1).toLongLong(), 12);

    reported->open();
    QTRY_COMPARE_WITH_TIMEOUT(run.progress(), (RunProgress{3, 8}), 60000);
    // The signal follows while the run goes on.
    progressed.clear();
    QVERIFY(progressed.wait(60000));
    QCOMPARE(progressed.last().at(0).toLongLong(), 3);
    QCOMPARE(progressed.last().at(1).toLongLong(), 8);

    may_end->open();
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 60000);
    // Nothing more once the run has ended.
    progressed.clear();
    QVERIFY(!progressed.wait(3 * BackgroundRun::kProgressIntervalMs));
    QCOMPARE(run.progress(), (RunProgress{3, 8}));
}

void BackgroundRunTest::theDeliveryMayStartTheNextRun() {
    // As the full-resolution save does: composed on a thread, then written on one.
    BackgroundRun run;
    Deliveries got;
    run.start([](RunControl&) { return 1; },
              [&](int first) {
                  got.to()(first);
                  QVERIFY(!run.running());
                  run.start([first](RunControl&) { return first + 1; }, got.to());
              });
    QTRY_COMPARE_WITH_TIMEOUT(got.values, (std::vector<int>{1, 2}), 60000);
    QVERIFY(!run.running());
}

QTEST_GUILESS_MAIN(BackgroundRunTest)
#include "background_run_test.moc"
