"""Mean PSNR of a GIF's frames against frames made exactly: each photo decoded at full
size (Pillow, no draft), reduced to the making's size by the exact area average in
floating point, and centred on the background colour; each whole frame compared.

    frame-psnr.py WIDTH HEIGHT PHOTO_SIZE '#RRGGBB' GIF PHOTO...

The photos may be given in any order: the frames follow the making's.

Prints the mean over the frames, in dB."""
import math
import sys

import numpy
from PIL import Image, ImageSequence

import making


def axis_average(pixels, new, axis):
    """The exact area average along one axis: the integral of the pixels, a step function,
    between the result pixels' edges, over their width."""
    n = pixels.shape[axis]
    scale = n / new
    sums = numpy.cumsum(pixels, axis=axis, dtype=numpy.float64)
    zero = numpy.zeros_like(numpy.take(sums, [0], axis=axis))
    sums = numpy.concatenate([zero, sums], axis=axis)  # sums[k]: the first k pixels
    edges = numpy.arange(new + 1) * scale
    whole = numpy.minimum(numpy.floor(edges).astype(int), n)
    part = edges - whole
    shape = [1] * pixels.ndim
    shape[axis] = new + 1
    integral = numpy.take(sums, whole, axis=axis) + part.reshape(shape) * numpy.take(
        pixels, numpy.minimum(whole, n - 1), axis=axis
    )
    return numpy.diff(integral, axis=axis) / scale


def main():
    width, height, size = (int(v) for v in sys.argv[1:4])
    background = numpy.array(Image.new("RGB", (1, 1), sys.argv[4]).getpixel((0, 0)), dtype=numpy.float64)
    gif = Image.open(sys.argv[5])
    frames = [numpy.asarray(f.convert("RGB"), dtype=numpy.float64) for f in ImageSequence.Iterator(gif)]
    photos = making.frame_order(sys.argv[6:])
    if len(frames) != len(photos):
        sys.exit(f"frame-psnr: {len(frames)} frames for {len(photos)} photos")
    values = []
    for frame, path in zip(frames, photos):
        photo = Image.open(path).convert("RGB")
        w, h = making.reduced(photo.size[0], photo.size[1], size)
        pixels = numpy.asarray(photo)
        reference = axis_average(axis_average(pixels, h, 0), w, 1)
        exact = numpy.empty((height, width, 3))
        exact[:, :] = background
        x, y = (width - w) // 2, (height - h) // 2
        exact[y : y + h, x : x + w] = reference
        error = numpy.mean((frame - exact) ** 2)
        values.append(10 * math.log10(255 * 255 / error) if error > 0 else 99.0)
    print(f"{sum(values) / len(values):.2f}")


if __name__ == "__main__":
    main()
