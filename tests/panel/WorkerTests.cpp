// The worker that runs the panel's jobs off the GUI thread: results and
// reports in order on the owner's thread, skipping while busy, the abort
// event, and an orderly end with jobs still running or waiting.
#include <atomic>
#include <thread>
#include <vector>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "TestEvent.h"
#include "TestSupport.h"
#include "Worker.h"

namespace {

class WorkerTest : public ::testing::Test {
protected:
    bool Pump(const std::function<bool()>& done) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return done();
        });
    }

    int m_argc = 1;
    char m_name[13] = "panel_worker";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_app{m_argc, m_argv};
};

}  // namespace

TEST_F(WorkerTest, RunsOffTheOwnersThreadAndHandsBackReportsAndResultsInOrder) {
    CWorker worker;
    std::vector<int> seen;  // owner's thread only
    std::thread::id jobThread, deliveryThread;
    QObject::connect(&worker, &CWorker::Finished, [&](const QVariant& result) {
        deliveryThread = std::this_thread::get_id();
        seen.push_back(result.toInt());
    });
    testsupport::CTestEvent release(true);
    ASSERT_TRUE(worker.Request([&] {
        jobThread = std::this_thread::get_id();
        worker.Report([&] { seen.push_back(-1); });
        release.Wait();
        return QVariant(1);
    }));
    ASSERT_TRUE(worker.Request([] { return QVariant(2); }));  // queued behind the first
    EXPECT_TRUE(worker.Busy());
    EXPECT_FALSE(worker.Request([] { return QVariant(3); }, CWorker::IfBusy::Skip));
    release.Set();
    ASSERT_TRUE(Pump([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<int>{-1, 1, 2}));
    EXPECT_NE(jobThread, std::this_thread::get_id());
    EXPECT_EQ(deliveryThread, std::this_thread::get_id());
    EXPECT_TRUE(OnThreadOf(worker));
    EXPECT_FALSE(worker.Busy()) << "idle once the last result is delivered";
    EXPECT_TRUE(worker.Request([] { return QVariant(4); }, CWorker::IfBusy::Skip));
    ASSERT_TRUE(Pump([&] { return seen.size() == 4; }));
}

TEST_F(WorkerTest, AbortEventIsFreshForEachIdleRequestAndSetByAbort) {
    CWorker worker;
    std::vector<bool> aborted;
    QObject::connect(&worker, &CWorker::Finished, [&](const QVariant& result) { aborted.push_back(result.toBool()); });
    const auto waitForAbort = [&] {
        return QVariant(WaitForSingleObject(worker.AbortEvent(), 10000) == WAIT_OBJECT_0);
    };
    ASSERT_TRUE(worker.Request(waitForAbort));
    worker.Abort();
    ASSERT_TRUE(Pump([&] { return aborted.size() == 1; }));
    EXPECT_TRUE(aborted[0]);
    ASSERT_TRUE(worker.Request([&] { return QVariant(WaitForSingleObject(worker.AbortEvent(), 0) == WAIT_OBJECT_0); }));
    ASSERT_TRUE(Pump([&] { return aborted.size() == 2; }));
    EXPECT_FALSE(aborted[1]) << "an abort must not carry over to the next request";
}

TEST_F(WorkerTest, DestructionAbortsTheRunningJobDropsTheQueuedAndDeliversNothing) {
    std::atomic<int> started{0};
    int delivered = 0;
    testsupport::CLatch running;
    {
        CWorker worker;
        QObject::connect(&worker, &CWorker::Finished, [&](const QVariant&) { ++delivered; });
        worker.Request([&] {
            ++started;
            running.Signal();
            // Only the destructor's abort ends this job.
            return QVariant(WaitForSingleObject(worker.AbortEvent(), 10000) == WAIT_OBJECT_0);
        });
        worker.Request([&] {
            ++started;
            return QVariant();
        });
        ASSERT_TRUE(running.WaitFor(1));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(delivered, 0);
}
