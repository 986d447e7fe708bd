#!/usr/bin/env python3
"""The layers of the product code, read from its #include lines: a folder includes only its own
headers and those of the folders below it, and no two files (a header and its source counted as
one) include each other, directly or round a longer circle."""
import os, re, unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
LAYERS = ["base", "data", "net", "ui/draw", "ui", "app"]  # lowest first
# net and data sit side by side: neither uses the other.
SIDE_BY_SIDE = {("net", "data"), ("data", "net")}
INCLUDE = re.compile(r'#include "((?:base|data|net|ui/draw|ui|app)/\w+)\.h"')


def include_graph():
    graph = {}
    for layer in LAYERS:
        for name in os.listdir(os.path.join(ROOT, layer)):
            stem, extension = os.path.splitext(name)
            if extension not in (".h", ".cpp"):
                continue
            node = layer + "/" + stem
            with open(os.path.join(ROOT, layer, name), encoding="utf-8", errors="replace") as f:
                graph.setdefault(node, set()).update(m.group(1) for m in INCLUDE.finditer(f.read()))
            graph[node].discard(node)
    return graph


def layer_of(node):
    return node.rsplit("/", 1)[0]


class IncludeGraph(unittest.TestCase):
    def test_includes_point_down_the_layers_and_close_no_circle(self):
        graph = include_graph()
        upward = [(node, dep) for node, deps in graph.items() for dep in deps
                  if LAYERS.index(layer_of(dep)) > LAYERS.index(layer_of(node))
                  or (layer_of(node), layer_of(dep)) in SIDE_BY_SIDE]
        self.assertEqual(upward, [])
        circles, state = [], {}

        def visit(node, path):
            state[node] = "open"
            for dep in sorted(graph.get(node, ())):
                if state.get(dep) == "open":
                    circles.append(path[path.index(dep):] + [dep])
                elif dep not in state:
                    visit(dep, path + [dep])
            state[node] = "done"

        for node in sorted(graph):
            if node not in state:
                visit(node, [node])
        self.assertEqual(circles, [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
