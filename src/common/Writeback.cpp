#include "common/Writeback.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace meshcodec {

namespace {

// Waits until what was written to `descriptor` is on disk: 0, or the errno of the
// failure. The data is all that must be there before the file takes another's name:
// the journal writes the file's size and blocks no later than the rename. Where the
// file system does not take the call, fdatasync, which does more.
int flush(int descriptor) {
  if (sync_file_range(descriptor, 0, 0,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ESPIPE && errno != EOPNOTSUPP) return errno;
  return fdatasync(descriptor) == 0 ? 0 : errno;
}

// The thread is woken for this many files at once (each wake costs the command a
// system call), or sooner for a file awaited; more than kMostPending files waiting
// would hold as many descriptors open, and the command then waits.
constexpr std::size_t kBatch = 8;
constexpr std::size_t kMostPending = 16;

// The files handed over and not yet on disk, in order. Never freed: the thread may
// still wait on it while the process exits.
struct Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::uint64_t, int>> pending;  // ticket and descriptor
  std::map<std::uint64_t, int> failures;              // errno by ticket
  std::uint64_t issued = 0;                           // the last ticket given
  std::uint64_t done = 0;                             // every ticket up to it is done
  std::uint64_t awaited = 0;                          // the last ticket waited for
  bool threaded = false;
  pid_t owner = 0;  // a child process after fork has no thread and starts its own
};
Queue* queue = nullptr;

// Takes every file waiting at once: all are sent before any is waited for, so that
// their writes are in flight together.
void work(Queue* q) {
  std::unique_lock<std::mutex> lock(q->mutex);
  for (;;) {
    q->changed.wait(lock, [q] {
      return q->pending.size() >= kBatch || (!q->pending.empty() && q->awaited > q->done);
    });
    std::deque<std::pair<std::uint64_t, int>> batch;
    batch.swap(q->pending);
    q->changed.notify_all();  // room for more
    lock.unlock();
    for (const auto& [ticket, descriptor] : batch) sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
    std::map<std::uint64_t, int> failed;
    for (const auto& [ticket, descriptor] : batch) {
      if (const int error = flush(descriptor); error != 0) failed[ticket] = error;
      close(descriptor);
    }
    lock.lock();
    q->failures.merge(failed);
    q->done = batch.back().first;
    q->changed.notify_all();
  }
}

Queue& theQueue() {
  if (queue != nullptr && queue->owner == getpid()) return *queue;
  queue = new Queue;
  queue->owner = getpid();
  // The stop signals' handler must run in the thread that holds them while outputs
  // are put in place, and this thread holds none.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    std::thread(work, queue).detach();
    queue->threaded = true;
  } catch (const std::system_error&) {
    // No thread (a limit on processes): each file is written as it is handed over.
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return *queue;
}

}  // namespace

std::uint64_t startWriteback(int descriptor) {
  Queue& q = theQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  const std::uint64_t ticket = ++q.issued;
  if (!q.threaded) {
    const int error = flush(descriptor);
    close(descriptor);
    if (error != 0) q.failures[ticket] = error;
    q.done = ticket;
    return ticket;
  }
  q.changed.wait(lock, [&q] { return q.pending.size() < kMostPending; });
  q.pending.emplace_back(ticket, descriptor);
  if (q.pending.size() >= kBatch) q.changed.notify_all();
  return ticket;
}

int awaitWriteback(std::uint64_t ticket) {
  Queue& q = theQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  if (q.done < ticket) {
    q.awaited = std::max(q.awaited, ticket);
    q.changed.notify_all();
  }
  q.changed.wait(lock, [&] { return q.done >= ticket; });
  const auto failure = q.failures.find(ticket);
  if (failure == q.failures.end()) return 0;
  const int error = failure->second;
  q.failures.erase(failure);
  return error;
}

}  // namespace meshcodec
