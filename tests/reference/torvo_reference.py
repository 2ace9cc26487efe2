#!/usr/bin/env python3
"""A second, deliberately plain reading of the imaging library, pixel by pixel.

Everything here walks the pixels in the library's own order (columns left to right, each column
from the bottom scan line up) with signed 32-bit checked arithmetic and half-even rounding, so
that torvo-image can be compared with it byte for byte. It is slow on purpose: it is a reference.

Run with --self-test to check it against the library's documented worked examples.
"""

import math
import struct
import sys
import traceback

# ---------------------------------------------------------------------------------------------
# Errors and arithmetic

ERR_OVERFLOW = 6
ERR_SUBSCRIPT = 9
ERR_DIVISION_BY_ZERO = 11
ERR_TYPE_MISMATCH = 13
ERR_FILE_NOT_FOUND = 53
ERR_SIZE_NOT_ODD = 0x80040519 - (1 << 32)      # -2147220199
ERR_INVALID_SETTING = 0x8004051A - (1 << 32)   # -2147220198

INT32_MIN = -(1 << 31)
INT32_MAX = (1 << 31) - 1


class RefError(Exception):
    """An error the library raises: its number and, where the library fixes it, its text."""

    def __init__(self, number, description=""):
        super().__init__(f"error {number}: {description}")
        self.number = number
        self.description = description


def i32(value):
    if value < INT32_MIN or value > INT32_MAX:
        raise RefError(ERR_OVERFLOW, "Overflow")
    return value


def add(a, b):
    return i32(a + b)


def sub(a, b):
    return i32(a - b)


def mul(a, b):
    return i32(a * b)


def div(a, b):
    """Integer division, quotient truncated toward zero."""
    if b == 0:
        raise RefError(ERR_DIVISION_BY_ZERO, "Division by zero")
    q = abs(a) // abs(b)
    return i32(q if (a < 0) == (b < 0) else -q)


def round_half_even(value):
    """A double becomes a signed 32-bit integer: nearest, halves to the even neighbour."""
    if not math.isfinite(value):
        raise RefError(ERR_OVERFLOW, "Overflow")
    return i32(round(value))   # Python's round() of a float is half-even


def f32(value):
    """Store a double as single precision (nearest, ties to even)."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return math.copysign(math.inf, value)


def clamp(value, low=0, high=255):
    if value < low:
        return low
    if value > high:
        return high
    return value


# ---------------------------------------------------------------------------------------------
# Surface: 24-bit, bottom-up scan lines, blue green red, scan lines padded to 4 bytes

def bytes_per_scan_line(width):
    return add(mul(3, width), 3) & ~3


class Surface:
    def __init__(self, width, height, fill=0):
        self.width = width
        self.height = height
        self.stride = bytes_per_scan_line(width)
        self.bits = bytearray([fill]) * (self.stride * height)

    def copy(self):
        other = Surface(self.width, self.height)
        other.bits[:] = self.bits
        return other

    # The processor sees the memory as a 2-D byte array (byte column, scan line): any index
    # outside it is a subscript error.
    def get(self, column, line):
        if not (0 <= column < self.stride and 0 <= line < self.height):
            raise RefError(ERR_SUBSCRIPT, "Subscript out of range")
        return self.bits[line * self.stride + column]

    def put(self, column, line, value):
        if not (0 <= column < self.stride and 0 <= line < self.height):
            raise RefError(ERR_SUBSCRIPT, "Subscript out of range")
        if not 0 <= value <= 255:
            raise RefError(ERR_OVERFLOW, "Overflow")   # a byte cannot hold it
        self.bits[line * self.stride + column] = value

    def pixel(self, x, y):
        """(blue, green, red) of pixel x (0 = leftmost) on scan line y (0 = bottom)."""
        o = y * self.stride + 3 * x
        return tuple(self.bits[o:o + 3])

    def set_pixel(self, x, y, bgr):
        o = y * self.stride + 3 * x
        self.bits[o:o + 3] = bytes(bgr)

    def pixel_bytes(self):
        """The picture without the padding of its scan lines."""
        out = bytearray()
        for y in range(self.height):
            o = y * self.stride
            out += self.bits[o:o + 3 * self.width]
        return bytes(out)


def load_picture_blt(destination, source):
    """destination.LoadPictureBlt(source.hdc): the whole source at (0, 0) of the displayed
    picture, that is top-left aligned, clipped to the destination; padding is not copied."""
    width = min(destination.width, source.width)
    height = min(destination.height, source.height)
    for k in range(height):
        s = (source.height - 1 - k) * source.stride
        d = (destination.height - 1 - k) * destination.stride
        destination.bits[d:d + 3 * width] = source.bits[s:s + 3 * width]


# ---------------------------------------------------------------------------------------------
# Resampling

def resample(source, new_height, new_width):
    destination = Surface(new_width, new_height)
    if new_width == source.width and new_height == source.height:
        load_picture_blt(destination, source)
    else:
        resample_into(source, destination)
    return destination


def resample_into(source, destination):
    ws, hs = source.width, source.height
    wd, hd = destination.width, destination.height
    x_scale = f32((ws - 1) / wd)
    y_scale = f32((hs - 1) / hd)
    # A source one pixel wide or high has no second column or row: that one is used twice.
    next_column = 3 if ws > 1 else 0
    next_line = 1 if hs > 1 else 0
    for y in range(hd):
        fy = f32(y_scale * y)
        y0 = math.floor(fy)
        ty = f32(fy - y0)
        for x in range(wd):
            fx = f32(x_scale * x)
            x0 = math.floor(fx)
            tx = f32(fx - x0)
            for k in range(3):
                a = source.get(3 * x0 + k, y0)
                b = source.get(3 * x0 + k, y0 + next_line)
                c = source.get(3 * x0 + next_column + k, y0)
                d = source.get(3 * x0 + next_column + k, y0 + next_line)
                left = round_half_even((1 - ty) * a + ty * b)
                right = round_half_even((1 - ty) * c + ty * d)
                v = round_half_even((1 - tx) * left + tx * right)
                destination.put(3 * x + k, y, clamp(v))


def randomise_bits(surface, gray, draw):
    """Random fill; `draw` gives the generator's next single-precision number in [0, 1)."""
    x_end = 3 * (surface.width - 1)
    if gray:
        for y in range(surface.height):
            for x in range(0, x_end + 1, 3):
                v = round_half_even(255 * draw())
                for c in range(3):
                    surface.put(x + c, y, v)
    else:
        for x in range(0, x_end + 1, 3):
            for y in range(surface.height):
                surface.put(x, y, 0)
                surface.put(x + 1, y, round_half_even(255 * draw()))
                surface.put(x + 2, y, round_half_even(255 * draw()))


