#!/usr/bin/env bash
# A benchmark corpus of real files: copies files from /usr/share and /usr/lib
# (1 KiB to 64 MiB each, in path order) into one flat folder until the size
# is reached. Kept for later runs: <folder>.done marks a complete corpus.
#   make-corpus.sh <folder> <MiB>
set -euo pipefail
dest=${1:?folder}
mib=${2:?MiB}
[ -f "$dest.done" ] && exit 0
rm -rf "$dest"
mkdir -p "$dest"
python3 - "$dest" "$mib" <<'PY'
import os, shutil, sys
dest, limit = sys.argv[1], int(sys.argv[2]) << 20
total = count = 0
for top in ("/usr/share", "/usr/lib"):
    for root, dirs, files in os.walk(top):
        dirs.sort()
        for name in sorted(files):
            p = os.path.join(root, name)
            try:
                if os.path.islink(p) or not os.path.isfile(p):
                    continue
                size = os.path.getsize(p)
                if size < 1024 or size > 64 << 20 or not os.access(p, os.R_OK):
                    continue
                shutil.copyfile(p, os.path.join(dest, "%05d_%s" % (count, name[:100])))
            except OSError:
                continue
            total += size
            count += 1
            if total >= limit:
                print(f"corpus: {count} files, {total >> 20} MiB")
                sys.exit(0)
print(f"corpus: {count} files, {total >> 20} MiB")
PY
touch "$dest.done"
