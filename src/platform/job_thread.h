// One background thread that runs processor-only jobs in the order they were queued, so the
// main thread can hand off work (compressing a texture) and go on (decoding the next); a
// caller waiting for a job runs the jobs up to it that the worker has not reached. Jobs touch
// only memory handed to them, on either thread: no GL, no console, no globals. Built on
// std::thread; the caller owns the job arguments until their job is done.
#pragma once

#include <cstdint>

constexpr int kJobQueueSlots = 64;

struct JobThread;
using JobFunction = void (*)(void* argument);

// Null when a second thread would not help (one processor) or cannot be started; callers then
// run their jobs themselves.
JobThread* startJobThread(const char* name);

// Queues a job and returns its number (1 for the first, then counting up); 0 when the queue
// is full, in which case nothing was queued.
uint64_t queueJob(JobThread* thread, JobFunction function, void* argument);

// How many jobs have finished without a gap from the first: job n is done when this is at
// least n.
uint64_t finishedJobs(JobThread* thread);

// Returns when job n (and so every job before it) has finished, running those the worker has
// not taken yet on the calling thread. n past the last queued job means the last one.
void waitForJob(JobThread* thread, uint64_t n);

// Finishes the queued jobs, ends the thread and frees it. Null is allowed.
void stopJobThread(JobThread* thread);
