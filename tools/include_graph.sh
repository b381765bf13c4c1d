#!/bin/bash
# Prints the include graph of platform/: each file, then the project headers
# it includes, each with its layer (core < sound < components). Exits 1 and
# names the loop when files include one another in a circle, or the include
# when a lower layer includes a higher one. A header and the .cpp of the same
# name count as one module, so A.cpp -> B.h with B.cpp -> A.h is a loop too.
#
#   tools/include_graph.sh [PLATFORM_DIR]
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)/platform"}
exec python3 - "$root" <<'EOF'
import os, re, sys

root = sys.argv[1]
LAYERS = ["core", "sound", "components"]
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

files = []
for folder, _, names in os.walk(root):
    for name in names:
        if name.endswith((".h", ".cpp")):
            files.append(os.path.relpath(os.path.join(folder, name), root))
files.sort()
headers = [f for f in files if f.endswith(".h")]

def layer(path):
    return path.split(os.sep)[0]

def module(path):
    return os.path.splitext(path)[0]

def resolve(source, name):
    # The folder of the including file first, then any header whose path
    # ends with the name as written (each folder is on the include path).
    local = os.path.normpath(os.path.join(os.path.dirname(source), name))
    if local in headers:
        return local
    found = [h for h in headers if h == name or h.endswith(os.sep + name)]
    return found[0] if len(found) == 1 else None

edges = {}   # module -> {module: the include that makes the edge}
problems = []
for f in files:
    targets = []
    with open(os.path.join(root, f), encoding="utf-8", errors="replace") as text:
        for line in text:
            m = include.match(line)
            target = m and resolve(f, m.group(1))
            if target:
                targets.append(target)
    shown = ", ".join("%s [%s]" % (t, layer(t)) for t in targets) or "-"
    print("%s [%s] -> %s" % (f, layer(f), shown))
    for t in targets:
        if layer(f) in LAYERS and layer(t) in LAYERS and LAYERS.index(layer(t)) > LAYERS.index(layer(f)):
            problems.append("upward include: %s [%s] includes %s [%s]" % (f, layer(f), t, layer(t)))
        if module(t) != module(f):
            edges.setdefault(module(f), {}).setdefault(module(t), "%s -> %s" % (f, t))

# Depth-first search for a loop between modules.
state = {}
def visit(node, path):
    state[node] = "open"
    path.append(node)
    for nxt in sorted(edges.get(node, {})):
        if state.get(nxt) == "open":
            loop = path[path.index(nxt):] + [nxt]
            via = [edges[a][b] for a, b in zip(loop, loop[1:])]
            problems.append("loop: " + " -> ".join(loop) + "  (" + "; ".join(via) + ")")
        elif nxt not in state:
            visit(nxt, path)
    path.pop()
    state[node] = "done"

for node in sorted(edges):
    if node not in state:
        visit(node, [])

count = sum(len(v) for v in edges.values())
print("%d files, %d module edges" % (len(files), count))
for p in problems:
    print(p, file=sys.stderr)
if problems:
    sys.exit(1)
print("no loops, no upward includes")
EOF
