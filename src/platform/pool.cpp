#include "platform/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quarnel::pool {
namespace {

// ---------------------------------------------------------------- sizing

std::size_t affinity_cpus() {
    for (int ncpu = 1024; ncpu <= (1 << 18); ncpu *= 2) {
        cpu_set_t* set = CPU_ALLOC(ncpu);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(ncpu);
        CPU_ZERO_S(size, set);
        if (sched_getaffinity(0, size, set) == 0) {
            const int count = CPU_COUNT_S(size, set);
            CPU_FREE(set);
            return count > 0 ? static_cast<std::size_t>(count) : 1;
        }
        const int err = errno;
        CPU_FREE(set);
        if (err != EINVAL) break;  // EINVAL: the kernel's mask is larger than ours
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 1;
}

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

// Directories from `root + path` up to `root` itself: a quota set on an ancestor limits us too.
std::vector<std::string> cgroup_dirs(const std::string& root, std::string path) {
    std::vector<std::string> dirs;
    while (!path.empty() && path.back() == '/') path.pop_back();
    for (;;) {
        dirs.push_back(root + path);
        if (path.empty()) break;
        const auto slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
    return dirs;
}

}  // namespace

namespace detail {
std::optional<double> cgroup_cpu_limit(const std::string& proc_cgroup, const std::string& root) {
    std::ifstream in(proc_cgroup);
    std::string line;
    std::optional<double> limit;
    auto consider = [&](double cpus) {
        if (cpus > 0 && (!limit || cpus < *limit)) limit = cpus;
    };
    while (std::getline(in, line)) {
        const auto c1 = line.find(':');
        const auto c2 = c1 == std::string::npos ? std::string::npos : line.find(':', c1 + 1);
        if (c2 == std::string::npos) continue;
        const std::string hierarchy = line.substr(0, c1);
        const std::string controllers = line.substr(c1 + 1, c2 - c1 - 1);
        const std::string path = line.substr(c2 + 1);
        if (hierarchy == "0" && controllers.empty()) {  // cgroup v2: "max 100000" or "200000 100000"
            for (const auto& dir : cgroup_dirs(root, path)) {
                auto text = read_first_line(dir + "/cpu.max");
                if (!text) continue;
                std::istringstream fields(*text);
                std::string quota;
                double period = 0;
                if (fields >> quota >> period && quota != "max" && period > 0) {
                    char* end = nullptr;
                    const double q = std::strtod(quota.c_str(), &end);
                    if (end && *end == '\0') consider(q / period);
                }
            }
            continue;
        }
        bool has_cpu = false;  // cgroup v1: the hierarchy whose controller list names "cpu"
        std::istringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');) has_cpu = has_cpu || name == "cpu";
        if (!has_cpu) continue;
        for (const char* mount : {"/cpu", "/cpu,cpuacct", "/cpuacct,cpu"}) {
            for (const auto& dir : cgroup_dirs(root + mount, path)) {
                auto quota = read_first_line(dir + "/cpu.cfs_quota_us");
                auto period = read_first_line(dir + "/cpu.cfs_period_us");
                if (!quota || !period) continue;
                const double q = std::strtod(quota->c_str(), nullptr), p = std::strtod(period->c_str(), nullptr);
                if (q > 0 && p > 0) consider(q / p);  // a quota of -1 means none
            }
        }
    }
    return limit;
}

}  // namespace detail

namespace {

// QUARNEL_NUM_THREADS: a positive decimal integer (surrounding blanks allowed), capped at
// kMaxThreads; anything else (unset, empty, 0, negative, not a number) means automatic.
std::optional<std::size_t> env_thread_count() {
    const char* text = std::getenv("QUARNEL_NUM_THREADS");
    if (!text) return std::nullopt;
    std::string s(text);
    const auto first = s.find_first_not_of(" \t\n\r");
    if (first == std::string::npos) return std::nullopt;
    s = s.substr(first, s.find_last_not_of(" \t\n\r") - first + 1);
    std::size_t value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(c - '0'), kMaxThreads);
    }
    if (value == 0) return std::nullopt;
    return value;
}

std::size_t configured_threads() {
    if (auto forced = env_thread_count()) return *forced;
    std::size_t n = affinity_cpus();
    if (auto quota = detail::cgroup_cpu_limit("/proc/self/cgroup", "/sys/fs/cgroup")) n = std::min(n, static_cast<std::size_t>(std::max(1.0, std::ceil(*quota))));
    return std::clamp<std::size_t>(n, 1, kMaxThreads);
}

// ---------------------------------------------------------------- the pool

struct Piece {
    std::size_t begin, end;
    std::size_t splits;  // how many more times this piece may be halved before it runs
};

struct Job {
    void* ctx;
    detail::RangeFn fn;
    std::atomic<std::size_t> remaining;  // tasks not yet run or skipped
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    std::exception_ptr error;
};

struct alignas(64) Queue {
    std::mutex mutex;
    std::deque<Piece> pieces;  // the owner works at the back, thieves take the front
};

// Set on worker threads for their whole life, and on the calling thread while it takes part
// in a job, so that a nested parallel_for runs inline.
thread_local bool t_in_pool = false;

class Pool {
public:
    explicit Pool(std::size_t wanted) : queues_(std::make_unique<Queue[]>(wanted)) {
        workers_.reserve(wanted - 1);
        for (std::size_t i = 1; i < wanted; ++i) {
            try {
                workers_.emplace_back(&Pool::worker_main, this, i);
            } catch (...) {
                break;  // run with the workers we could start
            }
        }
        threads_ = workers_.size() + 1;
    }

