// The worker thread: jobs run in queue order, the queue refuses a job past its slots instead
// of overwriting one, waiting for a job means every earlier one is done, and stopping
// finishes what was queued.
#include "platform/job_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

struct Log {
    std::atomic<int> gate{1}; // jobs spin while 0, so the queue can be filled
    int order[3 * kJobQueueSlots] = {};
    std::atomic<int> count{0};
};

struct Job {
    Log* log;
    int number;
};

void record(void* argument) {
    Job* job = static_cast<Job*>(argument);
    while (job->log->gate.load() == 0) {
    }
    job->log->order[job->log->count.fetch_add(1)] = job->number;
}

TEST(JobThread, RunsInOrderRefusesAFullQueueAndFinishesOnStop) {
    JobThread* worker = startJobThread("test");
    if (!worker) GTEST_SKIP() << "one processor: no worker";
    Log log;
    std::vector<Job> jobs(3 * kJobQueueSlots);
    for (int i = 0; i < int(jobs.size()); ++i)
        jobs[size_t(i)] = {&log, i};

    log.gate = 0; // the first job blocks the worker, so the queue fills up
    int queued = 0;
    for (; queued < int(jobs.size()); ++queued)
        if (queueJob(worker, record, &jobs[size_t(queued)]) == 0) break;
    EXPECT_EQ(queued, kJobQueueSlots);
    EXPECT_EQ(finishedJobs(worker), 0u);
    log.gate = 1;
    waitForJob(worker, 10);
    EXPECT_GE(finishedJobs(worker), 10u);
    waitForJob(worker, uint64_t(queued));
    EXPECT_EQ(finishedJobs(worker), uint64_t(queued));

    // Numbers go on counting; a wait past the last queued job returns at once.
    EXPECT_EQ(queueJob(worker, record, &jobs[size_t(queued)]), uint64_t(queued) + 1);
    ++queued;
    waitForJob(worker, 1000);
    for (; queued < int(jobs.size()); ++queued)
        while (queueJob(worker, record, &jobs[size_t(queued)]) == 0)
            waitForJob(worker, finishedJobs(worker) + 1); // room for one more
    stopJobThread(worker); // finishes the queued jobs first
    ASSERT_EQ(log.count.load(), int(jobs.size()));
    for (int i = 0; i < int(jobs.size()); ++i)
        ASSERT_EQ(log.order[i], i);
    stopJobThread(nullptr);
}

} // namespace
