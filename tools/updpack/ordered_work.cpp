// Work spread over the machine's cores whose results are taken in order: any worker thread works on any
// item, and the calling thread takes each item's result in the items' order, so that what is written and
// printed is the same whatever the number of workers and whichever finishes first. A worker's Report
// lines are held with its item and printed when the item is taken. While it waits, the calling thread
// keeps the progress line up to date on a terminal; what an item prints takes the line's place (and the
// line is drawn again below it), so the line never shows through a message.
#include "tools/updpack/updpack.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

// The one switch for hosts without threads: mingw-w64's compilers of the win32 thread model have no
// std::thread, and the Windows updpack then works on one item at a time in the calling thread.
#if defined(_GLIBCXX_HAS_GTHREADS)
#define UPDPACK_WORKER_THREADS 1
#include <condition_variable>
#include <mutex>
#include <thread>
#else
#define UPDPACK_WORKER_THREADS 0
#endif

namespace {
const unsigned WorkerLimit = 64;
// The calling thread looks at the progress this often while it waits.
const std::chrono::milliseconds ProgressTick(100);

FILE* ProgressStream() {
    return HostErrorIsTerminal() ? stderr : nullptr;
}

// Takes item's result: its work's Report lines on stderr, then what deliver says on stdout and its own
// Report lines, all after the progress line is taken off the screen.
int Deliver(const std::function<int(size_t, int, std::string&)>& deliver, size_t item, int worked,
            const std::string& workReports, ProgressMeter& meter) {
    std::string said, reports;
    HoldReports(&reports);
    int delivered = deliver(item, worked, said);
    HoldReports(nullptr);
    if (workReports.empty() && said.empty() && reports.empty()) return delivered;
    ClearProgress(meter);
    fputs(workReports.c_str(), stderr);
    fputs(said.c_str(), stdout);
    fflush(stdout);
    fputs(reports.c_str(), stderr);
    return delivered;
}
} // namespace

unsigned WorkerCount() {
#if UPDPACK_WORKER_THREADS
    const char* forced = getenv("UPDPACK_WORKERS");
    // Digits only: strtoul would take "-1" for the largest number.
    if (forced && *forced >= '0' && *forced <= '9') {
        char* end = nullptr;
        unsigned long count = strtoul(forced, &end, 10);
        if (*end == '\0' && count >= 1)
            return count < WorkerLimit ? static_cast<unsigned>(count) : WorkerLimit;
    }
    unsigned cores = std::thread::hardware_concurrency();
    if (cores > WorkerLimit) return WorkerLimit;
    return cores ? cores : 1;
#else
    return 1;
#endif
}

#if !UPDPACK_WORKER_THREADS
int RunInOrder(const std::vector<uint64_t>& sizes, unsigned, const std::function<int(size_t)>& work,
               const std::function<int(size_t, int, std::string&)>& deliver) {
    ProgressMeter meter;
    uint64_t bytes = 0, bytesDone = 0;
    for (uint64_t size : sizes)
        bytes += size;
    BeginProgress(meter, ProgressStream(), sizes.size(), bytes, ProgressClock());
    int delivered = 1;
    for (size_t i = 0; delivered && i < sizes.size(); ++i) {
        std::string reports;
        HoldReports(&reports);
        int worked = work(i);
        HoldReports(nullptr);
        bytesDone += sizes[i];
        delivered = Deliver(deliver, i, worked, reports, meter);
        ShowProgress(meter, i + 1, bytesDone, ProgressClock());
    }
    EndProgress(meter, ProgressClock());
    return delivered;
}
#else
namespace {
// What the workers and the calling thread share, under lock.
struct WorkQueue {
    const std::vector<uint64_t>* sizes;
    const std::function<int(size_t)>* work;
    unsigned workers;
    std::mutex lock;
    std::condition_variable changed; // an item was finished or taken, or the run stops
    size_t next = 0;                 // the next item a worker claims
    size_t taken = 0;                // items the calling thread has taken
    uint64_t waiting = 0;            // bytes of the items finished and not yet taken
    int stopping = 0;                // the calling thread takes no more: claim nothing new
    size_t finishedCount = 0;
    uint64_t finishedBytes = 0;
    std::vector<unsigned char> finished;
    std::vector<int> results;
    std::vector<std::string> reports; // each item's Report lines, held until it is taken
};

int MayClaim(const WorkQueue& queue) {
    if (queue.stopping || queue.next >= queue.sizes->size()) return 1;
    return queue.next < queue.taken + queue.workers || queue.waiting <= AheadBytesLimit;
}

void RunWorker(WorkQueue* queue) {
    std::unique_lock<std::mutex> guard(queue->lock);
    for (;;) {
        queue->changed.wait(guard, [queue] { return MayClaim(*queue); });
        if (queue->stopping || queue->next >= queue->sizes->size()) return;
        size_t item = queue->next++;
        guard.unlock();
        // Only this worker touches the item's slot until it is marked finished.
        HoldReports(&queue->reports[item]);
        int result = (*queue->work)(item);
        HoldReports(nullptr);
        guard.lock();
        queue->results[item] = result;
        queue->finished[item] = 1;
        ++queue->finishedCount;
        queue->finishedBytes += (*queue->sizes)[item];
        queue->waiting += (*queue->sizes)[item];
        queue->changed.notify_all();
    }
}
} // namespace

int RunInOrder(const std::vector<uint64_t>& sizes, unsigned workers, const std::function<int(size_t)>& work,
               const std::function<int(size_t, int, std::string&)>& deliver) {
    size_t count = sizes.size();
    WorkQueue queue;
    queue.sizes = &sizes;
    queue.work = &work;
    queue.workers = workers < 1 ? 1 : workers > WorkerLimit ? WorkerLimit : workers;
    if (queue.workers > count) queue.workers = count ? static_cast<unsigned>(count) : 1;
    queue.finished.assign(count, 0);
    queue.results.assign(count, 0);
    queue.reports.resize(count);
    uint64_t bytes = 0;
    for (uint64_t size : sizes)
        bytes += size;
    ProgressMeter meter;
    BeginProgress(meter, ProgressStream(), count, bytes, ProgressClock());

    std::vector<std::thread> threads;
    for (unsigned i = 0; count && i < queue.workers; ++i)
        threads.emplace_back(RunWorker, &queue);
    int delivered = 1;
    for (size_t item = 0; delivered && item < count; ++item) {
        std::unique_lock<std::mutex> guard(queue.lock);
        while (!queue.finished[item]) {
            queue.changed.wait_for(guard, ProgressTick);
            ShowProgress(meter, queue.finishedCount, queue.finishedBytes, ProgressClock());
        }
        int result = queue.results[item];
        std::string reports;
        reports.swap(queue.reports[item]);
        guard.unlock();

        delivered = Deliver(deliver, item, result, reports, meter);

        guard.lock();
        queue.taken = item + 1;
        queue.waiting -= sizes[item];
        // Before the workers wake: a failed delivery must let none of them claim another item.
        queue.stopping = !delivered;
        queue.changed.notify_all();
        ShowProgress(meter, queue.finishedCount, queue.finishedBytes, ProgressClock());
    }
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        queue.stopping = 1;
        queue.changed.notify_all();
    }
    for (std::thread& thread : threads)
        thread.join();
    EndProgress(meter, ProgressClock());
    return delivered;
}
#endif