# ---------------------------------------------------------------------------------------------
# HLS colour model (single precision where a step stores, double while it computes)

def max_of_3(a, b, c):
    if a > b:
        return a if a > c else c
    return c if b < c else b


def min_of_3(a, b, c):
    if a < b:
        return a if a < c else c
    return c if b > c else b


def rgb_to_hls(red, green, blue):
    r = f32(red / 255)
    g = f32(green / 255)
    b = f32(blue / 255)
    mx = max_of_3(r, g, b)
    mn = min_of_3(r, g, b)
    l = f32((mx + mn) / 2)
    if mx == mn:
        return 0.0, 0.0, l
    if not l > 0.5:
        s = f32((mx - mn) / (mx + mn))
    else:
        s = f32((mx - mn) / (2 - mx - mn))
    d = f32(mx - mn)
    h = 0.0
    if r == mx:
        h = f32((g - b) / d)
    elif g == mx:
        h = f32((b - r) / d + 2)
    elif b == mx:
        h = f32((r - g) / d + 4)
    return h, s, l


def hls_to_rgb(h, s, l):
    if s == 0:
        r = g = b = l
    else:
        if not l > 0.5:
            mn = f32(l * (1 - s))
        else:
            mn = f32(l - (1 - l) * s)
        mx = f32(2 * l - mn)
        e = mx - mn
        if h < 1:
            r = mx
            if h < 0:
                g = mn
                b = f32(mn - h * e)
            else:
                b = mn
                g = f32(mn + h * e)
        elif h < 3:
            g = mx
            if h < 2:
                b = mn
                r = f32(mn - (h - 2) * e)
            else:
                r = mn
                b = f32(mn + (h - 2) * e)
        else:
            b = mx
            if h < 4:
                r = mn
                g = f32(mn - (h - 4) * e)
            else:
                g = mn
                r = f32(mn + (h - 4) * e)
    return round_half_even(r * 255), round_half_even(g * 255), round_half_even(b * 255)


# ---------------------------------------------------------------------------------------------
# Palette

def split_fields(text, delimiter):
    """k delimiters give k + 1 fields, empty ones kept."""
    return text.split(delimiter)


def byte_from_field(field):
    """A colour field: decimal digits 0..255; anything that is no number is a type mismatch."""
    text = field.decode("latin-1")
    digits = text[1:] if text[:1] in ("-", "+") else text
    if not digits or not digits.isascii() or not digits.isdigit():
        raise RefError(ERR_TYPE_MISMATCH, "Type mismatch")
    value = int(text)
    if not 0 <= value <= 255:
        raise RefError(ERR_OVERFLOW, "Overflow")
    return value


