#!/usr/bin/env python3
"""Fails when a source folder includes a header from a folder above it.

Each folder under src/ is one subsystem and may use only those on lower
floors; an include that points up is how two subsystems end up using each
other, so it is caught here rather than in a review.
"""
import pathlib
import re
import sys

# Top floor first.
FLOORS = ["app", "chart", "takes", "render", "capture", "io", "chartdraw",
          "display", "analysis"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z_]+)/[^"]+"', re.M)


def main(src: pathlib.Path) -> int:
    faults = []
    folders = sorted(p.name for p in src.iterdir() if p.is_dir())
    unknown = [f for f in folders if f not in FLOORS]
    if unknown:
        faults.append(f"folders without a floor: {', '.join(unknown)}")
    for folder in folders:
        if folder not in FLOORS:
            continue
        floor = FLOORS.index(folder)
        for path in sorted((src / folder).iterdir()):
            if path.suffix not in (".h", ".cpp", ".inc"):
                continue
            for used in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if used not in FLOORS:
                    continue  # generated headers and the like
                if FLOORS.index(used) < floor:
                    faults.append(f"{path.relative_to(src)} includes {used}/, "
                                  f"a folder above {folder}/")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) pointing up" if faults
          else "every include points down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
