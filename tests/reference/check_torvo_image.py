#!/usr/bin/env python3
"""Runs torvo-image on random pictures of odd sizes and compares every byte with the reference.

    check_torvo_image.py --tool PATH [--only GROUP] [--cases N] [--seed S] [--case ID] [--keep]

Groups: filters, kernels, combine, tone, hls, dither, resample, random. Every case runs the tool
with --events, so the progress events are compared as well. Pictures come from a seeded
generator: a failure repeats with the --seed, --cases and --case printed with it.
"""

import argparse
import os
import random
import re
import shutil
import struct
import shlex
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import torvo_reference as ref  # noqa: E402

# ---------------------------------------------------------------------------------------------
# Picture files, written and read by hand so that no library of the tool's stands in between

def bmp_bytes(surface):
    """24-bit BMP; its rows are bottom-up with padded lines, exactly the surface's memory."""
    pixels = bytearray(surface.stride * surface.height)
    for y in range(surface.height):
        o = y * surface.stride
        pixels[o:o + 3 * surface.width] = surface.bits[o:o + 3 * surface.width]
    header = struct.pack("<IiiHHIIiiII", 40, surface.width, surface.height, 1, 24, 0,
                         len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    return file_header + header + bytes(pixels)


def read_bmp(data):
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header_size < 40 or bits != 24 or compression != 0:
        raise ValueError(f"BMP is not plain 24-bit (header {header_size}, {bits} bits, "
                         f"compression {compression})")
    top_down = height < 0
    height = abs(height)
    surface = ref.Surface(width, height)
    stride = surface.stride
    if len(data) < offset + stride * height:
        raise ValueError("BMP pixel data is cut short")
    for row in range(height):
        line = height - 1 - row if top_down else row
        o = offset + row * stride
        surface.bits[line * stride:line * stride + 3 * width] = data[o:o + 3 * width]
    return surface


def png_bytes(surface):
    """8-bit RGB PNG, rows top-down, no filtering."""
    raw = bytearray()
    for line in range(surface.height - 1, -1, -1):
        raw.append(0)
        for x in range(surface.width):
            b, g, r = surface.pixel(x, line)
            raw += bytes((r, g, b))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", surface.width, surface.height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def read_png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, bytearray(), None
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"PNG is not 8-bit RGB/RGBA (depth {depth}, colour type {colour})")
    raw = zlib.decompress(bytes(idat))
    row_bytes = width * channels
    previous = bytearray(row_bytes)
    surface = ref.Surface(width, height)
    pos = 0
    for row in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + row_bytes])
        pos += 1 + row_bytes
        for i in range(row_bytes):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + predictor) & 255
        for x in range(width):
            r, g, b = line[x * channels:x * channels + 3]
            surface.set_pixel(x, height - 1 - row, (b, g, r))
        previous = line
    return surface


def write_picture(path, surface):
    with open(path, "wb") as f:
        f.write(png_bytes(surface) if path.endswith(".png") else bmp_bytes(surface))


def read_picture(path):
    with open(path, "rb") as f:
        data = f.read()
    return read_png(data) if data[:4] == b"\x89PNG" else read_bmp(data)


# ---------------------------------------------------------------------------------------------
# Random pictures

LEVELS = (0, 1, 2, 15, 16, 17, 63, 64, 126, 127, 128, 129, 130, 191, 192, 253, 254, 255)
TINY_SIZES = ((1, 1), (2, 2), (3, 1), (1, 3), (2, 1), (1, 2), (3, 3), (2, 3))
STYLES = ("noise", "levels", "grey", "blocks", "smooth")


def random_size(rng, min_side=1):
    """Widths up to 41 (most need padded scan lines), heights up to 29."""
    return rng.randint(min_side, 41), rng.randint(min_side, 29)