class Palette:
    def __init__(self):
        self.entries = []   # (red, green, blue), numbered from 1

    @property
    def count(self):
        return len(self.entries)

    def load_from_bytes(self, data):
        self.entries = []
        try:
            for line in split_fields(data, b"\r\n"):
                fields = split_fields(line, b" ")
                if len(fields) == 3:
                    self.entries.append(tuple(byte_from_field(f) for f in fields))
        except RefError:
            self.entries = []
            raise
        return True

    def load_from_file(self, path):
        self.entries = []
        try:
            with open(path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            raise RefError(ERR_FILE_NOT_FOUND, "File not found")
        return self.load_from_bytes(data)

    def _entry(self, index):
        if not 1 <= index <= len(self.entries):
            raise RefError(ERR_SUBSCRIPT, "Subscript out of range")
        return self.entries[index - 1]

    def red(self, index):
        return self._entry(index)[0]

    def green(self, index):
        return self._entry(index)[1]

    def blue(self, index):
        return self._entry(index)[2]

    def closest_index(self, red, green, blue):
        # The nearest entry always wins, lowest index on ties, even at the greatest distance.
        if not self.entries:
            raise RefError(ERR_SUBSCRIPT, "The palette is empty")
        best_index, best_distance = 0, None
        for i, (er, eg, eb) in enumerate(self.entries, start=1):
            if (er, eg, eb) == (red, green, blue):
                return i
            distance = abs(red - er) + abs(green - eg) + abs(blue - eb)
            if best_distance is None or distance < best_distance:
                best_index, best_distance = i, distance
        return best_index


# ---------------------------------------------------------------------------------------------
# Image processor

def brightness(bgr):
    b, g, r = bgr
    return 222 * r + 707 * g + 71 * b


class Processor:
    """cImageProcessDIB: filter settings, the passes and the whole-image operations.

    Events land in self.events as ("InitProgress", n), ("Progress", n) and ("Complete",).
    """

    def __init__(self):
        self.kernel_size = 0
        self.kernel_half = 0
        self.kernel = None          # kernel[i + half][j + half]
        self.kernel_weight = 0
        self.filter_type = 0
        self.events = []

    # -- events
    def _init_progress(self, last):
        self.events.append(("InitProgress", last))

    def _progress(self, x):
        self.events.append(("Progress", x))

    def _complete(self):
        self.events.append(("Complete",))

    # -- settings
    def set_filter_type(self, e_type):
        if e_type < 1 or e_type > 13:
            raise RefError(ERR_INVALID_SETTING, "Invalid filter types.")
        self.filter_type = e_type
        if e_type != 13:
            self._build_preset_kernel()

    def set_filter_array_size(self, size):
        if size % 2 == 0:
            raise RefError(ERR_SIZE_NOT_ODD, "Size must be an odd number")
        if size < 3 or size > 9:
            raise RefError(ERR_INVALID_SETTING,
                           "Invalid size.  Size should be an odd number from 3 to 9")
        self.kernel_size = size
        self.kernel_half = size // 2
        self.kernel = [[0] * size for _ in range(size)]

    def filter_value(self, i, j):
        h = self.kernel_half
        if self.kernel is None or not (-h <= i <= h and -h <= j <= h):
            raise RefError(ERR_SUBSCRIPT, "Subscript out of range")
        return self.kernel[i + h][j + h]

    def set_filter_value(self, i, j, value):
        self.filter_value(i, j)   # the same bounds
        self.kernel[i + self.kernel_half][j + self.kernel_half] = value

    def _build_preset_kernel(self):
        self.kernel_weight = 0
        t = self.filter_type
        if t in (1, 2, 3, 4, 5, 6, 8):
            size = {1: 3, 2: 5, 3: 3, 4: 5, 5: 3, 6: 3, 8: 3}[t]
            self.set_filter_array_size(size)
            h = self.kernel_half
            for i in range(-h, h + 1):
                for j in range(-h, h + 1):
                    distance = max(abs(i), abs(j))
                    if t in (1, 2):
                        v = 1
                    elif t in (3, 4):
                        v = (round_half_even(size / 2 * size) if distance == 0
                             else h - distance + 1)
                    elif t == 5:
                        v = 15 if distance == 0 else -1
                    elif t == 6:
                        v = 5 if distance == 0 else (-1 if abs(i) + abs(j) == 1 else 0)
                    else:   # 8
                        v = {(-1, -1): -1, (1, 1): 1}.get((i, j), 0)
                    self.set_filter_value(i, j, v)
            if t == 8:
                self.kernel_weight = 1
            else:
                total = 0
                for column in self.kernel:
                    for v in column:
                        total = add(total, v)
                self.kernel_weight = total

    # -- ProcessImage and its passes
    def process_image(self, image, buffer):
        t = self.filter_type
        if t in (1, 2, 3, 4, 5, 6, 13):
            load_picture_blt(buffer, image)
            result = self._convolve_kernel(image, buffer)
            load_picture_blt(image, buffer)
            return result
        if t == 7:
            self.set_filter_type(1)
            load_picture_blt(buffer, image)
            result = self._convolve_kernel(image, buffer)
            self.add_images(buffer, image, -1, 0, 0, 0, 2, 0, 0, 0)
            self.set_filter_type(7)
            return result
        if t == 8:
            load_picture_blt(buffer, image)
            result = self._convolve_kernel(image, buffer)
            self.add_images(buffer, image, 1, 127, 127, 127, 0, 0, 0, 0)
            return result
        if t in (9, 10, 11):
            load_picture_blt(buffer, image)
            result = self._neighbourhood_filter_3x3(image, buffer)
            load_picture_blt(image, buffer)
            return result
        return False

    def _convolve_kernel(self, source, destination):
        h = self.kernel_half
        last = 3 * (source.width - 1 - h)
        self._init_progress(last)
        for x in range(3 * h, last + 1, 3):
            for y in range(h, source.height - 1 - h + 1):
                sums = [0, 0, 0]
                for i in range(-h, h + 1):
                    for j in range(-h, h + 1):
                        coefficient = self.filter_value(i, j)
                        for c in range(3):
                            sums[c] = add(sums[c],
                                          mul(source.get(x + 3 * i + c, y + j), coefficient))
                values = [clamp(div(s, self.kernel_weight)) for s in sums]
                for c in range(3):
                    destination.put(x + c, y, values[c])
            self._progress(x)
        self._complete()
        return True

    def _neighbourhood_filter_3x3(self, source, destination):
        last = 3 * (source.width - 2)
        self._init_progress(last)
        t = self.filter_type
        for x in range(3, last + 1, 3):
            for y in range(1, source.height - 2 + 1):
                acc = [255 if t == 10 else 0] * 3
                for i in range(-1, 2):
                    for j in range(-1, 2):
                        for c in range(3):
                            v = source.get(x + 3 * i + c, y + j)
                            if t == 9:
                                acc[c] = add(acc[c], v)
                            elif t == 10:
                                if v < acc[c]:
                                    acc[c] = v
                            elif t == 11:
                                if v > acc[c]:
                                    acc[c] = v
                if t == 9:
                    acc = [div(a, 9) for a in acc]
                for c in range(3):
                    destination.put(x + c, y, clamp(acc[c]))
            self._progress(x)
        self._complete()
        return True

    # -- combining two images (no events)
    def _combine_by_brightness(self, source, target, take):
        for x in range(0, 3 * (target.width - 1) + 1, 3):
            for y in range(target.height):
                frm = tuple(source.get(x + c, y) for c in range(3))
                to = tuple(target.get(x + c, y) for c in range(3))
                if take(brightness(frm), brightness(to)):
                    for c in range(3):
                        target.put(x + c, y, frm[c])

    def add_lightest(self, source, target):
        # Keeps the lighter pixel; on equal brightness the target keeps its own.
        self._combine_by_brightness(source, target, lambda f, t: f > t)

    def add_darkest(self, source, target):
        self._combine_by_brightness(source, target, lambda f, t: f < t)

    def add_images(self, source, target, from_multiplier, from_r, from_g, from_b,
                   to_multiplier, to_r, to_g, to_b):
        # Byte 0 is blue, byte 2 red: each offset goes to the channel it names.
        from_offsets = (from_b, from_g, from_r)
        to_offsets = (to_b, to_g, to_r)
        for x in range(0, 3 * (target.width - 1) + 1, 3):
            for y in range(target.height):
                values = []
                for c in range(3):
                    f = source.get(x + c, y)
                    t = target.get(x + c, y)
                    v = add(mul(add(f, from_offsets[c]), from_multiplier),
                            mul(add(t, to_offsets[c]), to_multiplier))
                    values.append(clamp(v))
                for c in range(3):
                    target.put(x + c, y, values[c])
        return False

    # -- one-surface operations
    def _columns(self, surface):
        last = 3 * (surface.width - 1)
        self._init_progress(last)
        return range(0, last + 1, 3)

    def gray_scale(self, target):
        for x in self._columns(target):
            for y in range(target.height):
                b, g, r = (target.get(x + c, y) for c in range(3))
                v = round_half_even((707 * g + 222 * r + 71 * b) / 1000)
                for c in range(3):
                    target.put(x + c, y, v)
            self._progress(x)
        self._complete()

    def fade(self, target, amount):
        for x in self._columns(target):
            for y in range(target.height):
                values = [div(mul(target.get(x + c, y), amount), 255) for c in range(3)]
                for c in range(3):
                    target.put(x + c, y, values[c])
            self._progress(x)
        self._complete()

    def lighten(self, target, amount):
        for x in self._columns(target):
            for y in range(target.height):
                b, g, r = (target.get(x + c, y) for c in range(3))
                h, s, l = rgb_to_hls(r, g, b)
                l = f32(l * (amount / 100 + 1))
                if l > 1:
                    l = 1.0
                red, green, blue = hls_to_rgb(h, s, l)
                target.put(x, y, blue)
                target.put(x + 1, y, green)
                target.put(x + 2, y, red)
            self._progress(x)
        self._complete()

    def colourise(self, target, hue, saturation):
        hue = f32(hue)
        for x in self._columns(target):
            for y in range(target.height):
                b, g, r = (target.get(x + c, y) for c in range(3))
                h, s, l = rgb_to_hls(r, g, b)
                if h == 0:
                    s = 0.5
                red, green, blue = hls_to_rgb(hue, s, l)
                target.put(x, y, blue)
                target.put(x + 1, y, green)
                target.put(x + 2, y, red)
            self._progress(x)
        self._complete()

    def add_noise(self, target, percent, random_pixels, draw):
        """`draw` gives the generator's next number; the generator itself is the tool's."""
        band = div(mul(percent, 128), 100)
        half_band = div(band, 2)
        for x in self._columns(target):
            for y in range(target.height):
                if random_pixels and not draw() * 100 > percent:
                    continue
                values = []
                for c in range(3):
                    u = draw()
                    v = target.get(x + c, y)
                    values.append(clamp(round_half_even(u * band + sub(v, half_band))))
                for c in range(3):
                    target.put(x + c, y, values[c])
            self._progress(x)
        self._complete()

    # -- error diffusion
    def black_and_white(self, source, target):
        self.gray_scale(source)
        x_max = 3 * (target.width - 1)
        y_max = target.height - 1
        self._init_progress(x_max)

        def spread(column, line, share):
            n = clamp(source.get(column, line) + share)
            for c in range(3):
                source.put(column + c, line, n)

        for x in range(0, x_max + 1, 3):
            for y in range(y_max + 1):
                v = source.get(x, y)
                if v <= 128:
                    for c in range(3):
                        target.put(x + c, y, 0)
                    e = v if v >= 17 else 0
                else:
                    for c in range(3):
                        target.put(x + c, y, 255)
                    e = 127 - v
                if x < x_max - 3:
                    spread(x + 3, y, div(e * 7, 16))
                if y < y_max:
                    for j, w in ((-3, 3), (0, 5), (3, 1)):
                        if 0 < x + j < x_max:
                            spread(x + j, y + 1, div(e * w, 16))
            self._progress(x)
        load_picture_blt(source, target)
        self._complete()

    def apply_palette(self, source, target, palette):
        x_max = 3 * (target.width - 1)
        y_max = target.height - 1
        self._init_progress(x_max)

        def spread(column, line, errors, weight):
            for c in range(3):   # blue, green, red
                v = clamp(source.get(column + c, line) + div(errors[c] * weight, 16))
                source.put(column + c, line, v)

        for x in range(0, x_max + 1, 3):
            for y in range(y_max + 1):
                b, g, r = (source.get(x + c, y) for c in range(3))
                i = palette.closest_index(r, g, b)
                target.put(x + 2, y, palette.red(i))
                target.put(x + 1, y, palette.green(i))
                target.put(x, y, palette.blue(i))
                errors = (b - target.get(x, y), g - target.get(x + 1, y),
                          r - target.get(x + 2, y))
                if sum(abs(e) for e in errors) <= 3:
                    continue
                if x < x_max - 3:
                    spread(x + 3, y, errors, 7)
                if y < y_max:
                    for j, w in ((-3, 0), (0, 4), (3, 0)):
                        if 0 < x + j < x_max:
                            spread(x + j, y + 1, errors, w)
            self._progress(x)
        load_picture_blt(source, target)
        self._complete()


# ---------------------------------------------------------------------------------------------
# Self-test against the worked examples

def _surface_from_rows(rows, channel=None):
    """rows: bottom scan line first; each value a (b, g, r) triple, or one number put into
    `channel` (0..2) with the other two bytes 0, or into all three when channel is None."""
    height = len(rows)
    width = len(rows[0]) if rows else 0
    s = Surface(width, height)
    for y, row in enumerate(rows):
        for x, v in enumerate(row):
            if isinstance(v, tuple):
                s.set_pixel(x, y, v)
            elif channel is None:
                s.set_pixel(x, y, (v, v, v))
            else:
                bgr = [0, 0, 0]
                bgr[channel] = v
                s.set_pixel(x, y, bgr)
    return s


def _channel_rows(surface, channel=0):
    return [[surface.pixel(x, y)[channel] for x in range(surface.width)]
            for y in range(surface.height)]


def _uniform(width, height, bgr):
    s = Surface(width, height)
    for y in range(height):
        for x in range(width):
            s.set_pixel(x, y, bgr)
    return s


def _raises(number, fn, *args):
    try:
        fn(*args)
    except RefError as e:
        assert e.number == number, f"raised {e.number}, expected {number}"
        return e
    raise AssertionError(f"no error {number} raised")


def _events_of(processor):
    return [" ".join(str(p) for p in ev) for ev in processor.events]


def _self_tests():
    tests = []

    def test(fn):
        tests.append(fn)
        return fn

    @test
    def scan_line_lengths():
        assert [bytes_per_scan_line(w) for w in (1, 2, 3, 4, 5)] == [4, 8, 12, 12, 16]
        assert bytes_per_scan_line(300) == 900
        _raises(ERR_OVERFLOW, bytes_per_scan_line, 715827882)

    @test
    def resample_tables():
        src = _surface_from_rows([[0, 100], [200, 255]], channel=0)
        got = _channel_rows(resample(src, 4, 4))
        assert got == [[0, 25, 50, 75], [50, 72, 94, 117], [100, 120, 139, 158],
                       [150, 166, 183, 200]], got
        src = _surface_from_rows([[0, 5], [5, 0]], channel=0)
        assert _channel_rows(resample(src, 4, 4))[0] == [0, 1, 2, 4]
        src = _surface_from_rows([[10, 20, 30], [40, 50, 60], [70, 80, 90]], channel=0)
        assert _channel_rows(resample(src, 2, 2)) == [[10, 20], [40, 50]]
        got = _channel_rows(resample(src, 2, 3))
        assert got == [[10, 17, 23], [40, 47, 53]], got
        same = resample(src, 3, 3)
        assert same.pixel_bytes() == src.pixel_bytes()
        r = resample(src, 5, 7)
        assert (r.width, r.height) == (7, 5)

    @test
    def resample_single_column_and_row():
        column = _surface_from_rows([[10], [30], [50]], channel=1)
        out = resample(column, 4, 3)
        for y in range(4):
            row = [out.pixel(x, y)[1] for x in range(3)]
            assert len(set(row)) == 1, row   # the one column is used for both neighbours
        row = _surface_from_rows([[0, 90, 180]], channel=2)
        out = resample(row, 2, 3)
        assert _channel_rows(out, 2) == [[0, 60, 120], [0, 60, 120]], _channel_rows(out, 2)
        one = _surface_from_rows([[(1, 2, 3)]])
        out = resample(one, 2, 3)
        assert all(out.pixel(x, y) == (1, 2, 3) for x in range(3) for y in range(2))

    @test
    def random_fill_shape():
        seq = iter([i / 17 % 1 for i in range(1000)])
        s = Surface(3, 2, fill=7)
        randomise_bits(s, True, lambda: f32(next(seq)))
        assert all(len(set(s.pixel(x, y))) == 1 for x in range(3) for y in range(2))
        s = Surface(1, 2, fill=7)
        randomise_bits(s, False, lambda: f32(next(seq)))
        assert all(s.pixel(0, y)[0] == 0 for y in range(2))
        assert s.bits[3] == 7 and s.bits[7] == 7   # padding untouched

    @test
    def preset_table():
        p = Processor()
        p.set_filter_type(5)
        assert (p.kernel_size, p.kernel_weight) == (3, 7)
        assert p.filter_value(0, 0) == 15 and p.filter_value(-1, 1) == -1
        p.set_filter_type(3)
        assert p.filter_value(0, 0) == 4 and p.kernel_weight == 12
        p.set_filter_type(4)
        assert (p.filter_value(0, 0), p.filter_value(1, -1), p.filter_value(2, -1)) == (12, 2, 1)
        assert p.kernel_weight == 44
        p.set_filter_type(6)
        assert (p.filter_value(1, 1), p.filter_value(0, -1), p.kernel_weight) == (0, -1, 1)
        p.set_filter_type(8)
        assert (p.filter_value(-1, -1), p.filter_value(1, 1), p.filter_value(1, -1)) == (-1, 1, 0)
        assert p.kernel_weight == 1
        p.set_filter_type(1)
        assert p.kernel_weight == 9
        p.set_filter_type(2)
        assert (p.kernel_size, p.kernel_weight) == (5, 25)
        p.set_filter_type(5)
        p.set_filter_type(9)
        assert p.kernel_weight == 0 and p.kernel_size == 3 and p.filter_value(0, 0) == 15
        p.set_filter_type(5)
        p.set_filter_type(13)
        assert p.kernel_weight == 7 and p.filter_value(1, 1) == -1

    @test
    def settings_errors():
        p = Processor()
        assert p.process_image(Surface(3, 3), Surface(3, 3)) is False and p.events == []
        _raises(ERR_SUBSCRIPT, p.filter_value, 0, 0)
        p.set_filter_type(5)
        for bad in (0, 14):
            e = _raises(ERR_INVALID_SETTING, p.set_filter_type, bad)
            assert e.description == "Invalid filter types."
        assert p.filter_type == 5
        for bad in (4, 0, -2):
            e = _raises(ERR_SIZE_NOT_ODD, p.set_filter_array_size, bad)
            assert e.description == "Size must be an odd number"
        for bad in (1, 11, -3):
            e = _raises(ERR_INVALID_SETTING, p.set_filter_array_size, bad)
            assert e.description == "Invalid size.  Size should be an odd number from 3 to 9"
        p.set_filter_array_size(7)
        assert p.kernel_weight == 7 and p.filter_value(3, -3) == 0

    @test
    def sharpen_examples():
        p = Processor()
        p.set_filter_type(5)
        flat = _uniform(6, 5, (9, 100, 200))
        img, buf = flat.copy(), Surface(6, 5)
        assert p.process_image(img, buf) is True
        assert img.pixel_bytes() == flat.pixel_bytes() == buf.pixel_bytes()
        dot = _uniform(5, 5, (0, 0, 0))
        dot.set_pixel(2, 2, (255, 255, 255))
        img = dot.copy()
        p.process_image(img, Surface(5, 5))
        assert img.pixel_bytes() == dot.pixel_bytes()
        for size, first in ((1, -3), (2, 0)):
            p.events = []
            img = _uniform(size, size, (1, 2, 3))
            assert p.process_image(img, Surface(size, size)) is True
            assert _events_of(p) == [f"InitProgress {first}", "Complete"]
            assert img.pixel_bytes() == _uniform(size, size, (1, 2, 3)).pixel_bytes()
        # -13 / 7 is -1, clamped to 0; 1793 / 7 is 256, clamped to 255.
        img = _uniform(3, 3, (0, 0, 0))
        img.set_pixel(0, 0, (13, 0, 0))
        img.set_pixel(1, 1, (0, 120, 0))
        img.set_pixel(1, 0, (0, 7, 0))
        p.process_image(img, Surface(3, 3))
        assert img.pixel(1, 1) == (0, 255, 0), img.pixel(1, 1)

    @test
    def emboss_and_unsharp_examples():
        p = Processor()
        p.set_filter_type(8)
        for v in (0, 100, 200):
            img = _uniform(5, 4, (v, v, v))
            p.process_image(img, Surface(5, 4))
            for y in range(4):
                for x in range(5):
                    frame = x in (0, 4) or y in (0, 3)
                    want = min(v + 127, 255) if frame else 127
                    assert img.pixel(x, y) == (want,) * 3, (v, x, y, img.pixel(x, y))
        # Preset 8 adds the upper-right neighbour and takes the lower-left one away.
        img = _uniform(3, 3, (0, 0, 0))
        img.set_pixel(2, 2, (50, 0, 0))
        img.set_pixel(0, 0, (0, 40, 0))
        p.process_image(img, Surface(3, 3))
        assert img.pixel(1, 1) == (177, 127, 127), img.pixel(1, 1)
        picture = Surface(7, 6)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 37 + 11) % 256
        p.set_filter_type(7)
        img, buf = picture.copy(), Surface(7, 6)
        assert p.process_image(img, buf) is True
        assert p.kernel_weight == 0 and p.kernel_size == 3 and p.filter_type == 7
        q = Processor()
        q.set_filter_type(1)
        blurred = picture.copy()
        q.process_image(blurred, Surface(7, 6))
        assert buf.pixel_bytes() == blurred.pixel_bytes()
        for k in range(len(img.bits)):
            y, c = divmod(k, img.stride)
            if c < 21:
                want = clamp(2 * picture.bits[k] - blurred.bits[k])
                assert img.bits[k] == want

    @test
    def neighbourhood_examples():
        picture = Surface(6, 5)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 53 + 5) % 256
        outs = []
        for t in (1, 9):
            p = Processor()
            p.set_filter_type(t)
            img = picture.copy()
            p.process_image(img, Surface(6, 5))
            outs.append(img.pixel_bytes())
        assert outs[0] == outs[1]
        for t, background, dot, square in ((10, 255, 0, True), (11, 255, 0, False),
                                           (11, 0, 255, True), (10, 0, 255, False)):
            img = _uniform(7, 7, (background,) * 3)
            img.set_pixel(3, 3, (dot,) * 3)
            p = Processor()
            p.set_filter_type(t)
            p.process_image(img, Surface(7, 7))
            for y in range(7):
                for x in range(7):
                    inside = square and abs(x - 3) <= 1 and abs(y - 3) <= 1
                    assert img.pixel(x, y) == ((dot if inside else background),) * 3
        p = Processor()
        p.set_filter_type(10)
        p.process_image(Surface(2, 9), Surface(2, 9))
        assert _events_of(p) == ["InitProgress 0", "Complete"]
        p.events = []
        p.process_image(Surface(4, 2), Surface(4, 2))
        assert _events_of(p) == ["InitProgress 6", "Progress 3", "Progress 6", "Complete"]

    @test
    def custom_kernel_examples():
        picture = Surface(5, 4)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 29 + 3) % 256

        def run(coefficients, weight):
            p = Processor()
            p.set_filter_array_size(3)
            for (i, j), v in coefficients.items():
                p.set_filter_value(i, j, v)
            p.kernel_weight = weight
            p.set_filter_type(13)
            img = picture.copy()
            assert p.process_image(img, Surface(5, 4)) is True
            return img

        assert run({(0, 0): 1}, 1).pixel_bytes() == picture.pixel_bytes()
        assert run({(0, 0): -1}, -1).pixel_bytes() == picture.pixel_bytes()
        black = run({(0, 0): 1}, -1)
        shifted = run({(1, 0): 1}, 1)
        for y in range(4):
            for x in range(5):
                interior = 1 <= x <= 3 and 1 <= y <= 2
                assert black.pixel(x, y) == ((0, 0, 0) if interior else picture.pixel(x, y))
                want = picture.pixel(x + 1, y) if interior else picture.pixel(x, y)
                assert shifted.pixel(x, y) == want
        p = Processor()
        p.set_filter_array_size(3)
        p.set_filter_type(13)
        img = picture.copy()
        _raises(ERR_DIVISION_BY_ZERO, p.process_image, img, Surface(5, 4))
        assert _events_of(p) == ["InitProgress 9"] and img.pixel_bytes() == picture.pixel_bytes()
        p = Processor()
        p.set_filter_type(13)
        _raises(ERR_SUBSCRIPT, p.process_image, picture.copy(), Surface(5, 4))
        p = Processor()
        p.set_filter_array_size(3)
        p.set_filter_value(0, 0, INT32_MAX // 100)
        p.kernel_weight = 1
        p.set_filter_type(13)
        _raises(ERR_OVERFLOW, p.process_image, picture.copy(), Surface(5, 4))

    @test
    def combining_examples():
        p = Processor()
        white, black = _uniform(2, 2, (255,) * 3), _uniform(2, 2, (0,) * 3)
        for method, to, frm, want in ((p.add_lightest, white, black, white),
                                      (p.add_lightest, black, white, white),
                                      (p.add_darkest, white, black, black),
                                      (p.add_darkest, black, white, black)):
            target = to.copy()
            method(frm, target)
            assert target.pixel_bytes() == want.pixel_bytes()
        red71, blue222 = _uniform(2, 1, (0, 0, 71)), _uniform(2, 1, (222, 0, 0))
        for method in (p.add_lightest, p.add_darkest):
            target = red71.copy()
            method(blue222, target)
            assert target.pixel_bytes() == red71.pixel_bytes()
        picture = Surface(3, 2)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 71 + 9) % 256
        target = picture.copy()
        p.add_images(_uniform(3, 2, (200, 1, 50)), target, 0, 0, 0, 0, 1, 0, 0, 0)
        assert target.pixel_bytes() == picture.pixel_bytes()
        target = picture.copy()
        assert p.add_images(picture, target, -1, 0, 0, 0, 2, 0, 0, 0) is False
        assert target.pixel_bytes() == picture.pixel_bytes()
        target = _uniform(1, 1, (10, 10, 10))
        p.add_images(_uniform(1, 1, (21, 20, 19)), target, -1, 0, 0, 0, 2, 0, 0, 0)
        assert target.pixel(0, 0) == (0, 0, 1)
        target = picture.copy()
        p.add_images(picture, target, 1, 5, 0, 0, 0, 0, 0, 0)   # only the red offset
        for y in range(2):
            for x in range(3):
                b, g, r = picture.pixel(x, y)
                assert target.pixel(x, y) == (b, g, min(r + 5, 255))
        target = picture.copy()
        p.add_images(target, target, 2, 1, 2, 3, -1, 0, 0, 4)
        b, g, r = picture.pixel(0, 0)
        assert target.pixel(0, 0) == (clamp((b + 3) * 2 - (b + 4)), clamp((g + 2) * 2 - g),
                                      clamp((r + 1) * 2 - r))
        short = Surface(2, 1)
        target = _uniform(2, 2, (1, 1, 1))
        _raises(ERR_SUBSCRIPT, p.add_lightest, _uniform(2, 1, (200, 200, 200)), target)
        assert target.pixel(0, 0) == (200, 200, 200) and target.pixel(0, 1) == (1, 1, 1)
        _raises(ERR_OVERFLOW, p.add_images, short, _uniform(2, 1, (255, 255, 255)),
                0, 0, 0, 0, 9000000, 0, 0, 0)
        empty = Surface(0, 3)
        p.add_darkest(white, empty)
        assert p.events == []

    @test
    def grey_and_fade_examples():
        p = Processor()
        for bgr, want in (((0, 0, 255), 57), ((0, 255, 0), 180), ((255, 0, 0), 18),
                          ((255, 255, 255), 255), ((128, 128, 128), 128),
                          ((19, 1, 2), 2), ((18, 0, 1), 2)):
            s = _uniform(1, 1, bgr)
            p.gray_scale(s)
            assert s.pixel(0, 0) == (want,) * 3, (bgr, s.pixel(0, 0))
        picture = Surface(5, 3)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 91 + 1) % 256
        once = picture.copy()
        p.gray_scale(once)
        twice = once.copy()
        p.gray_scale(twice)
        assert once.pixel_bytes() == twice.pixel_bytes()
        for amount, v, want in ((255, 77, 77), (0, 200, 0), (128, 255, 128), (128, 1, 0),
                                (256, 254, 254), (-1, 254, 0)):
            s = _uniform(1, 1, (v, v, v))
            p.fade(s, amount)
            assert s.pixel(0, 0) == (want,) * 3
        s = _uniform(2, 2, (254, 10, 0))
        s.set_pixel(1, 0, (3, 255, 4))
        p.events = []
        _raises(ERR_OVERFLOW, p.fade, s, 256)
        assert _events_of(p) == ["InitProgress 3", "Progress 0"]
        assert s.pixel(1, 0) == (3, 255, 4)
        p.events = []
        p.gray_scale(Surface(0, 4))
        assert _events_of(p) == ["InitProgress -3", "Complete"]

    @test
    def hls_examples():
        for red, green, blue, h in ((255, 0, 0, 0), (0, 255, 0, 2), (0, 0, 255, 4),
                                    (255, 255, 0, 1), (0, 255, 255, 3), (255, 0, 255, -1)):
            assert rgb_to_hls(red, green, blue) == (h, 1, 0.5), (red, green, blue)
        for v in (0, 1, 77, 128, 255):
            h, s, l = rgb_to_hls(v, v, v)
            assert (h, s) == (0, 0)
        assert rgb_to_hls(0, 0, 0)[2] == 0 and rgb_to_hls(255, 255, 255)[2] == 1
        assert hls_to_rgb(0, 1, 0.5) == (255, 0, 0)
        assert hls_to_rgb(3.5, 0, 0.5) == (128, 128, 128)
        # A sample of the colour cube goes there and back unchanged.
        for red in range(0, 256, 15):
            for green in range(0, 256, 5):
                for blue in range(1, 256, 7):
                    assert hls_to_rgb(*rgb_to_hls(red, green, blue)) == (red, green, blue)

    @test
    def lighten_and_colourise_examples():
        p = Processor()

        def one(method, bgr, *args):
            s = _uniform(1, 1, bgr)
            method(s, *args)
            return s.pixel(0, 0)

        assert one(p.lighten, (255, 255, 255), -50) == (128, 128, 128)
        assert one(p.lighten, (30, 200, 90), -100) == (0, 0, 0)
        for amount in (0, 1, 100, 500):
            assert one(p.lighten, (0, 0, 0), amount) == (0, 0, 0)
            assert one(p.lighten, (255, 255, 255), amount) == (255, 255, 255)
        assert one(p.lighten, (30, 200, 90), 0) == (30, 200, 90)
        _raises(ERR_OVERFLOW, one, p.lighten, (30, 200, 90), -101)
        assert one(p.colourise, (0, 0, 255), 2, 0) == (64, 191, 64)
        assert one(p.colourise, (0, 255, 0), 0, 0) == (0, 0, 255)
        assert one(p.colourise, (0, 0, 0), 4, 0) == (0, 0, 0)
        assert one(p.colourise, (255, 255, 255), 4, 0) == (255, 255, 255)
        b, g, r = one(p.colourise, (100, 100, 100), 4, 1)
        assert b > g == r and abs(b + r - 200) <= 1, (b, g, r)   # blue at saturation 0.5
        _raises(ERR_OVERFLOW, one, p.colourise, (128, 128, 128), 6, 0)

    @test
    def noise_examples():
        p = Processor()
        s = _uniform(2, 1, (0, 100, 255))
        draws = iter([0.75, 0.25, 0.5, 0.6, 0.9, 0.1])
        p.add_noise(s, 1, False, lambda: next(draws))
        assert s.pixel(0, 0) == (1, 100, 255) and s.pixel(1, 0) == (1, 101, 255)
        s = _uniform(3, 2, (40, 50, 60))
        p.add_noise(s, 0, False, lambda: 0.999)
        assert s.pixel_bytes() == _uniform(3, 2, (40, 50, 60)).pixel_bytes()
        p.add_noise(s, 100, True, lambda: 0.999)
        assert s.pixel_bytes() == _uniform(3, 2, (40, 50, 60)).pixel_bytes()
        p.add_noise(s, 50, False, lambda: 0.0)     # band 64, half band 32
        assert s.pixel(0, 0) == (8, 18, 28)
        _raises(ERR_OVERFLOW, p.add_noise, s, 16777216, False, lambda: 0.5)

    @test
    def palette_file_grammar():
        pal = Palette()
        assert pal.load_from_bytes(b"") and pal.count == 0
        pal.load_from_bytes(b"JASC-PAL\r\n0100\r\n2\r\n10 20 30\r\n1 2 3\r\n")
        assert pal.entries == [(10, 20, 30), (1, 2, 3)]
        pal.load_from_bytes(b"10 20 30\r\n1 2 3")
        assert pal.entries == [(10, 20, 30), (1, 2, 3)]
        pal.load_from_bytes(b"10  20 30\r\n10 20 30 \r\n 1 2 3\r\n4 5\r\n7 8 9")
        assert pal.entries == [(7, 8, 9)]
        pal.load_from_bytes(b"10 20 30\n40 50 60\n")
        assert pal.count == 0
        pal.load_from_bytes(b"1 1 1")
        _raises(ERR_TYPE_MISMATCH, pal.load_from_bytes, b"10 20 ")
        assert pal.count == 0
        _raises(ERR_TYPE_MISMATCH, pal.load_from_bytes, b"1 x 3")
        _raises(ERR_OVERFLOW, pal.load_from_bytes, b"10 20 300")
        _raises(ERR_FILE_NOT_FOUND, pal.load_from_file, "/nonexistent/torvo.pal")
        pal.load_from_bytes(b"9 9 9\r\n1 1 1\r\n9 9 9\r\n3 3 3")
        assert pal.closest_index(9, 9, 9) == 1 and pal.closest_index(2, 2, 2) == 2
        _raises(ERR_SUBSCRIPT, pal.red, 0)
        _raises(ERR_SUBSCRIPT, pal.red, pal.count + 1)
        pal.load_from_bytes(b"255 255 255")
        assert pal.closest_index(0, 0, 0) == 1   # the greatest distance still finds it
        _raises(ERR_SUBSCRIPT, Palette().closest_index, 0, 0, 0)

    @test
    def black_and_white_examples():
        p = Processor()
        for v, want in ((0, 0), (255, 255), (128, 0), (129, 255), (16, 0)):
            src, dst = _uniform(1, 1, (v, v, v)), Surface(1, 1)
            p.black_and_white(src, dst)
            assert dst.pixel(0, 0) == (want,) * 3 and src.pixel_bytes() == dst.pixel_bytes()
        for v in list(range(129, 256, 9)) + [255] + list(range(0, 17, 4)):
            src, dst = _uniform(8, 7, (v, v, v)), Surface(8, 7)
            p.black_and_white(src, dst)
            want = 255 if v >= 129 else 0
            assert set(dst.pixel_bytes()) == {want}, v
        for v, edge in ((128, 0), (129, 255)):
            src, dst = _uniform(6, 5, (v, v, v)), Surface(6, 5)
            p.black_and_white(src, dst)
            for y in range(5):
                assert dst.pixel(0, y)[0] == edge and dst.pixel(5, y)[0] == edge
            if v == 128:
                inner = {dst.pixel(x, y)[0] for x in range(1, 5) for y in range(5)}
                assert inner == {0, 255}, inner
        p.events = []
        p.black_and_white(_uniform(3, 1, (5, 5, 5)), Surface(3, 1))
        seq = ["InitProgress 6", "Progress 0", "Progress 3", "Progress 6", "Complete"]
        assert _events_of(p) == seq + seq

    @test
    def palette_mapping_examples():
        p = Processor()
        picture = Surface(4, 3)
        for k in range(len(picture.bits)):
            picture.bits[k] = (k * 43) % 7 * 30
        pal = Palette()
        colours = sorted({picture.pixel(x, y)[::-1] for x in range(4) for y in range(3)})
        pal.entries = list(colours)
        src, dst = picture.copy(), Surface(4, 3)
        p.apply_palette(src, dst, pal)
        assert dst.pixel_bytes() == picture.pixel_bytes() == src.pixel_bytes()
        pal.entries = [(255, 255, 255)]
        src, dst = _uniform(3, 3, (0, 0, 0)), Surface(3, 3)
        p.apply_palette(src, dst, pal)
        assert set(dst.pixel_bytes()) == {255}
        pal.entries = [(0, 0, 0), (0, 9, 0)]
        for off, above in ((3, (0, 0, 0)), (4, (0, 9, 0))):
            # An error of 3 stays put; 4 sends 4 * 4 / 16 = 1 up, which tips (0, 4, 0) over.
            src = _uniform(3, 2, (0, 0, 0))
            src.set_pixel(1, 0, (0, off, 0))
            src.set_pixel(1, 1, (0, 4, 0))
            dst = Surface(3, 2)
            p.apply_palette(src, dst, pal)
            assert dst.pixel(1, 1) == above[::-1], (off, dst.pixel(1, 1))
        pal.entries = [(0, 0, 0), (255, 255, 255)]
        src, dst = _uniform(6, 5, (128, 128, 128)), Surface(6, 5)
        p.apply_palette(src, dst, pal)
        inner = {dst.pixel(x, y)[0] for x in range(1, 5) for y in range(5)}
        assert inner == {0, 255}, inner
        # 128 lies nearer to white; the edge columns take no diffused error.
        assert all(dst.pixel(x, y) == (255,) * 3 for x in (0, 5) for y in range(5))
        p.events = []
        _raises(ERR_SUBSCRIPT, p.apply_palette, _uniform(2, 2, (1, 1, 1)), Surface(2, 2),
                Palette())
        assert _events_of(p) == ["InitProgress 3"]

    passed = failed = 0
    for fn in tests:
        try:
            fn()
            passed += 1
        except Exception:   # report every failing example, not just the first
            failed += 1
            print(f"FAIL {fn.__name__}")
            traceback.print_exc(file=sys.stdout)
    print(f"{passed} passed, {failed} failed")
    return failed == 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(0 if _self_tests() else 1)
    print("usage: torvo_reference.py --self-test", file=sys.stderr)
    sys.exit(2)
