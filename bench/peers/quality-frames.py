"""The 24-bit frames that every GIF maker of bench/quality-vs-peers.sh is given.

    quality-frames.py OUTDIR SIZE PHOTO...

Each photo is cut to its middle square and reduced to SIZE x SIZE (Lanczos); two smooth
gradients follow (a diagonal blend of four colours, and a radial sky with a soft sun),
the pictures on which banding and dithering noise show most. Writes OUTDIR/NN.png."""
import os
import sys

import numpy
from PIL import Image


def photo_frame(path, size):
    photo = Image.open(path).convert("RGB")
    w, h = photo.size
    side = min(w, h)
    box = ((w - side) // 2, (h - side) // 2, (w - side) // 2 + side, (h - side) // 2 + side)
    return photo.resize((size, size), Image.LANCZOS, box=box)


def gradients(size):
    y, x = numpy.mgrid[0:size, 0:size] / (size - 1)
    corners = numpy.array([[20, 30, 90], [240, 140, 40], [60, 170, 150], [250, 235, 200]], float)
    blend = (
        corners[0] * ((1 - x) * (1 - y))[..., None]
        + corners[1] * (x * (1 - y))[..., None]
        + corners[2] * ((1 - x) * y)[..., None]
        + corners[3] * (x * y)[..., None]
    )
    r = numpy.hypot(x - 0.7, y - 0.3)
    sky = numpy.stack([40 + 150 * y, 80 + 120 * y, 160 + 60 * y], axis=-1)
    sun = numpy.exp(-(r / 0.18) ** 2)[..., None] * numpy.array([215, 160, 60])
    for picture in (blend, numpy.clip(sky + sun, 0, 255)):
        yield Image.fromarray(numpy.round(picture).astype(numpy.uint8), "RGB")


def main():
    out, size = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    frames = [photo_frame(p, size) for p in sys.argv[3:]] + list(gradients(size))
    for i, frame in enumerate(frames):
        frame.save(os.path.join(out, f"{i + 1:02d}.png"))


if __name__ == "__main__":
    main()
