#!/usr/bin/env python3
"""Every repository path that the design documents name exists.

A path is a word in backticks that starts with one of the repository's top-level folders
(or is one of its top-level files). Usage: check_doc_paths.py REPO_ROOT DOC..."""
import os
import re
import sys

TOP_FOLDERS = ("common", "platform", "controller", "gui", "sim", "tools", "tests", "bench",
               "fuzz", "cmake", "resources", "docs", ".ci")
TOP_FILES = ("README.md", "CMakeLists.txt", "ostrix", ".clang-format", ".clang-tidy", ".gitignore")
WORD = re.compile(r"`([^`\s]+)`")


def repository_paths(text):
    for word in WORD.findall(text):
        word = word.rstrip(".,;:")
        if word.startswith("./"):
            word = word[2:]
        first = word.split("/", 1)[0]
        if word in TOP_FILES or (first in TOP_FOLDERS and "/" in word):
            yield word


def main():
    root, docs = sys.argv[1], sys.argv[2:]
    missing = []
    checked = 0
    for doc in docs:
        with open(os.path.join(root, doc), encoding="utf-8") as f:
            text = f.read()
        for path in repository_paths(text):
            checked += 1
            if not os.path.exists(os.path.join(root, path)):
                missing.append(f"{doc}: {path}")
    for m in missing:
        print(f"missing: {m}")
    print(f"{checked} paths checked in {len(docs)} documents, {len(missing)} missing")
    return 1 if missing or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
