#!/usr/bin/env python3
"""Fails when a source includes a folder of a higher layer, or grows too long.

Layers, lowest first; a file may include its own layer and those below it.
The few upward includes the design asks for are listed in ALLOWED with the
reason; anything else above a file's own layer is a violation.
"""
import os
import re
import sys

LAYERS = [
    # (path prefixes, layer)
    (["include/cb/String.h", "include/cb/CbRefPtr.h", "include/cb/Log.h", "include/cb/ThreadCount.h",
      "include/cb/Version.h"], 0),
    (["include/zt/", "cb/zt/"], 1),
    (["include/txutils/", "txutils/"], 2),
    (["include/cb/encoding/", "cb/encoding/"], 2),
    (["include/cb/qel/", "cb/qel/"], 3),
    (["include/cb/values/", "cb/values/"], 4),
    (["include/cb/model/", "cb/model/", "cb/qel/body/"], 5),
    (["include/cb/fields/", "cb/fields/"], 6),
    (["include/cb/sig/", "cb/sig/"], 7),
    (["include/cb/factory/", "cb/factory/"], 8),
    (["include/cb/io/", "cb/io/"], 9),
]

# (source prefix, included prefix): the sanctioned upward references.
ALLOWED = [
    # Block storage reads and writes its record through the byte layer's
    # streams; neither reaches above the two.
    ("cb/zt/", "include/cb/encoding/"),
    # Channel, shape and body records are read and written through the file
    # layer's ZtpReader and ZtpWriter, as plug-ins override them.
    ("cb/model/", "include/cb/io/ZtpReader.h"),
    ("cb/model/", "include/cb/io/ZtpWriter.h"),
    ("cb/fields/", "include/cb/io/ZtpReader.h"),
    ("cb/fields/", "include/cb/io/ZtpWriter.h"),
    # The factory registers the ZTP reader and writer as its default formats.
    ("cb/factory/Factory.cpp", "include/cb/io/ZtpReader.h"),
    ("cb/factory/Factory.cpp", "include/cb/io/ZtpWriter.h"),
]

MAX_SOURCE_LINES = 850

# The floor of the house: nothing here reaches the model or anything above.
FLOOR = ["cb/encoding/", "include/cb/encoding/", "cb/zt/", "include/zt/"]
ABOVE_FLOOR = ["cb/values/", "cb/qel/", "cb/model/", "cb/fields/", "cb/sig/", "cb/factory/", "cb/io/"]


def layer_of(path):
    best = None
    for prefixes, layer in LAYERS:
        for prefix in prefixes:
            if path.startswith(prefix) and (best is None or len(prefix) > best[0]):
                best = (len(prefix), layer)
    return None if best is None else best[1]


def resolve(root, source, target):
    """The repository path an include names, or None for a system header."""
    local = os.path.normpath(os.path.join(os.path.dirname(source), target))
    if os.path.exists(os.path.join(root, local)):
        return local
    if os.path.exists(os.path.join(root, "include", target)):
        return "include/" + target
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    root = os.path.abspath(root)
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    problems = []
    for top in ("cb", "include", "txutils"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                source = os.path.relpath(os.path.join(folder, name), root)
                own = layer_of(source)
                if own is None:
                    problems.append(f"{source}: in no layer")
                    continue
                with open(os.path.join(root, source), encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        m = include.match(line)
                        if not m:
                            continue
                        target = resolve(root, source, m.group(1))
                        if target is None:
                            continue
                        if any(source.startswith(p) for p in FLOOR) and any(
                                m.group(1).startswith(p) for p in ABOVE_FLOOR):
                            problems.append(f"{source}:{number}: the floor includes {m.group(1)}")
                            continue
                        theirs = layer_of(target)
                        if theirs is None or theirs <= own:
                            continue
                        if any(source.startswith(s) and target.startswith(t) for s, t in ALLOWED):
                            continue
                        problems.append(f"{source}:{number}: layer {own} includes {target} of layer {theirs}")
    # Sources stay small enough to read in one sitting.
    for folder, _, files in os.walk(os.path.join(root, "cb")):
        for name in sorted(files):
            path = os.path.join(folder, name)
            if name.endswith(".cpp"):
                with open(path, encoding="utf-8") as f:
                    lines = sum(1 for _ in f)
                if lines > MAX_SOURCE_LINES:
                    problems.append(f"{os.path.relpath(path, root)}: {lines} lines (at most {MAX_SOURCE_LINES})")
    for p in problems:
        print(p)
    print(f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
