"""Helpers of the packer's command-line tests."""
import os
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "wine"))
from winelib import WORK, native  # noqa: E402

WORKDIR = pathlib.Path(os.environ.get("ZS_PACKER_WORK", WORK.parent / "packer-tests"))


def packer(*args, cwd=None):
    r = subprocess.run([str(native("packer"))] + [str(a) for a in args], cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    r.stdout = r.stdout.decode("latin-1")
    r.stderr = r.stderr.decode("latin-1")
    return r


def fresh(name):
    d = WORKDIR / name
    shutil.rmtree(d, ignore_errors=True)
    d.mkdir(parents=True)
    return d


def fake_stub(path):
    b = bytearray(0x400)
    b[0:2] = b"MZ"
    b[0x100:0x104] = b"PE\0\0"
    path.write_bytes(bytes(b))
