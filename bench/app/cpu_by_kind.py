#!/usr/bin/env python3
"""Splits the CPU time of a profiled station run by kind of work.

Reads `perf script` output of a run recorded with call chains, e.g.

    perf record -e cpu-clock -F 2999 --call-graph=dwarf,16384 -o /tmp/station.perf \
        build-bench/bench/app/bench_station_window --benchmark_filter=StationWindow
    perf script -i /tmp/station.perf | python3 bench/app/cpu_by_kind.py --skip 3

and sorts every sample into one kind, the first that matches:
  waiting    inside a blocking kernel wait (the thread going to sleep, or coming back);
  waking     waking another thread (the hand-over of a report or an answer);
  map paint  under the node map's painter;
  sim box    the simulated box's own code (a real box does this itself), judged by the
             innermost of our functions on the stack;
  station    everything else.
The first code run after a wake-up pays for the caches and tables the sleep let go cold, so
part of the cost of waiting still shows under the other kinds.
Prints each kind's share, overall and per thread.
"""

import argparse
import collections
import re
import sys

# Blocking waits, in the kernel and in the C library's wrappers around them (the way in and out
# of the system call belongs to the wait too).
WAITS = {'schedule', '__schedule', 'futex_wait', 'do_nanosleep', 'hrtimer_nanosleep', 'do_sys_poll',
         'do_poll', 'ep_poll', 'schedule_hrtimeout_range', 'do_select',
         '__futex_abstimed_wait_common', '__futex_abstimed_wait_common64', '__pthread_cond_wait_common',
         '___pthread_cond_clockwait64', '___pthread_cond_timedwait64', '___pthread_cond_wait',
         '__pthread_clockjoin_ex', 'clock_nanosleep', '__clock_nanosleep', '__GI___clock_nanosleep',
         '__GI___nanosleep', '__poll', '__GI___poll', 'ppoll', '__ppoll', 'epoll_wait', 'g_poll'}
# Waking another thread: the signalling call and the kernel's wake-up of the sleeper.
WAKES = {'try_to_wake_up', 'futex_wake', 'wake_up_q', '___pthread_cond_broadcast', '___pthread_cond_signal',
         '__pthread_cond_broadcast', '__pthread_cond_signal', 'pthread_cond_broadcast', 'pthread_cond_signal'}
KINDS = ('waiting', 'waking', 'map paint', 'sim box', 'station')
HEADER = re.compile(r'^(\S.*?)\s+(\d+)\s+([\d.]+):')


def samples(lines):
    """Yields (thread id, time, [function names, innermost first]) per sample."""
    head = None
    frames = []
    for line in lines:
        if not line.strip():
            if head:
                yield head[0], head[1], frames
            head, frames = None, []
        elif not line[0].isspace():
            m = HEADER.match(line)
            head = (m.group(2), float(m.group(3))) if m else None
            frames = []
        elif head:
            parts = line.split(None, 1)
            if len(parts) > 1:
                frames.append(parts[1].split(' (')[0].rsplit('+0x', 1)[0].strip())
    if head:
        yield head[0], head[1], frames


def kind(frames):
    if any(f in WAITS for f in frames):
        return 'waiting'
    if any(f in WAKES for f in frames):
        return 'waking'
    if any('GridPainter::Paint' in f for f in frames):
        return 'map paint'
    # The innermost of our own functions decides: the box's back-end calls the station's
    # report callback, which is the station's work.
    own = next((f for f in frames if f.startswith('varnex2::')), '')
    return 'sim box' if own.startswith('varnex2::sim::') else 'station'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--skip', type=float, default=0.0,
                        help='seconds at the start to leave out (start-up and settling)')
    args = parser.parse_args()
    recorded = list(samples(sys.stdin))
    if not recorded:
        sys.exit('no samples with call chains in the input')
    start = min(t for _, t, _ in recorded)
    total = collections.Counter()
    by_thread = collections.defaultdict(collections.Counter)
    for tid, t, frames in recorded:
        if t - start < args.skip:
            continue
        k = kind(frames)
        total[k] += 1
        by_thread[tid][k] += 1
    n = sum(total.values())
    if n == 0:
        sys.exit('no samples after --skip')
    print(f'{n} samples: ' + ', '.join(f'{k} {100.0 * total[k] / n:.1f} %' for k in KINDS))
    for tid, counts in sorted(by_thread.items(), key=lambda item: -sum(item[1].values())):
        m = sum(counts.values())
        if m * 100 < n:
            continue
        print(f'thread {tid}: {100.0 * m / n:.1f} % of all; ' +
              ', '.join(f'{k} {100.0 * counts[k] / m:.0f} %' for k in KINDS if counts[k]))


if __name__ == '__main__':
    main()
