"""Runs one of our Windows programs under Wine and passes its exit code on."""
import sys
import winelib

if __name__ == "__main__":
    r = winelib.run([winelib.exe(sys.argv[1])] + sys.argv[2:], timeout=600)
    sys.stdout.write(r.stdout)
    sys.stderr.write(r.stderr)
    sys.exit(r.returncode)