def random_picture(rng, width, height, style=None, low=0, high=255):
    style = style or rng.choice(STYLES)
    s = ref.Surface(width, height)
    palette = [tuple(rng.randint(low, high) for _ in range(3)) for _ in range(rng.randint(2, 5))]
    tile = (rng.randint(1, 6), rng.randint(1, 6))
    slope = [(rng.randint(-9, 9), rng.randint(-9, 9), rng.randint(0, 255)) for _ in range(3)]
    for y in range(height):
        for x in range(width):
            if style == "noise":
                bgr = [rng.randint(low, high) for _ in range(3)]
            elif style == "levels":
                bgr = [rng.choice(LEVELS) for _ in range(3)]
            elif style == "grey":
                v = rng.randint(low, high) if rng.random() < 0.5 else rng.choice(LEVELS)
                bgr = [v, v, v]
            elif style == "blocks":
                bgr = palette[(x // tile[0] + y // tile[1]) % len(palette)]
            else:
                bgr = [(a * x + b * y + c + rng.randint(-3, 3)) % 256 for a, b, c in slope]
            s.set_pixel(x, y, [min(max(v, low), high) for v in bgr])
    return s


def _equal_brightness_steps():
    steps = []
    for dg in range(-40, 41):
        for dr in range(-255, 256):
            t = 222 * dr + 707 * dg
            if t % 71 == 0 and abs(t // 71) <= 255 and (dr, dg) != (0, 0):
                steps.append((-t // 71, dg, dr))   # (blue, green, red) steps
    return steps


EQUAL_BRIGHTNESS_STEPS = _equal_brightness_steps()


def partner_picture(rng, target, width=None, height=None):
    """A picture to combine with `target`: random pixels, equal pixels, and pixels of another
    colour with exactly the same brightness."""
    width = width or target.width
    height = height or target.height
    s = random_picture(rng, width, height)
    for y in range(min(height, target.height)):
        for x in range(min(width, target.width)):
            roll = rng.random()
            own = target.pixel(x, y)
            if roll < 0.15:
                s.set_pixel(x, y, own)
            elif roll < 0.55:
                for _ in range(30):
                    step = rng.choice(EQUAL_BRIGHTNESS_STEPS)
                    other = [own[c] + step[c] for c in range(3)]
                    if all(0 <= v <= 255 for v in other):
                        s.set_pixel(x, y, other)
                        break
    return s


def palette_file(entries, header=True, trailing=True):
    lines = [b"JASC-PAL", b"0100", str(len(entries)).encode()] if header else []
    lines += [f"{r} {g} {b}".encode() for r, g, b in entries]
    return b"\r\n".join(lines) + (b"\r\n" if trailing else b"")


# ---------------------------------------------------------------------------------------------
# Running the tool

class Run:
    def __init__(self, returncode, stdout, stderr, output):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.output = output   # the surface read back, or None when no output file was left
        self.events = [line.strip() for line in stdout.splitlines() if line.strip()]


class Workspace:
    def __init__(self, tool, folder, runner=()):
        self.tool = tool
        self.runner = list(runner)
        self.folder = folder
        self.serial = 0

    def file(self, name_or_ext, content):
        self.serial += 1
        path = os.path.join(self.folder, f"f{self.serial}{name_or_ext}")
        if isinstance(content, ref.Surface):
            write_picture(path, content)
        else:
            with open(path, "wb") as f:
                f.write(content)
        return path

    def run(self, arguments, output_ext=".bmp"):
        self.serial += 1
        output = os.path.join(self.folder, f"out{self.serial}{output_ext}")
        command = self.runner + [self.tool, "--events"] + arguments + [output]
        done = subprocess.run(command, capture_output=True, timeout=120)
        picture = read_picture(output) if os.path.exists(output) else None
        return Run(done.returncode, done.stdout.decode("utf-8", "replace"),
                   done.stderr.decode("utf-8", "replace"), picture), command


# ---------------------------------------------------------------------------------------------
# Expected results from the reference

class Expect:
    def __init__(self, surface=None, events=None, error=None, description=None):
        self.surface = surface
        self.events = events
        self.error = error
        self.description = description


def event_lines(processor):
    return [" ".join(str(part) for part in event) for event in processor.events]


def expect(action, processor=None):
    """Runs `action` on the reference; the surface it returns, or the error it raises."""
    processor = processor or ref.Processor()
    try:
        surface = action(processor)
    except ref.RefError as e:
        fixed_text = e.number in (ref.ERR_SIZE_NOT_ODD, ref.ERR_INVALID_SETTING)
        return Expect(events=event_lines(processor), error=e.number,
                      description=e.description if fixed_text else None)
    return Expect(surface=surface, events=event_lines(processor))


def first_difference(expected, got, inputs):
    for y in range(expected.height):
        for x in range(expected.width):
            if expected.pixel(x, y) != got.pixel(x, y):
                was = [f"{name} {s.pixel(x, y)}" for name, s in inputs.items()
                       if x < s.width and y < s.height]
                return (f"first difference at pixel x={x}, scan line {y} "
                        f"(row {expected.height - 1 - y} from the top): expected BGR "
                        f"{expected.pixel(x, y)}, got {got.pixel(x, y)}"
                        + (f"; input there: {', '.join(was)}" if was else ""))
    return None


ERROR_LINE = re.compile(r"torvo-image: error (\S+): (.*)")


def compare(run, want, inputs, check_events=True):
    """Failure messages for one run against the expected result (empty when it matched)."""
    problems = []
    if want.error is None:
        if run.returncode != 0:
            return [f"exit status {run.returncode}, expected 0; stderr: {run.stderr.strip()}"]
        if run.output is None:
            return ["no output file"]
        got, exp = run.output, want.surface
        if (got.width, got.height) != (exp.width, exp.height):
            return [f"output is {got.width}x{got.height}, expected {exp.width}x{exp.height}"]
        difference = first_difference(exp, got, inputs)
        if difference:
            problems.append(difference)
    else:
        if run.returncode != 1:
            problems.append(f"exit status {run.returncode}, expected 1 with error {want.error}; "
                            f"stderr: {run.stderr.strip()}")
        else:
            match = ERROR_LINE.search(run.stderr)
            number = None
            if match:
                try:
                    number = int(match.group(1), 0)
                except ValueError:
                    pass
            if number is None or (number & 0xFFFFFFFF) != (want.error & 0xFFFFFFFF):
                problems.append(f"expected error {want.error}, stderr: {run.stderr.strip()}")
            elif want.description and want.description not in match.group(2):
                problems.append(f"expected the text {want.description!r}, stderr: "
                                f"{run.stderr.strip()}")
        if run.output is not None:
            problems.append("a failed run left an output file")
    if check_events and want.events is not None and run.events != want.events:
        problems.append(f"events differ: expected {summarise(want.events)}, "
                        f"got {summarise(run.events)}")
    return problems


def summarise(events):
    if len(events) <= 8:
        return events
    return events[:4] + [f"... {len(events) - 8} more ..."] + events[-4:]


# ---------------------------------------------------------------------------------------------
# Cases

class Case:
    """One tool run (or a few, for the seeded operations) and how to judge it."""

    def __init__(self, group, name, seed, size, check):
        self.group = group
        self.name = name
        self.seed = seed
        self.size = size
        self.check = check   # check(workspace) -> list of failure messages


def reference_case(group, name, seed, size, arguments, files, want, output_ext=".bmp",
                   check_events=True):
    """`arguments`: the operation's words; a `files` key in braces names a file to write.
    `files` maps names to surfaces or bytes; INPUT is the picture the tool reads."""

    def check(ws):
        paths = {key: ws.file(ext_of(key, value), value) for key, value in files.items()}
        words = [paths[w[1:-1]] if w.startswith("{") else w for w in arguments]
        picture = paths.get("INPUT") or paths["INPUT_PNG"]
        run, command = ws.run(words + [picture], output_ext)
        inputs = {k: v for k, v in files.items() if isinstance(v, ref.Surface)}
        problems = compare(run, want, inputs, check_events)
        if problems:
            problems.append("command: " + " ".join(os.path.basename(c) if c.startswith(ws.folder)
                                                   else c for c in command))
        return problems

    return Case(group, name, seed, size, check)


def ext_of(key, value):
    if key.endswith("_PNG"):
        return ".png"
    return ".bmp" if isinstance(value, ref.Surface) else ".pal"


def picture_key(i):
    """Every fourth case reads a PNG rather than a BMP."""
    return "INPUT_PNG" if i % 4 == 3 else "INPUT"


def out_ext(i):
    return ".png" if i % 3 == 2 else ".bmp"


def standard(group, name, seed, picture, arguments, action, i, extra=None):
    """The tool's INPUT is `picture`; `action(processor, copy_of_picture)` is the reference."""
    files = dict(extra or {})
    key = picture_key(i)
    files[key] = picture
    want = expect(lambda p: action(p, picture.copy()))
    return reference_case(group, name, seed, f"{picture.width}x{picture.height}", arguments,
                          files, want, out_ext(i) if want.error is None else ".bmp")


def sizes_for(rng, i, op_index, min_side=1):
    """The first case of an operation takes a tiny picture, the others random odd sizes."""
    if i == 0:
        return TINY_SIZES[op_index % len(TINY_SIZES)]
    return random_size(rng, min_side)


def filters_group(base, n):
    cases = []
    for filter_type in range(1, 13):
        for i in range(n):
            seed = f"{base}:filter{filter_type}:{i}"
            rng = random.Random(seed)
            w, h = sizes_for(rng, i, filter_type)
            picture = random_picture(rng, w, h)

            def action(p, image, t=filter_type):
                p.set_filter_type(t)
                p.process_image(image, ref.Surface(image.width, image.height))
                return image
            cases.append(standard("filters", f"filter {filter_type}", seed, picture,
                                  ["filter", str(filter_type)], action, i))
    return cases


def kernel_coefficients(rng, size):
    style = rng.choice(("small", "wide", "sparse", "positive"))
    count = size * size
    if style == "small":
        return [rng.randint(-3, 3) for _ in range(count)]
    if style == "wide":
        return [rng.randint(-300, 300) for _ in range(count)]
    if style == "sparse":
        c = [0] * count
        for _ in range(rng.randint(1, 3)):
            c[rng.randrange(count)] = rng.choice((-2, -1, 1, 2, 5))
        return c
    return [rng.randint(0, 9) for _ in range(count)]


def kernel_action(size, weight, coefficients):
    def action(p, image):
        p.set_filter_array_size(size)
        h = size // 2
        for k, v in enumerate(coefficients):
            # On paper: the top row (scan-line offset +h) first, each row left to right.
            p.set_filter_value(k % size - h, h - k // size, v)
        p.kernel_weight = weight
        p.set_filter_type(13)
        p.process_image(image, ref.Surface(image.width, image.height))
        return image
    return action


def kernels_group(base, n):
    cases = []
    for size in (3, 5, 7, 9):
        for i in range(n + 2):
            seed = f"{base}:kernel{size}:{i}"
            rng = random.Random(seed)
            w, h = sizes_for(rng, i, size) if i < n else random_size(rng, size)
            picture = random_picture(rng, w, h)
            coefficients = kernel_coefficients(rng, size)
            if i == n:
                weight = 0                        # division by zero at the first pixel
            elif i == n + 1:
                weight = 1                        # a product past 32 bits
                coefficients[rng.randrange(size * size)] = rng.choice((1, -1)) * 9_000_000
            else:
                weight = rng.choice((sum(coefficients) or 1, rng.randint(1, 60),
                                     -rng.randint(1, 60), 1, -1))
            arguments = ["kernel", str(size), str(weight)] + [str(c) for c in coefficients]
            cases.append(standard("kernels", f"kernel {size} weight {weight}", seed, picture,
                                  arguments, kernel_action(size, weight, coefficients), i))
    # Sizes the processor refuses, each with its own number and text.
    for size in (4, 11, 1):
        seed = f"{base}:kernel-refused{size}"
        picture = random_picture(random.Random(seed), 12, 12)
        arguments = ["kernel", str(size), "1"] + ["1"] * (size * size)
        cases.append(standard("kernels", f"kernel {size}", seed, picture, arguments,
                              kernel_action(size, 1, [1] * (size * size)), 0))
    return cases


def combine_group(base, n):
    cases = []
    operations = ("lightest", "darkest", "add")
    for op_index, op in enumerate(operations):
        for i in range(n + 2):
            seed = f"{base}:{op}:{i}"
            rng = random.Random(seed)
            w, h = sizes_for(rng, i, op_index)
            target = random_picture(rng, w, h)
            fw, fh = w, h
            if i == n:                        # a larger source: only its bottom-left corner counts
                fw, fh = w + rng.randint(1, 7), h + rng.randint(1, 5)
            elif i == n + 1:                  # a smaller one is refused
                if h > 1 and rng.random() < 0.5:
                    fh = rng.randint(1, h - 1)
                else:
                    w = max(w, 2)
                    target = random_picture(rng, w, h)
                    fw = w - 1
                    while ref.bytes_per_scan_line(fw) >= 3 * w:
                        fw -= 1
            source = partner_picture(rng, target, fw, fh)
            words = [op, "{FROM}"]
            if op == "add":
                multipliers = rng.choice(((-1, 2), (1, 0), (0, 1), (1, 1), (2, -1)))
                if rng.random() < 0.5:
                    multipliers = (rng.randint(-3, 3), rng.randint(-3, 3))
                offsets = [rng.choice((0, rng.randint(-300, 300), rng.randint(-40, 40)))
                           for _ in range(6)]
                if i == 1:
                    multipliers = (rng.choice((1, -1)) * 20_000_000, 1)   # past 32 bits
                numbers = [multipliers[0]] + offsets[:3] + [multipliers[1]] + offsets[3:]
                words += [str(v) for v in numbers]

                def action(p, image, s=source, a=numbers):
                    p.add_images(s.copy(), image, *a)
                    return image
            else:
                def action(p, image, s=source, op=op):
                    (p.add_lightest if op == "lightest" else p.add_darkest)(s.copy(), image)
                    return image
            extra = {"FROM" if i % 2 == 0 else "FROM_PNG": source}
            if "FROM_PNG" in extra:
                words[1] = "{FROM_PNG}"
            cases.append(standard("combine", f"{op} ({fw}x{fh} source)", seed, target,
                                  words, action, i, extra))
    return cases


def tone_group(base, n):
    cases = []
    for i in range(n):
        seed = f"{base}:grayscale:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 0)
        picture = random_picture(rng, w, h)

        def action(p, image):
            p.gray_scale(image)
            return image
        cases.append(standard("tone", "grayscale", seed, picture, ["grayscale"], action, i))
    fixed = [255, 0, 1, 128, 254, 256, -1, 300, -300, 2**31 // 200]
    for i in range(n + len(fixed)):
        seed = f"{base}:fade:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 1)
        amount = fixed[i - n] if i >= n else rng.randint(0, 255)
        high = 254 if amount == 256 and i % 2 == 0 else 255   # 256 succeeds without a 255
        picture = random_picture(rng, w, h, high=high)

        def action(p, image, a=amount):
            p.fade(image, a)
            return image
        cases.append(standard("tone", f"fade {amount}", seed, picture,
                              ["fade", str(amount)], action, i))
    return cases


def hls_group(base, n):
    cases = []
    # Single precision bites on a few pixels in a thousand: odd cases use many colours.
    fixed = [0, -50, -100, 100, 250, 1000, -101, -120, 60, -30]
    for i in range(n + len(fixed)):
        seed = f"{base}:lighten:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 2) if i < len(fixed) + n - 2 else (41, 29)
        amount = fixed[i - n] if i >= n else rng.randint(-100, 300)
        picture = random_picture(rng, w, h, "noise" if i % 2 else None)

        def action(p, image, a=amount):
            p.lighten(image, a)
            return image
        cases.append(standard("hls", f"lighten {amount}", seed, picture,
                              ["lighten", str(amount)], action, i))
    fixed = ["0", "2", "4", "-1", "5", "1.5", "6", "-2.25", "0.9", "3.37"]
    for i in range(n + len(fixed)):
        seed = f"{base}:colourise:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 3) if i < len(fixed) + n - 2 else (41, 29)
        if i >= n:
            hue = fixed[i - n]
        else:
            hue = f"{rng.uniform(-1, 5):.{rng.randint(0, 3)}f}"
        saturation = rng.choice(("0", "0.5", "1", "0.25"))
        picture = random_picture(rng, w, h, "noise" if i % 2 else None)

        def action(p, image, hue=hue, saturation=saturation):
            p.colourise(image, float(hue), float(saturation))
            return image
        cases.append(standard("hls", f"colourise {hue} {saturation}", seed, picture,
                              ["colourise", hue, saturation], action, i))
    return cases


def dither_group(base, n):
    cases = []
    for i in range(n + 2):
        seed = f"{base}:blackwhite:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 4)
        style = rng.choice(("grey", "smooth", "noise", "blocks")) if i < n else "blocks"
        picture = random_picture(rng, w, h, style)
        if i == n:
            picture = random_picture(rng, w, h, "grey", low=120, high=136)

        def action(p, image):
            target = ref.Surface(image.width, image.height)
            p.black_and_white(image, target)
            return target
        cases.append(standard("dither", "blackwhite", seed, picture, ["blackwhite"], action, i))

    def palette_case(i, name, picture, content):
        pal = ref.Palette()

        def action(p, image):
            pal.load_from_bytes(content)
            target = ref.Surface(image.width, image.height)
            p.apply_palette(image, target, pal)
            return target
        return standard("dither", name, seed, picture, ["palette", "{PAL}"], action, i,
                        {"PAL": content})

    for i in range(n + 3):
        seed = f"{base}:palette:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 5)
        picture = random_picture(rng, w, h)
        if i == n:        # every colour of the picture is in the palette: an exact copy
            colours = sorted({picture.pixel(x, y)[::-1] for x in range(w) for y in range(h)})
            rng.shuffle(colours)
            entries = colours
        elif i == n + 1:  # black against white only: the greatest distance still maps
            picture = random_picture(rng, w, h, "levels")
            entries = [(255, 255, 255)]
        elif i == n + 2:
            entries = [(0, 0, 0), (255, 255, 255)]
            picture = random_picture(rng, w, h, "grey", low=100, high=160)
        else:
            entries = [tuple(rng.randint(0, 255) for _ in range(3))
                       for _ in range(rng.randint(1, 40))]
            entries += entries[:rng.randint(0, 2)]    # repeated colours: the lower index wins
        content = palette_file(entries, header=rng.random() < 0.7, trailing=rng.random() < 0.5)
        cases.append(palette_case(i, f"palette of {len(entries)}", picture, content))
    # The file grammar: skipped lines, and loads that fail.
    grammar = [
        ("lines that are no colour", b"JASC-PAL\r\n0100\r\n3\r\n10  20 30\r\n1 2 3 \r\n 4 5 6"
         b"\r\n7 8\r\n200 100 50\r\n0 0 0\r\n\r\n9 9 9 9\r\n"),
        ("LF-only lines", b"10 20 30\n40 50 60\n70 80 90\r\n5 6 7"),
        ("no colour at all", b"JASC-PAL\r\n0100\r\n0\r\n"),
        ("an empty field", b"10 20 30\r\n10 20 \r\n"),
        ("a field that is no number", b"10 20 30\r\n1 two 3\r\n"),
        ("a field past 255", b"10 20 30\r\n10 20 300\r\n"),
    ]
    for k, (name, content) in enumerate(grammar):
        seed = f"{base}:palette-file:{k}"
        picture = random_picture(random.Random(seed), 5 + k, 3 + k % 3)
        case = palette_case(0, f"palette file with {name}", picture, content)
        if name == "no colour at all":
            # Refused with error 9; whether before or after InitProgress is the tool's choice.
            case = reference_case("dither", case.name, seed, case.size, ["palette", "{PAL}"],
                                  {"INPUT": picture, "PAL": content},
                                  Expect(error=ref.ERR_SUBSCRIPT), check_events=False)
        cases.append(case)
    seed = f"{base}:palette-missing"
    picture = random_picture(random.Random(seed), 4, 4)
    cases.append(reference_case("dither", "palette file that is missing", seed, "4x4",
                                ["palette", "/nonexistent/torvo-missing.pal"],
                                {"INPUT": picture}, Expect(error=ref.ERR_FILE_NOT_FOUND, events=[])))
    return cases


def resample_group(base, n):
    cases = []
    shapes = [((1, 1), (3, 2)), ((1, 5), (4, 9)), ((6, 1), (11, 3)), ((1, 7), (1, 3)),
              ((9, 1), (4, 1)), ((2, 2), (4, 4)), ((3, 3), (2, 2)), ((3, 3), (3, 2)),
              ((13, 7), (13, 7)), ((17, 9), (17, 14)), ((1, 1), (1, 1))]
    for i in range(2 * n + len(shapes)):
        seed = f"{base}:resample:{i}"
        rng = random.Random(seed)
        if i < len(shapes):
            (w, h), (nw, nh) = shapes[i]
        else:
            w, h = random_size(rng)
            if rng.random() < 0.5:   # enlarge
                nw, nh = rng.randint(w, 2 * w + 3), rng.randint(h, 2 * h + 3)
            else:                    # shrink
                nw, nh = rng.randint(1, w), rng.randint(1, h)
        picture = random_picture(rng, w, h)

        def action(p, image, nw=nw, nh=nh):
            return ref.resample(image, nh, nw)
        cases.append(standard("resample", f"resample {w}x{h} to {nw}x{nh}", seed, picture,
                              ["resample", str(nw), str(nh)], action, i))
    return cases


def seeded_case(name, seed, picture, words, judge, i):
    """Runs the tool twice with one --seed and once with another; `judge` looks at the runs."""

    def check(ws):
        path = ws.file(".bmp", picture)
        runs = [ws.run(words(s) + [path], out_ext(i))[0] for s in (7, 7, 8)]
        problems = []
        first, again, other = runs
        if first.returncode != 0 or first.output is None:
            return [f"exit status {first.returncode}; stderr: {first.stderr.strip()}"]
        if again.output is None or again.output.pixel_bytes() != first.output.pixel_bytes():
            problems.append("the same --seed gave a different picture")
        if again.events != first.events:
            problems.append("the same --seed gave different events")
        problems += judge(first, other)
        if problems:
            problems.append("command: torvo-image --events " + " ".join(words(7)) + " IN OUT")
        return problems

    return Case("random", name, seed, f"{picture.width}x{picture.height}", check)


def random_group(base, n):
    cases = []
    fixed = [(0, False), (100, True), (150, True), (-100, False), (1, False), (-20, True)]
    for i in range(n + len(fixed)):
        seed = f"{base}:noise:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 6)
        if i >= n:
            percent, random_pixels = fixed[i - n]
        else:
            percent, random_pixels = rng.randint(1, 99), rng.random() < 0.4
        picture = random_picture(rng, w, h)
        band = ref.div(percent * 128, 100)
        half = ref.div(band, 2)
        probe = ref.Processor()
        probe.add_noise(picture.copy(), percent, random_pixels, lambda: 0.5)
        events = event_lines(probe)

        def judge(first, other, picture=picture, band=band, half=half, events=events,
                  percent=percent, random_pixels=random_pixels):
            problems = []
            if first.events != events:
                problems.append(f"events differ: expected {summarise(events)}, "
                                f"got {summarise(first.events)}")
            got = first.output
            if (got.width, got.height) != (picture.width, picture.height):
                return problems + ["output size differs from the input's"]
            unchanged = band == 0 or (random_pixels and percent >= 100)
            for y in range(picture.height):
                for x in range(picture.width):
                    for c, (was, now) in enumerate(zip(picture.pixel(x, y), got.pixel(x, y))):
                        low = ref.clamp(was - half + min(band, 0))
                        high = ref.clamp(was - half + max(band, 0))
                        if unchanged and now != was or not low <= now <= high:
                            return problems + [f"pixel x={x}, scan line {y}, byte {c}: {was} "
                                               f"became {now}, outside {low}..{high}"]
            if (not unchanged and picture.width * picture.height >= 16 and other.output
                    is not None and other.output.pixel_bytes() == got.pixel_bytes()):
                problems.append("--seed 7 and --seed 8 gave the same picture")
            return problems

        def words(s, percent=percent, random_pixels=random_pixels):
            return ["noise", str(percent)] + (["random"] if random_pixels else []) + \
                ["--seed", str(s)]
        cases.append(seeded_case(f"noise {percent}{' random' if random_pixels else ''}",
                                 seed, picture, words, judge, i))
    seed = f"{base}:noise-overflow"
    picture = random_picture(random.Random(seed), 5, 5)
    cases.append(reference_case("random", "noise 16777216", seed, "5x5",
                                ["noise", "16777216", "--seed", "1"], {"INPUT": picture},
                                Expect(error=ref.ERR_OVERFLOW), check_events=False))
    for i in range(n):
        gray = i % 2 == 1
        seed = f"{base}:random:{i}"
        rng = random.Random(seed)
        w, h = sizes_for(rng, i, 7)
        picture = random_picture(rng, w, h)

        def judge(first, other, picture=picture, gray=gray):
            got = first.output
            if (got.width, got.height) != (picture.width, picture.height):
                return ["output size differs from the input's"]
            if first.events:
                return [f"random fill raised events: {summarise(first.events)}"]
            pixels = [got.pixel(x, y) for y in range(got.height) for x in range(got.width)]
            if gray and any(len(set(p)) != 1 for p in pixels):
                return ["a grey fill has a pixel that is not grey"]
            if not gray and any(p[0] != 0 for p in pixels):
                return ["a colour fill has a blue byte that is not 0"]
            if len(pixels) >= 16:
                if other.output is not None and other.output.pixel_bytes() == got.pixel_bytes():
                    return ["--seed 7 and --seed 8 gave the same picture"]
                if not gray and all(p[1] == p[2] for p in pixels):
                    return ["green and red are always equal in a colour fill"]
            return []

        def words(s, gray=gray):
            return ["random"] + (["gray"] if gray else []) + ["--seed", str(s)]
        cases.append(seeded_case(f"random{' gray' if gray else ''}", seed, picture, words,
                                 judge, i))
    return cases


GROUPS = {
    "filters": filters_group,
    "kernels": kernels_group,
    "combine": combine_group,
    "tone": tone_group,
    "hls": hls_group,
    "dither": dither_group,
    "resample": resample_group,
    "random": random_group,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="path of torvo-image")
    parser.add_argument("--only", action="append", choices=sorted(GROUPS),
                        help="run only this group (may be repeated)")
    parser.add_argument("--cases", type=int, default=5, help="random cases per operation")
    parser.add_argument("--seed", default="1", help="base seed of the random pictures")
    parser.add_argument("--match", help="run only the cases whose name contains this text")
    parser.add_argument("--case", help="run only the case with this id (GROUP#NUMBER)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--runner", default="",
                        help="command that runs the tool, with its arguments (Wine for a Windows build)")
    options = parser.parse_args()

    tool = os.path.abspath(options.tool)
    if not os.access(tool, os.X_OK):
        print(f"check_torvo_image: no program at {tool}", file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix="torvo-image-check-")
    ws = Workspace(tool, folder, shlex.split(options.runner))
    passed = failed = 0
    try:
        for group in options.only or sorted(GROUPS):
            for number, case in enumerate(GROUPS[group](options.seed, options.cases)):
                case_id = f"{group}#{number}"
                if options.match and options.match not in case.name:
                    continue
                if options.case and options.case != case_id:
                    continue
                try:
                    problems = case.check(ws)
                except (subprocess.TimeoutExpired, ValueError, OSError) as e:
                    problems = [f"{type(e).__name__}: {e}"]
                if problems:
                    failed += 1
                    print(f"FAIL {case_id}: {case.name}, {case.size}, picture seed {case.seed!r} "
                          f"(again: --seed {options.seed} --cases {options.cases} "
                          f"--case {case_id})")
                    for p in problems:
                        print(f"    {p}")
                else:
                    passed += 1
    finally:
        if options.keep:
            print(f"work folder kept: {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
