#!/usr/bin/env python3
# usage: add-irot.py IN.heic OUT.heic TURNS
# Adds an irot (quarter turns anticlockwise) property to the primary item of a HEIF file
# whose meta box precedes its mdat (as heif-enc writes them).
import struct, sys
src, dst, turns = sys.argv[1], sys.argv[2], int(sys.argv[3])
d = bytearray(open(src, 'rb').read())

def boxes(buf, start, end):
    i = start
    while i < end:
        size, typ = struct.unpack('>I4s', buf[i:i+8])
        yield i, size, typ.decode()
        i += size

top = {t: (o, s) for o, s, t in boxes(d, 0, len(d))}
mo, ms = top['meta']
meta_children = {t: (o, s) for o, s, t in boxes(d, mo + 12, mo + ms)}
po, ps = meta_children['pitm']
primary = struct.unpack('>H', d[po+12:po+14])[0]
io, isz = meta_children['iprp']
iprp_children = {t: (o, s) for o, s, t in boxes(d, io + 8, io + isz)}
co, cs = iprp_children['ipco']
count = sum(1 for _ in boxes(d, co + 8, co + cs))
new_index = count + 1
irot = struct.pack('>I4sB', 9, b'irot', turns & 3)
ao, asz = iprp_children['ipma']
version, flags = d[ao+8], int.from_bytes(d[ao+9:ao+12], 'big')
assert version == 0 and not (flags & 1)
p = ao + 12
entries = struct.unpack('>I', d[p:p+4])[0]; p += 4
insert_at = None
for _ in range(entries):
    item = struct.unpack('>H', d[p:p+2])[0]; p += 2
    n = d[p]
    if item == primary:
        d[p] = n + 1
        insert_at = p + 1 + n
    p += 1 + n
assert insert_at is not None
# The association (not essential: 0x80 clear) goes after the item's others, then the box
# into ipco; sizes of every enclosing box grow, and mdat offsets move by the growth.
d[insert_at:insert_at] = bytes([new_index])
d[co+cs:co+cs] = irot
growth = 10
def grow(o):
    struct.pack_into('>I', d, o, struct.unpack('>I', d[o:o+4])[0] + growth)
# ipma (moved by the 9 bytes inserted before it) and ipco grow by 1 and 9
struct.pack_into('>I', d, ao + 9, asz + 1)
struct.pack_into('>I', d, co, cs + 9)
grow(io); grow(mo)
# iloc: shift base offsets / extent offsets of construction method 0
lo, ls = meta_children['iloc']
assert lo < co
v = d[lo+8]; p = lo + 12
os_, ls_ = d[p] >> 4, d[p] & 15; bs_ = d[p+1] >> 4; ix_ = d[p+1] & 15 if v in (1, 2) else 0; p += 2
def rd(n):
    global p
    val = int.from_bytes(d[p:p+n], 'big') if n else 0; p += n; return val
def shift(n):
    global p
    if n:
        val = int.from_bytes(d[p:p+n], 'big')
        d[p:p+n] = (val + growth).to_bytes(n, 'big')
    p += n
cnt = rd(2 if v < 2 else 4)
for _ in range(cnt):
    rd(2 if v < 2 else 4)
    method = rd(2) & 15 if v in (1, 2) else 0
    rd(2)
    if method == 0 and bs_:
        shift(bs_); ec = rd(2)
        for _ in range(ec):
            rd(ix_); rd(os_); rd(ls_)
    else:
        if bs_: rd(bs_)
        ec = rd(2)
        for _ in range(ec):
            rd(ix_)
            if method == 0: shift(os_)
            else: rd(os_)
            rd(ls_)
open(dst, 'wb').write(d)
