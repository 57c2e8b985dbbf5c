#include "platform/job_thread.h"

#include "diag/console.h"

#include <SDL.h>

struct JobThread {
    SDL_Thread* thread = nullptr;
    SDL_mutex* lock = nullptr;
    SDL_cond* changed = nullptr; // a job queued, a job finished or the stop request
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
void runNextJob(JobThread* jobs) {
    const int slot = int(jobs->taken % kJobQueueSlots);
    ++jobs->taken;
    const JobFunction function = jobs->functions[slot];
    void* argument = jobs->arguments[slot];
    SDL_UnlockMutex(jobs->lock);
    function(argument);
    SDL_LockMutex(jobs->lock);
    jobs->done[slot] = true;
    while (jobs->finished < jobs->taken && jobs->done[jobs->finished % kJobQueueSlots]) {
        jobs->done[jobs->finished % kJobQueueSlots] = false;
        ++jobs->finished;
    }
    SDL_CondBroadcast(jobs->changed);
}

int runJobs(void* data) {
    JobThread* jobs = static_cast<JobThread*>(data);
    SDL_LockMutex(jobs->lock);
    for (;;) {
        while (jobs->taken == jobs->queued && !jobs->stopping)
            SDL_CondWait(jobs->changed, jobs->lock);
        if (jobs->taken == jobs->queued) break; // stopping with nothing left to take
        runNextJob(jobs);
    }
    SDL_UnlockMutex(jobs->lock);
    return 0;
}

void freeJobThread(JobThread* jobs) {
    if (jobs->changed) SDL_DestroyCond(jobs->changed);
    if (jobs->lock) SDL_DestroyMutex(jobs->lock);
    delete jobs;
}

} // namespace

JobThread* startJobThread(const char* name) {
    if (SDL_GetCPUCount() < 2) return nullptr;
    JobThread* jobs = new JobThread{};
    jobs->lock = SDL_CreateMutex();
    jobs->changed = SDL_CreateCond();
    if (jobs->lock && jobs->changed) jobs->thread = SDL_CreateThread(runJobs, name, jobs);
    if (!jobs->thread) {
        consolePrint("No worker thread (%s): working on one thread\n", SDL_GetError());
        freeJobThread(jobs);
        return nullptr;
    }
    return jobs;
}

uint64_t queueJob(JobThread* jobs, JobFunction function, void* argument) {
    SDL_LockMutex(jobs->lock);
    uint64_t number = 0;
    if (jobs->queued - jobs->finished < kJobQueueSlots) {
        const int slot = int(jobs->queued % kJobQueueSlots);
        jobs->functions[slot] = function;
        jobs->arguments[slot] = argument;
        number = ++jobs->queued;
        SDL_CondBroadcast(jobs->changed);
    }
    SDL_UnlockMutex(jobs->lock);
    return number;
}

uint64_t finishedJobs(JobThread* jobs) {
    SDL_LockMutex(jobs->lock);
    const uint64_t finished = jobs->finished;
    SDL_UnlockMutex(jobs->lock);
    return finished;
}

void waitForJob(JobThread* jobs, uint64_t n) {
    SDL_LockMutex(jobs->lock);
    if (n > jobs->queued) n = jobs->queued;
    while (jobs->finished < n) {
        // Rather than idle, the caller runs the jobs it waits for that the worker has not
        // reached.
        if (jobs->taken < n)
            runNextJob(jobs);
        else
            SDL_CondWait(jobs->changed, jobs->lock);
    }
    SDL_UnlockMutex(jobs->lock);
}

void stopJobThread(JobThread* jobs) {
    if (!jobs) return;
    SDL_LockMutex(jobs->lock);
    jobs->stopping = true;
    SDL_CondBroadcast(jobs->changed);
    SDL_UnlockMutex(jobs->lock);
    SDL_WaitThread(jobs->thread, nullptr);
    freeJobThread(jobs);
}
