"""Runs one of our Windows programs under Wine and passes its exit code on.
The programs run here (GoogleTest binaries) always print a summary, so an end
with no output at all is a start that Wine failed before the program ran:
winelib.run tries it again."""
import sys
import winelib

if __name__ == "__main__":
    r = winelib.run([winelib.exe(sys.argv[1])] + sys.argv[2:], timeout=600, expect_output=True)
    sys.stdout.write(r.stdout)
    sys.stderr.write(r.stderr)
    if not r.stdout.strip():
        sys.stderr.write(f"run_exe: {sys.argv[1]} printed nothing and exited with {r.returncode}\n")
    sys.exit(r.returncode)
