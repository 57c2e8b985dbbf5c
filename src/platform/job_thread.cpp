#include "platform/job_thread.h"

#include "diag/console.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#ifdef _WIN32
#include <system_error>
#include <thread>
#else
#include <pthread.h>
#endif

// POSIX threads are made with pthread_create itself: with SDL's threads and with std::thread
// alike, the leak checker of sanitizer builds crashed at exit now and then while scanning the
// main thread's dynamic TLS.
struct JobThread {
#ifdef _WIN32
    std::thread thread;
#else
    pthread_t thread{};
#endif
    std::mutex lock;
    std::condition_variable changed; // a job queued, a job finished or the stop request
    JobFunction functions[kJobQueueSlots] = {};
    void* arguments[kJobQueueSlots] = {};
    bool done[kJobQueueSlots] = {};
    // Job n lives in slot (n - 1) % kJobQueueSlots. Jobs are taken in order; they may end out
    // of order when a waiting caller runs one beside the worker, so finished counts the
    // unbroken run of ended jobs from the first.
    uint64_t queued = 0;
    uint64_t taken = 0;
    uint64_t finished = 0;
    bool stopping = false;
};

namespace {

// Runs the next job not yet taken; called and returns with the lock held.
void runNextJob(JobThread* jobs, std::unique_lock<std::mutex>& held) {
    const int slot = int(jobs->taken % kJobQueueSlots);
    ++jobs->taken;
    const JobFunction function = jobs->functions[slot];
    void* argument = jobs->arguments[slot];
    held.unlock();
    function(argument);
    held.lock();
    jobs->done[slot] = true;
    while (jobs->finished < jobs->taken && jobs->done[jobs->finished % kJobQueueSlots]) {
        jobs->done[jobs->finished % kJobQueueSlots] = false;
        ++jobs->finished;
    }
    jobs->changed.notify_all();
}

void runJobs(JobThread* jobs) {
    std::unique_lock<std::mutex> held(jobs->lock);
    for (;;) {
        jobs->changed.wait(held, [jobs] { return jobs->taken < jobs->queued || jobs->stopping; });
        if (jobs->taken == jobs->queued) break; // stopping with nothing left to take
        runNextJob(jobs, held);
    }
}

#ifndef _WIN32
void* runJobsPosix(void* jobs) {
    runJobs(static_cast<JobThread*>(jobs));
    return nullptr;
}
#endif

} // namespace

JobThread* startJobThread(const char* name) {
    if (std::thread::hardware_concurrency() < 2) return nullptr;
    JobThread* jobs = new JobThread{};
#ifdef _WIN32
    // The standard library reports a thread it cannot start only by exception.
    try {
        jobs->thread = std::thread(runJobs, jobs);
    } catch (const std::system_error& error) {
        consolePrint("No worker thread for %s (%s): working on one thread\n", name, error.what());
        delete jobs;
        return nullptr;
    }
#else
    const int failed = pthread_create(&jobs->thread, nullptr, runJobsPosix, jobs);
    if (failed != 0) {
        consolePrint("No worker thread for %s (%s): working on one thread\n", name,
                     std::strerror(failed));
        delete jobs;
        return nullptr;
    }
#endif
    return jobs;
}

uint64_t queueJob(JobThread* jobs, JobFunction function, void* argument) {
    std::lock_guard<std::mutex> held(jobs->lock);
    if (jobs->queued - jobs->finished >= kJobQueueSlots) return 0;
    const int slot = int(jobs->queued % kJobQueueSlots);
    jobs->functions[slot] = function;
    jobs->arguments[slot] = argument;
    jobs->changed.notify_all();
    return ++jobs->queued;
}

uint64_t finishedJobs(JobThread* jobs) {
    std::lock_guard<std::mutex> held(jobs->lock);
    return jobs->finished;
}

void waitForJob(JobThread* jobs, uint64_t n) {
    std::unique_lock<std::mutex> held(jobs->lock);
    if (n > jobs->queued) n = jobs->queued;
    while (jobs->finished < n) {
        // Rather than idle, the caller runs the jobs it waits for that the worker has not
        // reached.
        if (jobs->taken < n)
            runNextJob(jobs, held);
        else
            jobs->changed.wait(held);
    }
}

void stopJobThread(JobThread* jobs) {
    if (!jobs) return;
    {
        std::lock_guard<std::mutex> held(jobs->lock);
        jobs->stopping = true;
        jobs->changed.notify_all();
    }
#ifdef _WIN32
    jobs->thread.join();
#else
    pthread_join(jobs->thread, nullptr);
#endif
    delete jobs;
}
