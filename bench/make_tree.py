#!/usr/bin/env python3
"""Creates a reproducible folder tree for the local search benchmarks.

The same seed gives the same tree: FOLDERS folders of varied depth (each new folder goes
under a random existing one, so depths spread out) and FILES empty files spread over
them, with lower-case names and a handful of extensions.

usage: make_tree.py ROOT [--files 200000] [--folders 20000] [--seed 1]
"""
import argparse
import os
import random
import sys

EXTENSIONS = ["txt", "doc", "c", "h", "log", "jpg", "dat", "md"]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root")
    parser.add_argument("--files", type=int, default=200_000)
    parser.add_argument("--folders", type=int, default=20_000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if os.path.exists(args.root) and os.listdir(args.root):
        print(f"{args.root} exists and is not empty", file=sys.stderr)
        return 1
    rng = random.Random(args.seed)
    folders = [args.root]
    os.makedirs(args.root, exist_ok=True)
    for i in range(args.folders):
        parent = folders[rng.randrange(len(folders))]
        folder = os.path.join(parent, f"dir{i:05d}")
        os.mkdir(folder)
        folders.append(folder)
    for i in range(args.files):
        folder = folders[rng.randrange(len(folders))]
        name = f"file{i:06d}.{EXTENSIONS[rng.randrange(len(EXTENSIONS))]}"
        with open(os.path.join(folder, name), "wb"):
            pass
    print(f"{args.root}: {args.files} files in {args.folders} folders")
    return 0


if __name__ == "__main__":
    sys.exit(main())
