"""The worker pool: results independent of thread count and vector width, pool sizing,
fork(), and exceptions thrown inside tasks.

The configurations are fixed when the pool starts, so each one runs in a fresh interpreter.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]


def run_python(code, timeout=180, **env):
    full = dict(os.environ)
    full.pop("QUARNEL_NUM_THREADS", None)
    full.pop("QUARNEL_SIMD", None)
    full["OPENBLAS_NUM_THREADS"] = "1"   # keep NumPy's own threads out of the thread counts
    full["OMP_NUM_THREADS"] = "1"
    full.update({k: str(v) for k, v in env.items()})
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=full, capture_output=True,
                          text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


# ---------------------------------------------------------------- thread-count independence

DIGESTS = """
    import hashlib
    import numpy as np
    import quarnel_ext as q

    r = np.random.default_rng(11)
    inputs = [r.normal(3.0, 2.0, (500, 61)), r.normal(size=(40, 150)), r.normal(size=(7, 3))]
    holes = r.normal(size=(300, 45))
    holes[r.random(holes.shape) < 0.1] = np.nan
    holes[r.random(holes.shape) < 0.02] = np.inf
    inputs.append(holes)
    names = ["cov_matrix_np", "cov_matrix_bias_np", "cov_matrix_centered_np", "cov_matrix_skipna_np",
             "corr_matrix_np", "corr_matrix_skipna_np", "corr_distance_np", "xtx_matrix_np",
             "xxt_matrix_np", "pairwise_cosine_cols_np", "pairwise_euclidean_cols_np"]
    for name in names:
        h = hashlib.sha256()
        for x in inputs:
            h.update(getattr(q, name)(x).tobytes())
        print(name, h.hexdigest())
"""


@pytest.fixture(scope="module")
def single_thread_digests():
    return run_python(DIGESTS, QUARNEL_NUM_THREADS=1)


@pytest.mark.parametrize("env", [
    {"QUARNEL_NUM_THREADS": 2}, {"QUARNEL_NUM_THREADS": 3}, {"QUARNEL_NUM_THREADS": 8},
    {"QUARNEL_NUM_THREADS": 3, "QUARNEL_SIMD": "avx2"}, {"QUARNEL_NUM_THREADS": 2, "QUARNEL_SIMD": "sse2"},
    {"QUARNEL_NUM_THREADS": 1, "QUARNEL_SIMD": "sse2"},
], ids=lambda e: ",".join(f"{k}={v}" for k, v in e.items()))
def test_results_are_identical_bytes_for_any_thread_count_and_vector_width(env, single_thread_digests):
    assert run_python(DIGESTS, **env) == single_thread_digests


# ---------------------------------------------------------------- sizing

THREADS_STARTED = """
    import os
    import numpy as np
    {before}
    import quarnel_ext as q
    tasks = lambda: len(os.listdir("/proc/self/task"))
    start = tasks()
    q.xtx_matrix_np(np.ones((200, 64)))   # several pool tasks: starts the pool
    print(tasks() - start)
