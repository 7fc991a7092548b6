"""The debug channel between a program and the viewer window (dbgsend -> dbgview)."""
import subprocess

from winelib import case, exe, fresh_dir, main, run, start, wait_until, winpath


class Viewer:
    """dbgview with its output, piece log and ready files in a fresh folder."""

    def __init__(self, name):
        d = fresh_dir(name)
        self.out, self.pieces, self.ready = d / "out.txt", d / "pieces.txt", d / "ready"
        self.proc = start([exe("dbgview.exe"), "/out=" + winpath(self.out),
                           "/pieces=" + winpath(self.pieces), "/ready=" + winpath(self.ready)])
        wait_until(self.ready.exists, 30, what="viewer window")

    def piece_lines(self):
        return self.pieces.read_text(encoding="latin-1").splitlines() if self.pieces.exists() else []

    def quit(self):
        run([exe("dbgview.exe"), "/quit"], timeout=30)
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("viewer did not close on /quit")


def digits(n):
    return "".join(str(i % 10) for i in range(n))


@case
def long_line_arrives_in_two_pieces_and_lines_keep_their_order():
    v = Viewer("debug_channel_pieces")
    try:
        r = run([exe("dbgsend.exe"), "/len=200", "first", "second line"], timeout=60)
        assert r.returncode == 0, r.returncode
        wait_until(lambda: len(v.piece_lines()) >= 4, 20, what="four pieces")
        assert v.piece_lines() == [
            "128 " + digits(128),
            "74 " + digits(200)[128:] + "\\r\\n",
            "7 first\\r\\n",
            "13 second line\\r\\n",
        ], v.piece_lines()
        # The output file holds the texts exactly as received.
        assert v.out.read_bytes() == (digits(200) + "\r\nfirst\r\nsecond line\r\n").encode()
    finally:
        v.quit()
    assert v.proc.returncode == 0


@case
def writing_without_a_viewer_neither_fails_nor_waits():
    r = run([exe("dbgview.exe"), "/quit"], timeout=30)
    assert r.returncode == 1  # nothing to close
    r = run([exe("dbgsend.exe"), "/len=300", "x"], timeout=30)
    assert r.returncode == 0, r.returncode


if __name__ == "__main__":
    main()
