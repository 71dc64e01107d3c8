#!/usr/bin/env python3
"""Worst-case stack depth of a firmware image.

Reads the call graph GCC writes with -fcallgraph-info=su (one .ci file per
object, each node carrying its frame size), follows every call from main and
from the interrupt handlers, and prints the deepest chain of each with its
bytes. Calls through pointers and into the C library are listed, not
followed: their cost is not in the graph.
"""
import argparse
import os
import re
import subprocess
import sys

NODE = re.compile(r'node: \{ title: "([^"]+)" label: "([^"]*)"')
EDGE = re.compile(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"')
BYTES = re.compile(r"\\n(\d+) bytes \((\w+)")

# Exception entry pushes 8 words, and 18 more when the FP context is live.
EXCEPTION_FRAME = 26 * 4

ROOTS = ["main"]
HANDLERS = ["SysTickHandler", "UARTStdioIntHandler", "ctd_IntHandler", "optode_IntHandler",
            "FaultISR", "NmiSR",
            "IntDefaultHandler"]


def load(objects):
    frames, names, calls = {}, {}, {}
    for top, _, files in os.walk(objects):
        for f in files:
            if not f.endswith(".ci"):
                continue
            with open(os.path.join(top, f), encoding="utf-8", errors="replace") as fh:
                text = fh.read()
            for title, label in NODE.findall(text):
                name = label.split("\\n")[0]
                if len(name) < 3 or not name[0].isalpha() and name[0] not in "_~":
                    name = title.split(":")[-1]  # GCC garbles some labels
                names.setdefault(title, name)
                m = BYTES.search(label)
                if m:
                    frames[title] = (int(m.group(1)), m.group(2))
            for src, dst in EDGE.findall(text):
                calls.setdefault(src, set()).add(dst)
    return frames, names, calls


def linked_symbols(objdump, elf):
    """Symbols really in the image: --gc-sections drops the rest."""
    try:
        out = subprocess.run([objdump, "-t", elf], check=True, capture_output=True,
                             text=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    return {line.split()[-1] for line in out.splitlines() if " F " in line}


def analyse(frames, names, calls):
    memo, unknown, recursive = {}, set(), set()

    def depth(f, stack):
        if f in memo:
            return memo[f]
        if f in stack:
            recursive.add(f)
            return (0, [])
        own = frames.get(f, (0, "unknown"))[0]
        if f not in frames:
            unknown.add(f)
        stack.add(f)
        best = (0, [])
        for callee in calls.get(f, ()):
            if callee == "__indirect_call":
                unknown.add("(call through a pointer in %s)" % names.get(f, f))
                continue
            d = depth(callee, stack)
            if d[0] > best[0]:
                best = d
        stack.discard(f)
        memo[f] = (own + best[0], [f] + best[1])
        return memo[f]

    return depth, unknown, recursive


def resolve(name, frames, calls):
    """Node title of a function given by its plain name."""
    for title in list(frames) + list(calls):
        t = title.split(":")[-1]
        if t == name or re.fullmatch(r"_Z%d%sv" % (len(name), re.escape(name)), t):
            return title
    return None


def show(title, chain, frames, names):
    total = sum(frames.get(f, (0, ""))[0] for f in chain)
    print("%s: %d bytes" % (title, total))
    for f in chain:
        b, q = frames.get(f, (0, "unknown"))
        print("    %6d  %-8s %s" % (b, q, names.get(f, f)))
    return total


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--objects", required=True, help="directory holding the .ci files")
    ap.add_argument("--elf", help="linked image, to leave out discarded functions")
    ap.add_argument("--objdump", default="arm-none-eabi-objdump")
    ap.add_argument("--stack", type=int, default=4096)
    args = ap.parse_args()

    frames, names, calls = load(args.objects)
    if not frames:
        print("stack report: no .ci files under %s" % args.objects)
        return 0
    depth, unknown, recursive = analyse(frames, names, calls)

    results = {}
    for name in ROOTS + HANDLERS:
        title = resolve(name, frames, calls)
        if title:
            results[name] = depth(title, set())

    name = os.path.basename(args.elf) if args.elf else args.objects
    print("Stack report for %s (frame sizes from -fstack-usage)" % name)
    thread = 0
    if "main" in results:
        thread = show("deepest chain from main", results["main"][1], frames, names)
    worst_isr, worst_name = 0, None
    for h in HANDLERS:
        if h in results:
            d = show("deepest chain in %s" % h, results[h][1], frames, names)
            if d > worst_isr:
                worst_isr, worst_name = d, h
    # Handlers share one priority, so they never nest: one frame on top.
    total = thread + EXCEPTION_FRAME + worst_isr
    print("worst case: main %d + exception frame %d + %s %d = %d of %d bytes"
          % (thread, EXCEPTION_FRAME, worst_name, worst_isr, total, args.stack))

    linked = linked_symbols(args.objdump, args.elf) if args.elf else None
    missing = sorted(names.get(u, u) for u in unknown
                     if linked is None or u.startswith("(") or u.split(":")[-1] in linked)
    if missing:
        print("not counted (library or indirect calls): %s" % ", ".join(missing))
    if recursive:
        print("recursion, counted once: %s" % ", ".join(sorted(names.get(r, r) for r in recursive)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
