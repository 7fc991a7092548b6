"""Language texts: UTF-8 manifests and language files, written into the
package in the code page of each language's Charset."""
import json
import os
import pathlib
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "wine"))
from packerlib import fake_stub, fresh, packer  # noqa: E402
from winelib import case, main, native  # noqa: E402

HEAD = "[package]\nstub = stub.exe\noutput = out/Setup.exe\nno_engine = 1\nreproducible = 1\n"

# (Charset text or None, s0 in UTF-8, the bytes the package must hold)
CHARSETS = [
    ("0", "Grüße aus Köln", b"Gr\xfc\xdfe aus K\xf6ln"),
    ("204", "Привет", b"\xcf\xf0\xe8\xe2\xe5\xf2"),
    ("128", "こんにちは", b"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"),
    (None, "Crème brûlée", b"Cr\xe8me br\xfbl\xe9e"),  # no Charset: ANSI, as the stub assumes
    ("238", "Zażółć", "cp1250"),
    ("161", "Καλημέρα", "cp1253"),
    ("162", "Günaydın", "cp1254"),
    ("177", "שלום", "cp1255"),
    ("178", "مرحبا", "cp1256"),
    ("186", "Labdien, ąčę", "cp1257"),
    ("163", "Xin chào", "cp1258"),
    ("222", "สวัสดี", "cp874"),
    ("134", "你好", "cp936"),
    ("129", "안녕하세요", "cp949"),
    ("136", "您好", "cp950"),
    ("2", "plain ASCII", b"plain ASCII"),
]


def text_dir(name, manifest, files=None):
    d = fresh(name)
    fake_stub(d / "stub.exe")
    (d / "out").mkdir()
    for fname, data in (files or {}).items():
        (d / fname).write_bytes(data if isinstance(data, bytes) else data.encode())
    (d / "m.txt").write_bytes(manifest if isinstance(manifest, bytes) else manifest.encode())
    return d


def languages(d):
    """{name bytes: {key bytes: value bytes}} of the built package."""
    r = packer("inspect", "--json", d / "out/Setup.exe")
    assert r.returncode == 0, r.stdout
    # inspect writes each byte above 0x7F as the code point of the same number.
    raw = lambda s: s.encode("latin-1")  # noqa: E731
    return {raw(lang["name"]): {raw(k): raw(v) for k, v in lang["texts"].items()}
            for lang in json.loads(r.stdout)["languages"]}


def all_charsets_manifest():
    text = HEAD
    for i, (charset, s0, _) in enumerate(CHARSETS):
        text += f"[language L{i}]\ns0 = {s0}\n" + (f"Charset = {charset}\n" if charset is not None else "")
    return text


def expected_bytes(s0, want):
    return want if isinstance(want, bytes) else s0.encode(want)


@case
def texts_go_into_the_code_page_of_their_charset():
    d = text_dir("charsets", all_charsets_manifest())
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 0, r.stderr
    langs = languages(d)
    for i, (charset, s0, want) in enumerate(CHARSETS):
        got = langs[f"L{i}".encode()][b"s0"]
        assert got == expected_bytes(s0, want), (charset, s0, got)


@case
def language_files_marks_and_old_files():
    cases = [
        # (manifest after HEAD, files, {language name bytes: {key: value bytes}})
        # An editor's UTF-8 mark is dropped, in a language file and in the manifest.
        ("[language German]\ninclude = de.txt\n",
         {"de.txt": "\ufeffs0 = Prüfsumme falsch\nCharset = 0\n"},
         {b"German": {b"s0": b"Pr\xfcfsumme falsch", b"Charset": b"0"}}),
        # The section's name and keys are texts of the language too.
        ("[language Français]\nTitre = Façade\n", {}, {b"Fran\xe7ais": {b"Titre": b"Fa\xe7ade"}}),
        # An old file already in the code page passes as it is; the manifest's
        # own lines of that language are UTF-8 still.
        ("[language Russian]\nencoding = codepage\ninclude = ru.txt\ns1 = Ждите\n",
         {"ru.txt": "s0 = Привет\nCharset = 204\n".encode("cp1251")},
         {b"Russian": {b"s0": "Привет".encode("cp1251"), b"s1": "Ждите".encode("cp1251"), b"Charset": b"204"}}),
        # ... also under a charset without a code page of its own.
        ("[language Symbols]\ninclude = sym.txt\nencoding = codepage\nCharset = 2\n",
         {"sym.txt": b"s0 = \xf0\xe0\x9f\n"}, {b"Symbols": {b"s0": b"\xf0\xe0\x9f", b"Charset": b"2"}}),
        ("[language German]\nencoding = UTF8\ninclude = de.txt\n", {"de.txt": "s0 = Tschüss\n"},
         {b"German": {b"s0": b"Tsch\xfcss"}}),
    ]
    for text, files, want in cases:
        for mark in ("", "\ufeff"):
            d = text_dir("langfiles", mark + HEAD + text, files)
            r = packer("build", "m.txt", cwd=d)
            assert r.returncode == 0, (text, r.stderr)
            assert languages(d) == want, (text, languages(d))


