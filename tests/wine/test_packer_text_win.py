"""The Windows packer writes language texts in their code pages through the
system's converter, and refuses what a code page cannot hold, as the native
packer does."""
import json
import subprocess

from winelib import case, exe, fresh_dir, main, native, run, winpath

HEAD = "[package]\nstub = stub.exe\noutput = Setup.exe\nno_engine = 1\n"


def text_dir(name, manifest, files=None):
    w = fresh_dir(name)
    stub = bytearray(0x400)
    stub[0:2] = b"MZ"
    stub[0x100:0x104] = b"PE\0\0"
    (w / "stub.exe").write_bytes(bytes(stub))
    for fname, text in (files or {}).items():
        (w / fname).write_text(text, encoding="utf-8")
    (w / "m.txt").write_text(manifest, encoding="utf-8")
    return w


def build(w):
    r = run([exe("packer.exe"), "build", winpath(w / "m.txt")], timeout=120)
    # The packer prints its messages' UTF-8 bytes as they are.
    return r.returncode, r.stderr.encode("latin-1").decode("utf-8", "replace")


@case
def texts_in_their_code_pages():
    cases = [
        # (Charset, s0 in UTF-8, bytes in the package)
        ("0", "Grüße aus Köln", b"Gr\xfc\xdfe aus K\xf6ln"),
        ("204", "Привет", b"\xcf\xf0\xe8\xe2\xe5\xf2"),
        ("128", "こんにちは", b"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"),
    ]
    text = HEAD + "".join(f"[language L{i}]\ns0 = {s0}\nCharset = {cs}\n" for i, (cs, s0, _) in enumerate(cases))
    w = text_dir("packer_text_win", text)
    code, err = build(w)
    assert code == 0, err
    r = subprocess.run([str(native("packer")), "inspect", "--json", w / "Setup.exe"], capture_output=True)
    assert r.returncode == 0, r.stdout
    langs = {lang["name"]: lang["texts"] for lang in json.loads(r.stdout)["languages"]}
    for i, (cs, s0, want) in enumerate(cases):
        assert langs[f"L{i}"]["s0"].encode("latin-1") == want, (cs, s0, langs[f"L{i}"])


@case
def characters_the_code_page_lacks_are_refused():
    cases = [
        # (manifest after HEAD, files, "file:line: ", character)
        ("[language German]\ninclude = de.txt\n", {"de.txt": "s0 = gut\ns1 = Łódź\n"}, "de.txt:2: ", "U+0141"),
        # Windows would write "\" for it without WC_NO_BEST_FIT_CHARS.
        ("[language Japanese]\nCharset = 128\ns0 = 100¥\n", {}, "m.txt:7: ", "U+00A5"),
    ]
    for text, files, where, label in cases:
        w = text_dir("packer_text_win_bad", HEAD + text, files)
        code, err = build(w)
        assert code == 1, (text, err)
        assert where in err and label in err and "is not in code page" in err, (where, label, err)
        assert not (w / "Setup.exe").exists()


main()