    ~Pool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& w : workers_) w.join();
    }

    std::size_t threads() const { return threads_; }

    void run(Job& job, std::size_t n) {
        {
            std::lock_guard q(queues_[0].mutex);
            queues_[0].pieces.push_back(Piece{0, n, threads_});
        }
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            ++epoch_;
        }
        wake_.notify_all();
        t_in_pool = true;
        work(job, 0, true);
        t_in_pool = false;
        std::unique_lock lock(mutex_);
        job_ = nullptr;  // late risers ignore the finished job
        idle_.wait(lock, [&] { return busy_ == 0; });
    }

private:
    static constexpr int kIdleSpins = 64;

    void worker_main(std::size_t self) {
        t_in_pool = true;
        std::uint64_t seen = 0;
        for (;;) {
            Job* job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || (job_ && epoch_ != seen); });
                if (stop_) return;
                seen = epoch_;
                job = job_;
                ++busy_;
            }
            work(*job, self, false);
            std::lock_guard lock(mutex_);
            if (--busy_ == 0) idle_.notify_all();
        }
    }

    // Runs pieces until none is left to take. A worker then leaves after a short spin; the
    // calling thread stays until every task has finished, still stealing what appears.
    void work(Job& job, std::size_t self, bool caller) {
        int idle = 0;
        while (job.remaining.load(std::memory_order_acquire) != 0) {
            Piece piece;
            if (take(self, piece)) {
                execute(job, self, piece);
                idle = 0;
                continue;
            }
            if (++idle <= kIdleSpins) {
                std::this_thread::yield();
                continue;
            }
            if (!caller) return;
            std::unique_lock lock(done_mutex_);
            done_.wait_for(lock, std::chrono::microseconds(200),
                           [&] { return job.remaining.load(std::memory_order_acquire) == 0; });
        }
    }

    bool take(std::size_t self, Piece& out) {
        {
            Queue& own = queues_[self];
            std::lock_guard lock(own.mutex);
            if (!own.pieces.empty()) {
                out = own.pieces.back();
                own.pieces.pop_back();
                return true;
            }
        }
        for (std::size_t k = 1; k < threads_; ++k) {
            Queue& victim = queues_[(self + k) % threads_];
            std::lock_guard lock(victim.mutex);
            if (!victim.pieces.empty()) {
                out = victim.pieces.front();
                victim.pieces.pop_front();
                out.splits = threads_;  // a stolen piece is cut again for the idle threads
                return true;
            }
        }
        return false;
    }

    void execute(Job& job, std::size_t self, Piece piece) {
        while (piece.end - piece.begin > 1 && piece.splits > 1) {
            const std::size_t mid = piece.begin + (piece.end - piece.begin) / 2;
            piece.splits /= 2;
            try {
                std::lock_guard lock(queues_[self].mutex);
                queues_[self].pieces.push_back(Piece{mid, piece.end, piece.splits});
            } catch (...) {
                break;  // no room to split: run the piece whole
            }
            piece.end = mid;
        }
        const std::size_t count = piece.end - piece.begin;
        if (!job.failed.load(std::memory_order_relaxed)) {
            try {
                job.fn(job.ctx, piece.begin, piece.end);
            } catch (...) {
                std::lock_guard lock(job.error_mutex);
                if (!job.error) job.error = std::current_exception();
                job.failed.store(true, std::memory_order_relaxed);
            }
        }
        if (job.remaining.fetch_sub(count, std::memory_order_acq_rel) == count) {
            std::lock_guard lock(done_mutex_);
            done_.notify_all();
        }
    }

    std::unique_ptr<Queue[]> queues_;
    std::vector<std::thread> workers_;
    std::size_t threads_ = 1;

    std::mutex mutex_;                 // guards job_, epoch_, stop_, busy_
    std::condition_variable wake_;     // workers wait here for a job
    std::condition_variable idle_;     // the caller waits here for busy_ == 0
    Job* job_ = nullptr;
    std::uint64_t epoch_ = 0;
    bool stop_ = false;
    std::size_t busy_ = 0;

    std::mutex done_mutex_;
    std::condition_variable done_;     // the caller waits here for remaining == 0
};

// Never destroyed: at process exit the workers may still sleep on the pool's condition
// variables. Only the fork handlers delete it, after joining the workers.
std::mutex& pool_mutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
Pool* g_pool = nullptr;

void before_fork() {
    pool_mutex().lock();  // waits for a parallel call in progress
    delete g_pool;        // stops and joins the workers: no thread holds a lock across fork
    g_pool = nullptr;
}
void after_fork() { pool_mutex().unlock(); }

// Caller holds pool_mutex().
Pool& instance() {
    static bool fork_handlers = false;
    if (!fork_handlers) {
        if (pthread_atfork(before_fork, after_fork, after_fork) != 0) throw std::bad_alloc();
        fork_handlers = true;
    }
    if (!g_pool) g_pool = new Pool(configured_threads());
    return *g_pool;
}

}  // namespace

std::size_t thread_count() {
    if (t_in_pool && g_pool) return g_pool->threads();  // from inside a task: the pool is ours
    std::lock_guard lock(pool_mutex());
    return instance().threads();
}

namespace detail {

void run(std::size_t n, void* ctx, RangeFn fn) {
    if (n == 0) return;
    if (n == 1 || t_in_pool) {
        fn(ctx, 0, n);
        return;
    }
    std::unique_lock lock(pool_mutex(), std::try_to_lock);
    if (!lock.owns_lock()) {  // another thread is using the pool
        fn(ctx, 0, n);
        return;
    }
    Pool& pool = instance();
    if (pool.threads() == 1) {
        lock.unlock();
        fn(ctx, 0, n);
        return;
    }
    Job job{ctx, fn, {n}, {false}, {}, {}};
    pool.run(job, n);
    if (job.error) std::rethrow_exception(job.error);
}

}  // namespace detail
}  // namespace quarnel::pool
