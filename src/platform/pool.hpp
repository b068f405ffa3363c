// The process-wide worker pool.
//
//     quarnel::pool::parallel_for(n, [&](std::size_t begin, std::size_t end) { ... });
//
// runs the independent tasks 0 .. n-1, handing each piece [begin, end) of the range to
// exactly one thread, and returns when every task has run. The calling thread takes part
// and blocks until the last piece is done; a range of at most one task, a nested call (from
// inside a task) and a call made while another thread is using the pool all run inline on
// the calling thread. Pieces come from halving the range: first into about as many pieces as
// there are threads, and again whenever an idle thread steals a piece.
//
// Tasks must write disjoint outputs and must not depend on which thread runs them or on how
// the range was cut; then results never depend on the number of threads.
//
// The first exception a task throws is carried back and rethrown by parallel_for once every
// piece has finished (pieces not yet started when it was thrown are skipped). No exception
// ever escapes a worker thread.
//
// Size: the number of threads (calling thread included) is the CPU count available to the
// process (affinity mask, reduced by a cgroup CPU quota), or QUARNEL_NUM_THREADS when it holds
// a positive decimal integer (at most kMaxThreads); any other value means automatic. It is read
// when the pool starts, that is on the first call that needs workers, and again after fork().
//
// fork(): the workers are stopped before the fork; the parent and the child each restart them
// on their next parallel call. The pool never touches interpreter objects.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace quarnel::pool {

inline constexpr std::size_t kMaxThreads = 256;

// Threads that run the tasks of one call, the calling thread included (starts the pool).
std::size_t thread_count();

namespace detail {
// CPUs granted by a cgroup CPU quota (quota / period, the smallest along the cgroup's
// ancestry), from a /proc/<pid>/cgroup file and the cgroup file-system root (v2 `cpu.max`,
// v1 `cpu/cpu.cfs_quota_us` and `cpu.cfs_period_us`); nullopt when no quota applies.
std::optional<double> cgroup_cpu_limit(const std::string& proc_cgroup, const std::string& root);

using RangeFn = void (*)(void* ctx, std::size_t begin, std::size_t end);
void run(std::size_t n, void* ctx, RangeFn fn);
}  // namespace detail

template <class F>
void parallel_for(std::size_t n, F&& body) {
    using Body = std::remove_reference_t<F>;
    detail::run(n, const_cast<void*>(static_cast<const void*>(&body)), [](void* ctx, std::size_t b, std::size_t e) {
        (*static_cast<Body*>(ctx))(b, e);
    });
}

}  // namespace quarnel::pool
