"""The folders of src/ form layers: a unit includes only its own folder and
the folders below it, so the include graph between folders has no cycle."""
import pathlib
import re
import sys

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"
# Bottom first; folders on one line are peers and must not include each other.
LAYERS = [
    ["paths"],
    ["package"],
    ["process"],
    ["net", "dialogs"],
    ["setup"],
    ["update"],
    ["start"],
]
RANK = {f: i for i, row in enumerate(LAYERS) for f in row}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/[^"]+"', re.M)


def violations(src=SRC):
    out = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        own = path.relative_to(src).parts[0]
        if own not in RANK:
            out.append(f"{path}: folder '{own}' has no layer")
            continue
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            if target == own:
                continue
            if target not in RANK:
                out.append(f"{path}: includes unknown folder '{target}'")
            elif RANK[target] >= RANK[own]:
                out.append(f"{path}: '{own}' includes '{target}', which is not below it")
    return out


if __name__ == "__main__":
    bad = violations()
    for line in bad:
        print(line)
    print("layers: ok" if not bad else f"layers: {len(bad)} upward or sideways includes")
    sys.exit(1 if bad else 0)
