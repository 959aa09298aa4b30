#!/usr/bin/python3
"""Charts packets per second of the script path against line size and
against host threads.

Runs bench/script_path_bench's ParseSize and ParseThreads benchmarks (three
repetitions, medians; each thread count in a process of its own) and draws docs/packet-rates.png:
  left:  Parse packets per second by line size, Corvane beside the plain
         Python baseline;
  right: total Parse packets per second of 1, 2, 4 and 8 host threads on one
         instance, beside one thread's rate.

    bench/plot_packet_rates.py [--bench PATH] [--json FILE] [--out PNG] [-- BENCH-ARGS...]

--json plots an earlier run's JSON output instead of running the benchmark.
Needs Debian's python3-matplotlib (scripts/setup --chart installs it).
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

THREADS = (1, 2, 4, 8)
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_benchmark(program, pattern, extra):
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "rates.json")
        subprocess.run([program, "--benchmark_filter=" + pattern,
                        "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                        "--benchmark_out=" + out, "--benchmark_out_format=json"] + extra,
                       check=True, stdout=sys.stderr)
        with open(out) as f:
            return json.load(f)


def run_all(program, extra):
    """The size series in one process, each thread count in a process of its
    own: the benchmark library starts new threads for every run, and a
    process keeps the Python thread states of its first 64 host threads
    only, so later thread counts in one process would measure threads
    whose state is made per packet instead of a host's steady threads."""
    report = run_benchmark(program, "^ParseSize/", extra)
    for threads in THREADS:
        report["benchmarks"] += run_benchmark(
            program, "^ParseThreads/corvane/real_time/threads:%d$" % threads, extra)["benchmarks"]
    return report


def rates(report):
    """{(family, variant, argument): packets per second}, medians where the run has them."""
    found = {}
    for b in report["benchmarks"]:
        if b.get("error_occurred") or "items_per_second" not in b:
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        m = re.match(r"(ParseSize|ParseThreads)/(corvane|baseline)/(?:(\d+)|real_time/threads:(\d+))$", name)
        if not m:
            continue
        found[(m.group(1), m.group(2), int(m.group(3) or m.group(4)))] = b["items_per_second"]
    return found


def series(found, family, variant):
    points = sorted((arg, rate) for (f, v, arg), rate in found.items() if f == family and v == variant)
    return [p[0] for p in points], [p[1] / 1e3 for p in points]


def style_axes(axes, ticks, xlabel, title):
    """Both charts: powers of two along x, labelled as they are; rates from zero."""
    axes.set_xscale("log", base=2)
    axes.set_xticks(ticks, [str(tick) for tick in ticks])
    axes.set_ylim(bottom=0)
    axes.set_xlabel(xlabel)
    axes.set_ylabel("thousand packets per second")
    axes.set_title(title)
    axes.grid(True, alpha=0.3)
    axes.legend()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", default=os.path.join(ROOT, "build/linux-x64/bench/script_path_bench"))
    parser.add_argument("--json", help="plot this JSON output of an earlier run")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs/packet-rates.png"))
    parser.add_argument("extra", nargs="*", help="arguments for the benchmark program")
    args = parser.parse_args()

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        sys.exit("plot_packet_rates: python3-matplotlib is not installed (scripts/setup --chart)")

    if args.json:
        with open(args.json) as f:
            report = json.load(f)
    else:
        report = run_all(args.bench, args.extra)
    found = rates(report)
    if not found:
        sys.exit("plot_packet_rates: the run holds no ParseSize or ParseThreads results")

    figure, (by_size, by_threads) = plt.subplots(1, 2, figsize=(11, 4.2))
    for variant, label, style in (("corvane", "Corvane (through the exports)", "o-"),
                                  ("baseline", "plain Python baseline", "s--")):
        x, y = series(found, "ParseSize", variant)
        if x:
            by_size.plot(x, y, style, label=label)
    style_axes(by_size, series(found, "ParseSize", "corvane")[0], "line size per packet (bytes)",
               "Parse: packet size")

    x, y = series(found, "ParseThreads", "corvane")
    if x:
        by_threads.plot(x, y, "o-", label="all threads together")
        one = dict(zip(x, y)).get(1)
        if one:
            by_threads.axhline(one, color="gray", linestyle=":", label="one thread")
            by_threads.axhline(0.8 * one, color="red", linestyle=":", label="0.8x one thread")
    style_axes(by_threads, THREADS, "host threads on one instance (one client each)",
               "Parse: host threads (40-byte lines)")

    context = report.get("context", {})
    figure.suptitle("Corvane script path, %s CPUs, %s" % (context.get("num_cpus", "?"), context.get("date", "")[:10]),
                    fontsize=10)
    figure.tight_layout()
    figure.savefig(args.out, dpi=100)
    print(args.out)


if __name__ == "__main__":
    main()