"""


@pytest.mark.parametrize("value, workers", [
    ("1", 0), ("3", 2), (" 2\\n", 1), ("300", 255),     # capped at 256 threads
    (None, 0), ("", 0), ("0", 0), ("-2", 0), ("two", 0), ("2.5", 0),   # automatic: one CPU here
])
def test_thread_count_setting(value, workers):
    env = {} if value is None else {"QUARNEL_NUM_THREADS": value.replace("\\n", "\n")}
    # Pin the interpreter to one CPU: the automatic size follows the affinity mask.
    code = THREADS_STARTED.format(before="os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})")
    assert int(run_python(code, **env)) == workers


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs")
def test_automatic_size_follows_the_affinity_mask():
    code = THREADS_STARTED.format(before="os.sched_setaffinity(0, sorted(os.sched_getaffinity(0))[:2])")
    assert int(run_python(code)) in (0, 1)    # 1 unless a cgroup CPU quota allows only one


def test_setting_is_read_when_the_pool_starts():
    out = run_python("""
        import os
        import numpy as np
        import quarnel_ext as q
        tasks = lambda: len(os.listdir("/proc/self/task"))
        x = np.ones((200, 64))
        start = tasks()
        q.xtx_matrix_np(x)
        os.environ["QUARNEL_NUM_THREADS"] = "4"    # too late for this pool
        q.xtx_matrix_np(x)
        print(tasks() - start)
    """, QUARNEL_NUM_THREADS=2)
    assert int(out) == 1


# ---------------------------------------------------------------- fork

def test_fork_after_parallel_calls():
    out = run_python("""
        import os, time
        import numpy as np
        import quarnel_ext as q

        x = np.random.default_rng(3).normal(size=(400, 90))
        want = q.cov_matrix_np(x).tobytes()
        tasks = lambda: len(os.listdir("/proc/self/task"))
        for round in range(5):
            assert q.corr_matrix_np(x).shape == (90, 90)
            pid = os.fork()
            if pid == 0:
                ok = tasks() == 1
                os.environ["QUARNEL_NUM_THREADS"] = "4"   # the child's pool starts afresh
                ok = ok and q.cov_matrix_np(x).tobytes() == want
                ok = ok and tasks() == 1 + 3
                os._exit(0 if ok else 1)
            deadline = time.monotonic() + 60
            while True:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    break
                assert time.monotonic() < deadline, "child hangs"
                time.sleep(0.01)
            assert os.waitstatus_to_exitcode(status) == 0, f"child failed in round {round}"
            assert q.cov_matrix_np(x).tobytes() == want
        print("done", tasks())
    """, QUARNEL_NUM_THREADS=3)
    assert out.split() == ["done", "3"]


# ---------------------------------------------------------------- exceptions inside tasks
#
# No input makes a task of the public functions fail (their per-task allocations are small
# and bounded), so the pool's own contract is checked with a C++ driver built from the pool's
# source. The pool is plain C++ and needs no interpreter.

DRIVER = r"""
#include "platform/pool.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using quarnel::pool::parallel_for;
static int failures = 0;
static void check(bool ok, const char* what) {
    if (!ok) { std::printf("FAIL: %s\n", what); ++failures; }
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "cgroup") {
        auto limit = quarnel::pool::detail::cgroup_cpu_limit(argv[2], argv[3]);
        if (limit) std::printf("%g\n", *limit); else std::printf("none\n");
        return 0;
    }
    const std::size_t threads = quarnel::pool::thread_count();
    check(threads == 3, "thread_count follows QUARNEL_NUM_THREADS");

    for (std::size_t n : {0, 1, 2, 3, 17, 1000, 100000}) {
        std::vector<std::atomic<int>> hits(n);
        parallel_for(n, [&](std::size_t b, std::size_t e) { for (std::size_t i = b; i < e; ++i) hits[i]++; });
        bool once = true;
        for (auto& h : hits) once = once && h.load() == 1;
        check(once, "every task runs exactly once");
    }

    std::thread::id caller = std::this_thread::get_id(), ran;
    parallel_for(1, [&](std::size_t, std::size_t) { ran = std::this_thread::get_id(); });
    check(ran == caller, "a single task runs on the calling thread");

    std::mutex m;
    std::set<std::thread::id> ids;
    parallel_for(64, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            { std::lock_guard l(m); ids.insert(std::this_thread::get_id()); }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    check(ids.size() > 1, "slow tasks are shared between threads");

    try {
        parallel_for(100, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i) if (i == 57) throw std::bad_alloc();
        });
        check(false, "bad_alloc comes back");
    } catch (const std::bad_alloc&) {
    } catch (...) { check(false, "bad_alloc keeps its type"); }

    try {
        parallel_for(1000, [&](std::size_t b, std::size_t) {
            if (b >= 500) throw std::runtime_error("task failed");
        });
        check(false, "runtime_error comes back");
    } catch (const std::runtime_error& e) {
        check(std::string(e.what()) == "task failed", "message kept");
    }

    try {   // every piece throws; exactly one exception reaches the caller
        parallel_for(64, [&](std::size_t, std::size_t) { throw std::logic_error("each"); });
        check(false, "logic_error comes back");
    } catch (const std::logic_error&) {}

    try {   // the single-task path rethrows as well
        parallel_for(1, [&](std::size_t, std::size_t) { throw std::bad_alloc(); });
        check(false, "inline bad_alloc comes back");
    } catch (const std::bad_alloc&) {}

    std::atomic<long> total{0};
    parallel_for(8, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            parallel_for(100, [&](std::size_t bb, std::size_t ee) { total += static_cast<long>(ee - bb); });
    });
    check(total == 800, "nested calls run inline and complete");

    try {
        parallel_for(16, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                parallel_for(4, [&](std::size_t, std::size_t) { if (i == 9) throw std::runtime_error("inner"); });
        });
        check(false, "nested exception comes back");
    } catch (const std::runtime_error& e) {
        check(std::string(e.what()) == "inner", "nested message kept");
    }

    long sum = 0;
    for (int round = 0; round < 3000; ++round) {   // many short jobs: no lost wake-up, no stale job
        std::atomic<long> s{0};
        parallel_for(5 + round % 7, [&](std::size_t b, std::size_t e) { s += static_cast<long>(e - b); });
        sum += s;
    }
    long want = 0;
    for (int round = 0; round < 3000; ++round) want += 5 + round % 7;
    check(sum == want, "short jobs complete");

    std::printf(failures ? "FAILED\n" : "OK\n");
    return failures ? 1 : 0;
}
"""


@pytest.fixture(scope="module")
def driver(tmp_path_factory):
    if shutil.which("g++") is None:
        pytest.skip("needs a C++ compiler")
    tmp = tmp_path_factory.mktemp("pool")
    src = tmp / "driver.cpp"
    src.write_text(DRIVER)
    exe = tmp / "driver"
    subprocess.run(["g++", "-std=c++20", "-O2", "-pthread", f"-I{ROOT / 'src'}", str(src),
                    str(ROOT / "src/platform/pool.cpp"), "-o", str(exe)], check=True, timeout=300)
    return exe


def test_pool_contract_and_exceptions(driver):
    env = dict(os.environ, QUARNEL_NUM_THREADS="3")
    proc = subprocess.run([str(driver)], env=env, capture_output=True, text=True, timeout=120)
    assert proc.stdout.strip().splitlines()[-1:] == ["OK"], proc.stdout + proc.stderr
    assert proc.returncode == 0


@pytest.mark.parametrize("proc_cgroup, files, want", [
    ("0::/\n", {"cpu.max": "max 100000"}, "none"),
    ("0::/\n", {"cpu.max": "150000 100000"}, "1.5"),
    ("0::/a/b\n", {"a/b/cpu.max": "max 100000", "a/cpu.max": "300000 100000", "cpu.max": "400000 100000"}, "3"),
    ("0::/a/b\n", {"a/b/cpu.max": "50000 100000", "a/cpu.max": "300000 100000"}, "0.5"),
    ("0::/gone\n", {}, "none"),
    ("4:memory:/x\n3:cpu,cpuacct:/x\n", {"cpu,cpuacct/x/cpu.cfs_quota_us": "250000",
                                          "cpu,cpuacct/x/cpu.cfs_period_us": "100000"}, "2.5"),
    ("3:cpuacct,cpu:/\n", {"cpuacct,cpu/cpu.cfs_quota_us": "-1", "cpuacct,cpu/cpu.cfs_period_us": "100000"}, "none"),
    ("3:cpuset:/\n", {"cpu/cpu.cfs_quota_us": "100000", "cpu/cpu.cfs_period_us": "100000"}, "none"),
    ("garbage\n", {}, "none"),
])
def test_cgroup_quota(driver, tmp_path, proc_cgroup, files, want):
    root = tmp_path / "fs"
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text + "\n")
    listing = tmp_path / "cgroup"
    listing.write_text(proc_cgroup)
    out = subprocess.run([str(driver), "cgroup", str(listing), str(root)], capture_output=True, text=True, timeout=30)
    assert out.stdout.strip() == want