@case
def texts_that_cannot_be_written_are_refused():
    de = "[language German]\ninclude = de.txt\n"  # the include line is line 7
    cases = [
        # (manifest after HEAD, files, "file:line: ", message parts)
        (de, {"de.txt": "s0 = gut\ns1 = Łódź\n"}, "de.txt:2: ", ['"Ł" (U+0141) is not in code page 1252',
                                                                  "Charset 0 of [language German]"]),
        ("[language Russian]\nCharset = 204\ns0 = Grüße\n", {}, "m.txt:8: ", ['"ü" (U+00FC)', "code page 1251"]),
        # glibc writes U+00A5 as 0x5C, which reads back as a backslash: not in the code page.
        ("[language Japanese]\nCharset = 128\ns0 = 100¥\n", {}, "m.txt:8: ", ['"¥" (U+00A5)', "code page 932"]),
        ("[language German]\ns0 = Hallo 😀\n", {}, "m.txt:7: ", ['"😀" (U+1F600)', "code page 1252"]),
        ("[language German]\nCharset = 0\n[language Łódź]\ns0 = x\n", {}, "m.txt:8: ", ['"Ł" (U+0141)']),
        ("[language Symbols]\nCharset = 2\ns0 = Grüße\n", {}, "m.txt:8: ",
         ['"ü" (U+00FC)', "Charset 2 of [language Symbols] has no code page", "must be ASCII"]),
        ("[language OEM]\nCharset = 255\ninclude = de.txt\n", {"de.txt": "s0 = ä\n"}, "de.txt:1: ",
         ['"ä" (U+00E4)', "Charset 255"]),
        # Not UTF-8: a file saved in Latin-1, the manifest's comment line too.
        (de, {"de.txt": b"s0 = ok\ns1 = Gr\xfc\xdfe\n"}, "de.txt:2: ",
         ["not UTF-8 (byte 0xFC at column 8)", "encoding = codepage in [language German]"]),
        (de, {"de.txt": "s0 = ß\n".encode() + b"s1 = \xe2\x82\n"}, "de.txt:2: ", ["byte 0xE2 at column 6"]),
        ("[language German]\n# Gr\xfc\xdfe\ns0 = x\n".encode("latin-1"), {}, "m.txt:7: ", ["not UTF-8", "manifest"]),
        ("[file]\nsource = \xe9t\xe9.txt\n".encode("latin-1"), {}, "m.txt:7: ", ["not UTF-8 (byte 0xE9 at column 10)"]),
        ("[language German]\nencoding = latin1\n", {}, "m.txt:7: ", ['encoding: expected utf8 or codepage, not "latin1"']),
        ("[language German]\nencoding = codepage\ninclude = de.txt\n", {"de.txt": "\ufeffs0 = ä\n"}, "de.txt:1: ",
         ["UTF-8 mark", "encoding = codepage"]),
        (de, {"de.txt": "s0 = x\nencoding = codepage\n"}, "de.txt:2: ", ["encoding belongs in the [language] section"]),
    ]
    for text, files, where, parts in cases:
        d = text_dir("refused", HEAD.encode() + text if isinstance(text, bytes) else HEAD + text, files)
        r = subprocess.run([str(native("packer")), "build", "m.txt"], cwd=d, capture_output=True, timeout=120)
        err = r.stderr.decode("utf-8", "replace")
        assert r.returncode == 1, (text, err)
        assert where in err, (where, err)
        for part in parts:
            assert part in err, (part, err)
        assert os.listdir(d / "out") == []


@case
def the_locale_plays_no_part():
    d = text_dir("locale", all_charsets_manifest())
    outputs = {}
    for loc in ("C", "C.UTF-8"):
        env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k not in ("LANG", "LANGUAGE")}
        env["LC_ALL"] = loc
        r = subprocess.run([str(native("packer")), "build", "m.txt", "-o", f"out/{loc}.exe"], cwd=d, env=env,
                           capture_output=True, timeout=120)
        assert r.returncode == 0, (loc, r.stderr)
        outputs[loc] = (d / f"out/{loc}.exe").read_bytes()
    assert outputs["C"] == outputs["C.UTF-8"]
    (d / "out/C.exe").rename(d / "out/Setup.exe")
    langs = languages(d)
    assert all(langs[f"L{i}".encode()][b"s0"] == expected_bytes(s0, want)
               for i, (_, s0, want) in enumerate(CHARSETS))


main()
