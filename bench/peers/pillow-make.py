"""Pillow's way of making the bench's GIF: every photo reduced into the photo size,
centred on the canvas, the frame reduced to 256 colours without dithering, 0.5 s a frame,
looping forever.

    pillow-make.py draft|full WIDTH HEIGHT PHOTO_SIZE BACKGROUND OUT.gif PHOTO...

The frames follow the making's order of the photos. BACKGROUND is '#RRGGBB' or a picture stretched over the canvas. draft: thumbnail()'s own
path (JPEG decoded at the smallest DCT scale of at least twice the size, then reduce()
and bicubic); full: the whole picture decoded and resized bicubically. The reduced size
is the making's own, so that the frames compare pixel for pixel."""
import sys

from PIL import Image

import making


def main():
    mode, width, height, size, background, out = sys.argv[1:7]
    width, height, size = int(width), int(height), int(size)
    if background.startswith("#"):
        canvas = Image.new("RGB", (width, height), background)
    else:
        canvas = Image.open(background).convert("RGB").resize((width, height), Image.BOX)
    frames = []
    for path in making.frame_order(sys.argv[7:]):
        photo = Image.open(path)
        w, h = making.reduced(photo.size[0], photo.size[1], size)
        if mode == "draft":
            photo.draft("RGB", (w * 2, h * 2))
            photo = photo.convert("RGB").resize((w, h), Image.BICUBIC, reducing_gap=2.0)
        elif (w, h) != photo.size:
            photo = photo.convert("RGB").resize((w, h), Image.BICUBIC)
        frame = canvas.copy()
        frame.paste(photo.convert("RGB"), ((width - w) // 2, (height - h) // 2))
        frames.append(frame.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE))
    frames[0].save(out, save_all=True, append_images=frames[1:], duration=500, loop=0)


if __name__ == "__main__":
    main()
