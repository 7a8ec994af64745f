"""The programs, listed once in programs.json at the top of the tree. A build
writes its own copy (build/programs.json) with each program's window title,
read from the program's AppTitle."""

import json
import os
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SOURCE_LIST = os.path.join(ROOT, "programs.json")


def entries(bin_dir=None):
    """The list of the build whose programs are in bin_dir (with titles) if
    it has one, else the source list (without)."""
    paths = [os.path.join(bin_dir, "..", "programs.json")] if bin_dir else []
    for path in paths + [SOURCE_LIST]:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as source:
                return json.load(source)["programs"]
    raise FileNotFoundError(SOURCE_LIST)


NAMES = [entry["name"] for entry in entries()]


def entry(name, bin_dir=None):
    return next(item for item in entries(bin_dir) if item["name"] == name)


def titles(bin_dir):
    """Each program's window caption, from the build in bin_dir."""
    listed = entries(bin_dir)
    missing = [item["name"] for item in listed if "title" not in item]
    if missing:
        raise RuntimeError(f"no titles for {missing}: {bin_dir}/../programs.json is written by "
                           "configuring the build")
    return {item["name"]: item["title"] for item in listed}


def main(arguments):
    """For shell scripts: `programs.py names` prints the names, one a line;
    `programs.py get NAME FIELD[.FIELD...]` prints one value of a program."""
    if arguments == ["names"]:
        print("\n".join(NAMES))
        return 0
    if len(arguments) == 3 and arguments[0] == "get":
        value = entry(arguments[1])
        for field in arguments[2].split("."):
            value = value[field]
        print(value)
        return 0
    print("usage: programs.py names | get NAME FIELD[.FIELD...]", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
