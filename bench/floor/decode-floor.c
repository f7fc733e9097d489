/* The decode floor of the making: every file given decoded one after another in one
 * thread, JPEG by libjpeg-turbo and PNG by libpng, into 24-bit rows that are only
 * glanced at (one byte of each row summed, so that no decoder work can be skipped).
 *
 *   decode-floor [--scale-to S] FILE...
 *
 * With --scale-to a JPEG is decoded at the smallest DCT scale M/8 whose result still
 * covers the size the photo is reduced to for a photo size of S (both sides at least
 * as large); other files decode at full size. Prints the sum; exit status 1 when a file
 * can't be read. */
// jpeglib.h needs size_t and FILE declared before it.
// clang-format off
#include <stddef.h>
#include <stdio.h>
#include <jpeglib.h>
// clang-format on
#include <png.h>
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

static unsigned long checksum;

struct JpegError {
    struct jpeg_error_mgr pub;
    jmp_buf jump;
};

static void JpegExit(j_common_ptr cinfo) { longjmp(((struct JpegError*)cinfo->err)->jump, 1); }

static void Silent(j_common_ptr cinfo) { (void)cinfo; }

/* The reduced size of a w x h photo for photo size s: the longer side becomes s. */
static void Reduced(unsigned w, unsigned h, unsigned s, unsigned* rw, unsigned* rh)
{
    *rw = w;
    *rh = h;
    if (w <= s && h <= s)
        return;
    if (w > h) {
        *rw = s;
        *rh = (unsigned)((double)s * h / w + 0.5);
    } else {
        *rh = s;
        *rw = (unsigned)((double)s * w / h + 0.5);
    }
    if (*rw < 1)
        *rw = 1;
    if (*rh < 1)
        *rh = 1;
}

static int DecodeJpeg(FILE* file, unsigned scaleTo)
{
    struct jpeg_decompress_struct cinfo;
    struct JpegError error;
    JSAMPROW row = NULL;
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = JpegExit;
    error.pub.output_message = Silent;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        free(row);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.num_components == 3)
        cinfo.out_color_space = JCS_EXT_BGR;
    if (scaleTo) {
        unsigned rw, rh, m;
        Reduced(cinfo.image_width, cinfo.image_height, scaleTo, &rw, &rh);
        for (m = 1; m < 8; m++) {
            if ((cinfo.image_width * m + 7) / 8 >= rw && (cinfo.image_height * m + 7) / 8 >= rh)
                break;
        }
        cinfo.scale_num = m;
        cinfo.scale_denom = 8;
    }
    jpeg_start_decompress(&cinfo);
    row = malloc((size_t)cinfo.output_width * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        jpeg_read_scanlines(&cinfo, &row, 1);
        checksum += row[cinfo.output_width / 2];
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    free(row);
    return 1;
}

static int DecodePng(FILE* file)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    png_bytep row = NULL;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : NULL, NULL);
        free(row);
        return 0;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    /* Everything becomes 8-bit blue-green-red. */
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (passes > 1) {
        /* Interlaced rows are merged pass by pass: the picture has to be held. */
        row = malloc(rowBytes * height);
        for (int pass = 0; pass < passes; pass++)
            for (png_uint_32 y = 0; y < height; y++)
                png_read_row(png, row + rowBytes * y, NULL);
        for (png_uint_32 y = 0; y < height; y++)
            checksum += row[rowBytes * y + rowBytes / 2];
    } else {
        row = malloc(rowBytes);
        for (png_uint_32 y = 0; y < height; y++) {
            png_read_row(png, row, NULL);
            checksum += row[rowBytes / 2];
        }
    }
    png_read_end(png, NULL);
    png_destroy_read_struct(&png, &info, NULL);
    free(row);
    return 1;
}

int main(int argc, char** argv)
{
    unsigned scaleTo = 0;
    int status = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--scale-to") == 0 && i + 1 < argc) {
            scaleTo = (unsigned)atoi(argv[++i]);
            continue;
        }
        FILE* file = fopen(argv[i], "rb");
        unsigned char magic[2] = { 0, 0 };
        int ok = 0;
        if (file && fread(magic, 1, 2, file) == 2) {
            rewind(file);
            if (magic[0] == 0xFF && magic[1] == 0xD8)
                ok = DecodeJpeg(file, scaleTo);
            else if (magic[0] == 0x89 && magic[1] == 'P')
                ok = DecodePng(file);
        }
        if (file)
            fclose(file);
        if (!ok) {
            fprintf(stderr, "decode-floor: %s: can't decode\n", argv[i]);
            status = 1;
        }
    }
    printf("%lu\n", checksum);
    return status;
}
