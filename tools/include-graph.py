#!/usr/bin/env python3
"""Draws the include graph of src/ and checks it.

  tools/include-graph.py              print the folders' graph as a Mermaid drawing
  tools/include-graph.py --check      only check; say what is wrong
  tools/include-graph.py --self-test  show on made-up trees that a circle and a back-up
                                      include are caught
  --src DIR                           read DIR instead of this repository's src/

Both modes fail (exit 1) when a header includes itself through any chain of includes,
naming the chain, or when a folder includes a folder that is not on a lower floor. The
floors are read from tools/check-floors.cmake, so the two checks keep one list. Includes
that name no file under src/ (Qt's, generated ones) are left out.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FLOORS_FILE = os.path.join(HERE, "check-floors.cmake")
SOURCE_SUFFIXES = (".h", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def read_ranks(floors_file):
    with open(floors_file, encoding="utf-8") as f:
        text = f.read()
    ranks = {folder: int(rank)
             for folder, rank in re.findall(r"set\(rank_of_([\w/]+)\s+(\d+)\)", text)}
    if not ranks:
        sys.exit(f"include-graph: no floors in {floors_file}")
    return ranks


def read_includes(src):
    """Every source file under src (relative, with '/'), mapped to the files it includes."""
    files = []
    for folder, dirs, names in os.walk(src):
        dirs.sort()
        for name in sorted(names):
            if name.endswith(SOURCE_SUFFIXES):
                files.append(os.path.relpath(os.path.join(folder, name), src).replace(os.sep, "/"))
    known = set(files)
    graph = {}
    for path in files:
        targets = []
        with open(os.path.join(src, path), encoding="utf-8", errors="replace") as f:
            for line in f:
                match = INCLUDE.match(line)
                if not match:
                    continue
                name = match.group(1)
                beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
                beside = beside.replace(os.sep, "/")
                for candidate in (name, beside):
                    if candidate in known:
                        targets.append(candidate)
                        break
        graph[path] = targets
    return graph


def find_cycles(graph):
    """One circle for each knot of files that reach each other (Tarjan), as a path."""
    index, low, on_stack, stack, knots = {}, {}, set(), [], []
    counter = [0]

    def visit(start):
        # Iterative, so a long chain of includes cannot exhaust Python's stack.
        work = [(start, iter(graph[start]))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, targets = work[-1]
            advanced = False
            for target in targets:
                if target not in index:
                    index[target] = low[target] = counter[0]
                    counter[0] += 1
                    stack.append(target)
                    on_stack.add(target)
                    work.append((target, iter(graph[target])))
                    advanced = True
                    break
                if target in on_stack:
                    low[node] = min(low[node], index[target])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                knot = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    knot.append(member)
                    if member == node:
                        break
                if len(knot) > 1 or node in graph[node]:
                    knots.append(set(knot))

    for node in sorted(graph):
        if node not in index:
            visit(node)

    cycles = []
    for knot in knots:
        first = min(knot)
        # The shortest way back to the first file, inside its knot.
        came_from = {first: None}
        queue = [first]
        path = None
        while queue and path is None:
            node = queue.pop(0)
            for target in graph[node]:
                if target == first:
                    path = [node]
                    while came_from[path[-1]] is not None:
                        path.append(came_from[path[-1]])
                    path.reverse()
                    path.append(first)
                    break
                if target in knot and target not in came_from:
                    came_from[target] = node
                    queue.append(target)
        cycles.append(path)
    return sorted(cycles)


def folder_of(path):
    return os.path.dirname(path)


def folder_edges(graph):
    edges = {}
    for path, targets in graph.items():
        source = folder_of(path)
        if not source:
            continue  # main.cpp stands above every floor
        for target in targets:
            folder = folder_of(target)
            if folder != source:
                edges.setdefault((source, folder), []).append((path, target))
    return edges


def floor_faults(graph, ranks):
    faults = []
    for path in sorted(graph):
        folder = folder_of(path)
        if folder and folder not in ranks:
            faults.append(f"{path}: its folder is on no floor")
    for (source, target), includes in sorted(folder_edges(graph).items()):
        if source not in ranks or target not in ranks or ranks[target] < ranks[source]:
            continue
        way = "up" if ranks[target] > ranks[source] else "sideways"
        first = includes[0]
        faults.append(f"{source} includes {target}, {way} the floors "
                      f"({first[0]} includes {first[1]}"
                      f"{'' if len(includes) == 1 else f', and {len(includes) - 1} more'})")
    return faults


def node_id(folder):
    return re.sub(r"\W", "_", folder)


def mermaid(graph, ranks):
    used = {folder_of(path) for path in graph if folder_of(path) in ranks}
    lines = ["flowchart TB"]
    for rank in sorted(set(ranks.values())):
        folders = sorted(f for f in used if ranks[f] == rank)
        if not folders:
            continue
        # Numbered from 1, as docs/ARCHITECTURE.md counts the floors.
        lines.append(f'  subgraph floor{rank + 1}["floor {rank + 1}"]')
        lines.extend(f'    {node_id(f)}["{f}/"]' for f in folders)
        lines.append("  end")
    for source, target in sorted(folder_edges(graph)):
        if source in used and target in used:
            lines.append(f"  {node_id(source)} --> {node_id(target)}")
    return "\n".join(lines)


def check(src, floors_file):
    graph = read_includes(src)
    ranks = read_ranks(floors_file)
    problems = [f"include circle: {' -> '.join(cycle)}" for cycle in find_cycles(graph)]
    problems += floor_faults(graph, ranks)
    return graph, ranks, problems


def self_test():
    ranks = read_ranks(FLOORS_FILE)
    by_rank = sorted(ranks, key=lambda f: (ranks[f], f))
    low, high = by_rank[0], by_rank[-1]
    twins = [f for f in by_rank if [ranks[g] for g in by_rank].count(ranks[f]) > 1][:2]

    def run(files):
        with tempfile.TemporaryDirectory() as root:
            for path, includes in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                    f.write("#pragma once\n")
                    f.writelines(f'#include "{name}"\n' for name in includes)
                    f.write("#include <QString>\n")
            done = subprocess.run([sys.executable, os.path.abspath(__file__), "--check",
                                   "--src", root], capture_output=True, text=True)
            return done.returncode, done.stdout + done.stderr

    def fail(why, output):
        sys.stderr.write(output)
        sys.exit(f"include-graph self-test: FAILED, {why}")

    status, output = run({f"{low}/A.h": [], f"{high}/B.h": [f"{low}/A.h"],
                          f"{high}/B.cpp": [f"{high}/B.h", "B.h", "moc_B.cpp"]})
    if status != 0:
        fail("a tree that keeps the floors is refused", output)

    status, output = run({f"{low}/A.h": [f"{low}/B.h"], f"{low}/B.h": ["A.h"]})
    if status == 0:
        fail("two headers including each other pass", output)
    if f"{low}/A.h -> {low}/B.h -> {low}/A.h" not in output:
        fail("the circle is not named", output)

    status, output = run({f"{low}/A.h": [f"{high}/B.h"], f"{high}/B.h": []})
    if status == 0:
        fail("an include back up the floors passes", output)
    if f"{low} includes {high}, up the floors" not in output:
        fail("the include back up is not named", output)

    if len(twins) == 2:
        status, output = run({f"{twins[0]}/A.h": [f"{twins[1]}/B.h"], f"{twins[1]}/B.h": []})
        if status == 0 or "sideways" not in output:
            fail("an include between two folders of one floor passes", output)

    print("include-graph self-test: passed")


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("--src", default=os.path.join(os.path.dirname(HERE), "src"))
    parser.add_argument("-h", "--help", action="store_true")
    args = parser.parse_args()
    if args.help:
        print(__doc__.strip())
        return 0
    if args.self_test:
        self_test()
        return 0
    graph, ranks, problems = check(args.src, FLOORS_FILE)
    if not args.check:
        print(mermaid(graph, ranks))
    for problem in problems:
        print(f"include-graph: {problem}", file=sys.stderr)
    if problems:
        print(f"include-graph: {len(problems)} fault(s) in the include graph", file=sys.stderr)
        return 1
    if args.check:
        edges = len(folder_edges(graph))
        print(f"include-graph: {len(graph)} files, {edges} folder edges, no circle, "
              "every edge runs down the floors")
    return 0


if __name__ == "__main__":
    sys.exit(main())
