"""Prints what a player reads from an animated GIF file, on one line:

    800x500 frames=21 loop=0 delays=36,36,...

the logical screen size, the number of images, the NETSCAPE2.0 loop count (0: for ever;
"none" when the file does not loop) and the delay before each image, in hundredths of a
second. Exits with status 1 and a message when the file is not a well-formed GIF.
"""

import struct
import sys


def sub_blocks(data, at):
    """The bytes of the data sub-blocks starting at offset at, and the offset after them."""
    chunks = []
    while True:
        size = data[at]
        at += 1
        if size == 0:
            return b"".join(chunks), at
        chunks.append(data[at:at + size])
        at += size


def facts(data):
    if data[:6] not in (b"GIF87a", b"GIF89a"):
        raise ValueError("no GIF signature")
    width, height, packed = struct.unpack_from("<HHB", data, 6)
    at = 13
    if packed & 0x80:
        at += 3 << ((packed & 7) + 1)
    frames, delays, loop, delay = 0, [], "none", 0
    while True:
        introducer = data[at]
        if introducer == 0x3B:
            return f"{width}x{height} frames={frames} loop={loop} delays=" + ",".join(delays)
        if introducer == 0x21:
            label = data[at + 1]
            body, at = sub_blocks(data, at + 2)
            if label == 0xF9:
                delay = struct.unpack_from("<H", body, 1)[0]
            elif label == 0xFF and body.startswith(b"NETSCAPE2.0") and body[11] == 1:
                loop = struct.unpack_from("<H", body, 12)[0]
        elif introducer == 0x2C:
            packed = data[at + 9]
            at += 10
            if packed & 0x80:
                at += 3 << ((packed & 7) + 1)
            _, at = sub_blocks(data, at + 1)
            frames += 1
            delays.append(str(delay))
            delay = 0
        else:
            raise ValueError(f"unexpected byte {introducer:#x} at offset {at}")


if __name__ == "__main__":
    try:
        with open(sys.argv[1], "rb") as gif:
            print(facts(gif.read()))
    except (OSError, ValueError, IndexError, struct.error) as error:
        sys.exit(f"{sys.argv[1]}: not a readable GIF: {error}")
