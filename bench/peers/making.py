"""The making's own rules that the peers' jobs and the PSNR measure follow: the size a
photo is reduced to, and the order of the frames."""
from decimal import ROUND_HALF_EVEN, Decimal


def reduced(w, h, size):
    """The longer side becomes the photo size, the other keeps the proportion, rounded as
    printf's "%.0f" rounds the exact binary value (to nearest, ties to even)."""
    if w <= size and h <= size:
        return w, h
    r = w / h
    if r > 1.0:
        return size, max(1, _round(size / r))
    return max(1, _round(size * r)), size


def frame_order(paths):
    """Paths compared byte by byte with ASCII capitals folded to small letters, ties
    broken by the plain bytes."""

    def key(path):
        raw = path.encode()
        return (bytes(c + 32 if 65 <= c <= 90 else c for c in raw), raw)

    return sorted(paths, key=key)


def _round(value):
    return int(Decimal(value).quantize(Decimal(1), rounding=ROUND_HALF_EVEN))
