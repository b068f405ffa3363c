"""Timing helpers shared by the benchmark modules.

A benchmark module is ``benchmarks/bench_<family>.py`` with a ``SECTION`` title and a
``cases(quick)`` generator yielding :class:`Case` objects: our call and the fastest peer's
call on the same data. The runner times both in the same process, alternating, and prints
the ratio peer time / our time (above 1 means we are faster).
"""
from __future__ import annotations

import time
from dataclasses import dataclass
from typing import Callable, Optional


@dataclass
class Case:
    label: str                      # what is measured, e.g. "median_np n=1e6"
    ours: Callable[[], object]
    peer_label: str                 # e.g. "numpy.median"
    peer: Callable[[], object]
    note: str = ""                  # extra remark printed after the ratio
    target: Optional[float] = None  # ratio the family aims for (peer / ours), if any


def best_time(fn: Callable[[], object], budget: float = 0.2, repeat: int = 5) -> float:
    """Best per-call wall time over `repeat` batches, each about budget / repeat long."""
    fn()  # warm up (first-use costs, page faults)
    number = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        elapsed = time.perf_counter() - t0
        if elapsed >= budget / repeat / 4 or number >= 1 << 22:
            break
        number *= 4
    best = elapsed / number
    for _ in range(repeat - 1):
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        best = min(best, (time.perf_counter() - t0) / number)
    return best


def fmt_time(t: float) -> str:
    if t < 1e-6:
        return f"{t * 1e9:7.1f} ns"
    if t < 1e-3:
        return f"{t * 1e6:7.2f} us"
    if t < 1.0:
        return f"{t * 1e3:7.2f} ms"
    return f"{t:7.3f} s "


def run_case(case: Case, budget: float) -> tuple[float, float]:
    # Alternate so that both sides see the same machine state.
    ours = peer = float("inf")
    for _ in range(2):
        ours = min(ours, best_time(case.ours, budget))
        peer = min(peer, best_time(case.peer, budget))
    return ours, peer
