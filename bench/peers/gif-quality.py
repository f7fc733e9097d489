"""How closely a GIF's frames follow the 24-bit frames it was made from.

    gif-quality.py GIF FRAME.png...

Each frame of the GIF (as a viewer composes it) is compared with its PNG: PSNR over the
three channels; SSIM on luma (BT.601) with a Gaussian window of 11 pixels, sigma 1.5;
and "blurred PSNR", the PSNR after a Gaussian blur of sigma 1.5 of both, which is how
dithered pixels look from a normal viewing distance. Prints one line: the file's bytes
and the means over the frames (dB, dB, SSIM)."""
import math
import os
import sys

import numpy
from PIL import Image, ImageSequence


def gaussian_kernel(sigma, radius):
    x = numpy.arange(-radius, radius + 1, dtype=numpy.float64)
    k = numpy.exp(-(x * x) / (2 * sigma * sigma))
    return k / k.sum()


def blur(plane, sigma=1.5, radius=5, valid=False):
    """Separable Gaussian; 'valid' keeps only where the window fits (as SSIM uses it),
    otherwise the edges are mirrored."""
    k = gaussian_kernel(sigma, radius)
    if not valid:
        pad = [(radius, radius), (radius, radius)] + [(0, 0)] * (plane.ndim - 2)
        plane = numpy.pad(plane, pad, mode="reflect")
    out = sum(k[i] * plane[i : plane.shape[0] - 2 * radius + i] for i in range(2 * radius + 1))
    out = sum(k[i] * out[:, i : out.shape[1] - 2 * radius + i] for i in range(2 * radius + 1))
    return out


def psnr(a, b):
    error = numpy.mean((a - b) ** 2)
    return 10 * math.log10(255 * 255 / error) if error > 0 else 99.0


def ssim(a, b):
    luma = numpy.array([0.299, 0.587, 0.114])
    x, y = a @ luma, b @ luma
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    mx, my = blur(x, valid=True), blur(y, valid=True)
    sxx = blur(x * x, valid=True) - mx * mx
    syy = blur(y * y, valid=True) - my * my
    sxy = blur(x * y, valid=True) - mx * my
    s = ((2 * mx * my + c1) * (2 * sxy + c2)) / ((mx * mx + my * my + c1) * (sxx + syy + c2))
    return float(s.mean())


def main():
    gif = Image.open(sys.argv[1])
    frames = [numpy.asarray(f.convert("RGB"), dtype=numpy.float64) for f in ImageSequence.Iterator(gif)]
    pngs = sys.argv[2:]
    if len(frames) != len(pngs):
        sys.exit(f"gif-quality: {len(frames)} frames for {len(pngs)} pictures")
    p, s, bp = [], [], []
    for frame, path in zip(frames, pngs):
        ref = numpy.asarray(Image.open(path).convert("RGB"), dtype=numpy.float64)
        p.append(psnr(frame, ref))
        s.append(ssim(frame, ref))
        bp.append(psnr(blur(frame), blur(ref)))
    n = len(frames)
    print(f"{os.path.getsize(sys.argv[1])} {sum(p) / n:.2f} {sum(s) / n:.4f} {sum(bp) / n:.2f}")


if __name__ == "__main__":
    main()
