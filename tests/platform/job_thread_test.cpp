// The worker thread: every job runs once, the queue refuses a job past its slots instead of
// overwriting one, waiting for a job means every earlier one is done (the waiting thread runs
// what the worker has not reached), and stopping finishes what was queued.
#include "platform/job_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Log {
    std::atomic<int> hold{-1}; // the job with this number spins until `released` jobs ran
    std::atomic<int> released{0};
    std::atomic<int> runs[3 * kJobQueueSlots] = {};
    std::thread::id ranOn[3 * kJobQueueSlots];
    std::atomic<int> count{0};
    std::atomic<int> started{0};
};

struct Job {
    Log* log;
    int number;
};

void record(void* argument) {
    Job* job = static_cast<Job*>(argument);
    Log& log = *job->log;
    ++log.started;
    while (job->number == log.hold.load() && log.count.load() < log.released.load()) {
    }
    log.ranOn[job->number] = std::this_thread::get_id();
    ++log.runs[job->number];
    ++log.count;
}

struct JobThreadTest : ::testing::Test {
    JobThread* worker = nullptr;
    Log log;
    std::vector<Job> jobs = std::vector<Job>(3 * kJobQueueSlots);
    void SetUp() override {
        worker = startJobThread("test");
        if (!worker) GTEST_SKIP() << "one processor: no worker";
        for (int i = 0; i < int(jobs.size()); ++i)
            jobs[size_t(i)] = {&log, i};
    }
    void TearDown() override { stopJobThread(worker); }
};

TEST_F(JobThreadTest, QueueRefusesPastItsSlotsAndEveryJobRunsOnce) {
    log.hold = 0, log.released = 1 << 30; // the first job blocks the worker: the queue fills
    int queued = 0;
    for (; queued < int(jobs.size()); ++queued)
        if (queueJob(worker, record, &jobs[size_t(queued)]) == 0) break;
    EXPECT_EQ(queued, kJobQueueSlots);
    EXPECT_EQ(finishedJobs(worker), 0u);
    log.hold = -1;
    waitForJob(worker, 10);
    EXPECT_GE(finishedJobs(worker), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(log.runs[i].load(), 1) << i;
    waitForJob(worker, uint64_t(queued));
    EXPECT_EQ(finishedJobs(worker), uint64_t(queued));

    // Numbers go on counting; a wait past the last queued job waits for that one.
    EXPECT_EQ(queueJob(worker, record, &jobs[size_t(queued)]), uint64_t(queued) + 1);
    ++queued;
    waitForJob(worker, 1000);
    EXPECT_EQ(finishedJobs(worker), uint64_t(queued));
    for (; queued < int(jobs.size()); ++queued)
        while (queueJob(worker, record, &jobs[size_t(queued)]) == 0)
            waitForJob(worker, finishedJobs(worker) + 1); // room for one more
    stopJobThread(worker);                                // finishes the queued jobs first
    worker = nullptr;
    EXPECT_EQ(log.count.load(), int(jobs.size()));
    for (int i = 0; i < int(jobs.size()); ++i)
        ASSERT_EQ(log.runs[i].load(), 1) << i;
}

TEST_F(JobThreadTest, WaitingCallerRunsWhatTheWorkerHasNotReached) {
    // Job 1 holds the worker until two other jobs have run: only the waiting caller can run
    // them, and the wait must not end before job 1 has.
    log.hold = 0, log.released = 2;
    ASSERT_EQ(queueJob(worker, record, &jobs[0]), 1u);
    while (log.started.load() == 0) { // the worker has it
    }
    for (int i = 1; i < 3; ++i)
        ASSERT_EQ(queueJob(worker, record, &jobs[size_t(i)]), uint64_t(i) + 1);
    waitForJob(worker, 3);
    EXPECT_EQ(finishedJobs(worker), 3u);
    EXPECT_EQ(log.count.load(), 3);
    EXPECT_NE(log.ranOn[0], std::this_thread::get_id());
    EXPECT_EQ(log.ranOn[1], std::this_thread::get_id());
    EXPECT_EQ(log.ranOn[2], std::this_thread::get_id());
}

} // namespace

TEST(JobThread, StopWithoutThreadIsAllowed) {
    stopJobThread(nullptr);
}
