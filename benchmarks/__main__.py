"""Benchmark runner: python -m benchmarks [--quick] [section ...]

Times each function against the fastest peer on the same data and prints
peer time / our time (above 1: we are faster).
"""
from __future__ import annotations

import argparse
import importlib
import os
import pkgutil
import sys

from .harness import fmt_time, run_case


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(prog="python -m benchmarks")
    ap.add_argument("sections", nargs="*", help="only these bench_<name> modules (e.g. descriptive rolling)")
    ap.add_argument("--quick", action="store_true", help="smaller budgets and sizes (smoke run)")
    args = ap.parse_args(argv)
    here = os.path.dirname(__file__)
    names = sorted(m.name for m in pkgutil.iter_modules([here]) if m.name.startswith("bench_"))
    if args.sections:
        names = [n for n in names if any(n[len("bench_"):].startswith(s) for s in args.sections)]
    budget = 0.05 if args.quick else 0.3
    threads = os.environ.get("QUARNEL_NUM_THREADS", "auto")
    print(f"python {sys.version.split()[0]}, QUARNEL_NUM_THREADS={threads}, cpus={os.cpu_count()}")
    for name in names:
        mod = importlib.import_module(f"benchmarks.{name}")
        print(f"\n== {getattr(mod, 'SECTION', name)} ==")
        print(f"{'case':44s} {'ours':>10s} {'peer':>30s} {'peer time':>10s} {'ratio':>7s}")
        for case in mod.cases(args.quick):
            ours, peer = run_case(case, budget)
            ratio = peer / ours
            flag = ""
            if case.target is not None:
                flag = "  ok" if ratio >= case.target else f"  below target {case.target:g}"
            note = f"  {case.note}" if case.note else ""
            print(f"{case.label:44s} {fmt_time(ours):>10s} {case.peer_label:>30s} {fmt_time(peer):>10s} "
                  f"{ratio:6.2f}x{flag}{note}")
            sys.stdout.flush()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
