#!/usr/bin/env python3
"""Checks torvo-image as a user and a script meet it: arguments, exit status, messages, events,
and that the pictures it writes hold exactly the expected pixels. Usage: cli_test.py TOOL [RUNNER...],
where RUNNER is the command that runs a cross-built tool (Wine for a Windows build)."""
import os
import struct
import subprocess
import sys
import tempfile

TOOL = os.path.abspath(sys.argv[1])
RUNNER = sys.argv[2:]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def write_bmp(path, rows):
    """rows: top row first, each a list of (blue, green, red)."""
    height, width = len(rows), len(rows[0])
    stride = (3 * width + 3) & ~3
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for b, g, r in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def read_bmp(path):
    with open(path, "rb") as f:
        blob = f.read()
    offset = struct.unpack_from("<I", blob, 10)[0]
    width, height = struct.unpack_from("<ii", blob, 18)
    bits = struct.unpack_from("<H", blob, 28)[0]
    assert bits == 24, bits
    stride = (3 * width + 3) & ~3
    rows = []
    for y in range(height):
        line = blob[offset + y * stride: offset + y * stride + 3 * width]
        rows.append([tuple(line[3 * x: 3 * x + 3]) for x in range(width)])
    return list(reversed(rows))  # top row first


def run(*args):
    p = subprocess.run([*RUNNER, TOOL, *args], capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def grey(rows):
    return [[(v, v, v) for v in row] for row in rows]


with tempfile.TemporaryDirectory() as work:
    def path(name):
        return os.path.join(work, name)

    # A 5 x 4 picture with different rows and columns (top row first).
    picture = [[(10 * y + x, 100 + x, 200 - y) for x in range(5)] for y in range(4)]
    write_bmp(path("in.bmp"), picture)

    # Identity kernel and preset 12: the picture comes back unchanged, in BMP and through PNG.
    code, out, err = run("kernel", "3", "1", "0", "0", "0", "0", "1", "0", "0", "0", "0", path("in.bmp"), path("id.bmp"))
    check(code == 0 and read_bmp(path("id.bmp")) == picture, "identity kernel keeps the picture")
    code, _, _ = run("filter", "12", path("in.bmp"), path("none.png"))
    code2, _, _ = run("filter", "12", path("none.png"), path("none.bmp"))
    check(code == 0 and code2 == 0 and read_bmp(path("none.bmp")) == picture, "PNG round trip keeps the picture")

    # Orientation: the top row of the coefficients reaches one row up in the picture, the right
    # column one pixel to the right.
    code, _, _ = run("kernel", "3", "1", "0", "1", "0", "0", "0", "0", "0", "0", "0", path("in.bmp"), path("up.bmp"))
    result = read_bmp(path("up.bmp"))
    check(code == 0 and result[2][1:4] == picture[1][1:4] and result[1][1:4] == picture[0][1:4]
          and result[0] == picture[0] and result[3] == picture[3], "kernel top row reads the row above")
    code, _, _ = run("kernel", "3", "1", "0", "0", "0", "0", "0", "1", "0", "0", "0", path("in.bmp"), path("right.bmp"))
    result = read_bmp(path("right.bmp"))
    check(code == 0 and result[1][1:4] == picture[1][2:5] and result[1][0] == picture[1][0],
          "kernel right column reads the pixel to the right")

    # Events: a 5 x 4 picture through a 3 x 3 filter visits byte columns 3, 6, 9.
    code, out, _ = run("--events", "filter", "1", path("in.bmp"), path("blur.bmp"))
    check(code == 0 and out == "InitProgress 9\nProgress 3\nProgress 6\nProgress 9\nComplete\n",
          "events of a 3 x 3 pass: " + repr(out))
    code, out, _ = run("filter", "1", path("in.bmp"), path("blur2.bmp"))
    check(out == "", "no events without --events")

    # Combining: white against black.
    write_bmp(path("white.bmp"), grey([[255, 255], [255, 255]]))
    write_bmp(path("black.bmp"), grey([[0, 0], [0, 0]]))
    code, _, _ = run("lightest", path("white.bmp"), path("black.bmp"), path("l.bmp"))
    check(code == 0 and read_bmp(path("l.bmp")) == grey([[255, 255], [255, 255]]), "lightest keeps white")
    code, _, _ = run("darkest", path("white.bmp"), path("black.bmp"), path("d.bmp"))
    check(code == 0 and read_bmp(path("d.bmp")) == grey([[0, 0], [0, 0]]), "darkest keeps black")
    # R offsets on red, B offsets on blue.
    code, _, _ = run("add", path("black.bmp"), "1", "30", "20", "10", "0", "0", "0", "0", path("white.bmp"), path("a.bmp"))
    check(code == 0 and read_bmp(path("a.bmp")) == [[(10, 20, 30)] * 2] * 2, "add offsets by channel")

    # Raised errors: status 1, the number and description, no output and no temporary file.
    def expect_error(args, message, name):
        before = set(os.listdir(work))
        code, _, err = run(*args, path("in.bmp"), path(name))
        check(code == 1, f"{args}: status {code}")
        check(err == f"torvo-image: error {message}\n", f"{args}: message {err!r}")
        check(set(os.listdir(work)) == before, f"{args}: left files behind")

    expect_error(["filter", "14"], "-2147220198: Invalid filter types.", "e1.bmp")
    expect_error(["filter", "0"], "-2147220198: Invalid filter types.", "e2.bmp")
    expect_error(["kernel", "4", "1"] + ["1"] * 16, "-2147220199: Size must be an odd number", "e3.bmp")
    expect_error(["kernel", "1", "1", "1"], "-2147220198: Invalid size.  Size should be an odd number from 3 to 9", "e4.png")
    expect_error(["kernel", "3", "0"] + ["1"] * 9, "11: Division by zero", "e5.bmp")
    expect_error(["add", path("black.bmp"), "1", "0", "0", "0", "1", "0", "0", "0"], "9: Subscript out of range", "e6.bmp")
    expect_error(["kernel", "3", "1"] + ["9000000"] * 9, "6: Overflow", "e7.bmp")

    # A failed run leaves an existing OUTPUT as it was.
    write_bmp(path("keep.bmp"), grey([[1]]))
    run("filter", "14", path("in.bmp"), path("keep.bmp"))
    check(read_bmp(path("keep.bmp")) == grey([[1]]), "failed run keeps the old output")

    # Bad arguments: status 2 with the usage.
    for args in (["filter"], ["filter", "5", path("in.bmp")], ["blur", "5", path("in.bmp"), path("o.bmp")],
                 ["filter", "x", path("in.bmp"), path("o.bmp")], ["filter", "5", path("in.bmp"), path("o.jpg")],
                 ["filter", "13", path("in.bmp"), path("o.bmp")], ["filter", "99999999999", path("in.bmp"), path("o.bmp")],
                 ["kernel", "3", "1", "1", path("in.bmp"), path("o.bmp")], ["--nope", "filter", "5", path("in.bmp"), path("o.bmp")],
                 ["lightest", path("in.bmp"), path("o.bmp")]):
        code, _, err = run(*args)
        check(code == 2 and "usage: torvo-image" in err, f"{args}: status {code}")
    check(not os.path.exists(path("o.bmp")), "bad arguments write nothing")
    # "-" is no OUTPUT for an operation that makes a picture; the clipboard takes it and, without
    # a display, fails clearly instead of writing a file called "-".
    code, _, err = run("filter", "5", path("in.bmp"), "-")
    check(code == 2 and "must end in .bmp or .png" in err, f"filter to '-': status {code}")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["QT_QPA_PLATFORM"] = "offscreen"
    p = subprocess.run([*RUNNER, TOOL, "clipboard", path("in.bmp"), "-"], capture_output=True, text=True, cwd=work,
                       env=env, timeout=60)
    # A build without a desktop (Windows, for now) has no clipboard operation and says so.
    no_clipboard = p.returncode == 2 and 'unknown operation "clipboard"' in p.stderr
    check((p.returncode in (0, 1) or no_clipboard) and not os.path.exists(path("-")),
          f"clipboard to '-': status {p.returncode} {p.stderr!r}")
    code, out, _ = run("--help")
    check(code == 0 and out.startswith("usage: torvo-image"), "--help")

    # Unreadable input: a clear message, status 1, never a crash.
    with open(path("text.bmp"), "w") as f:
        f.write("not a picture")
    with open(path("in.bmp"), "rb") as f:
        whole = f.read()
    with open(path("cut.bmp"), "wb") as f:
        f.write(whole[:60])
    with open(path("huge.bmp"), "wb") as f:
        f.write(whole[:18] + struct.pack("<ii", 1 << 30, 1 << 30) + whole[26:])
    for name, words in (("missing.bmp", "no such file"), ("text.bmp", "not a BMP or PNG"),
                        ("cut.bmp", "cannot read"), ("huge.bmp", "cannot read")):
        code, _, err = run("filter", "5", path(name), path("o.png"))
        check(code == 1 and words in err and err.startswith("torvo-image: "), f"{name}: {code} {err!r}")
    check(not os.path.exists(path("o.png")), "unreadable input writes nothing")

if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("all torvo-image checks passed")
