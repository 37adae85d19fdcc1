#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/<target>/corpus/).

Small valid files of every kind each reader accepts, plus a few that it
refuses, so that fuzzing starts from every branch of the format. Run it
again after changing a format; the OpenEXR seeds are kept as written once
(no EXR writer in the standard library).
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(ROOT, target, "corpus")
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def bmp(width, height, bits, top_down=False, compression=0, offset_extra=0):
    row = (3 * width + 3) & ~3 if bits == 24 else (width + 3) & ~3
    palette = 1024 if bits == 8 else 0
    offset = 54 + palette + offset_extra
    pixels = bytes((i * 37) & 0xFF for i in range(row * height))
    h = -height if top_down else height
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, h, 1, bits, compression, len(pixels), 0, 0, 0, 0)
    return header + info + b"\x40" * palette + b"\0" * offset_extra + pixels


def pfm(width, height, grey=False, big=False):
    channels = 1 if grey else 3
    head = ("Pf" if grey else "PF") + "\n%d %d\n%s\n" % (width, height, "1.0" if big else "-1.0")
    fmt = (">" if big else "<") + "f"
    body = b"".join(struct.pack(fmt, float(i % 251) * 0.5) for i in range(width * height * channels))
    return head.encode() + body


def rgbe(r, g, b):
    import math
    v = max(r, g, b)
    if v < 1e-32:
        return bytes([0, 0, 0, 0])
    m, e = math.frexp(v)
    scale = m * 256.0 / v
    return bytes([int(r * scale), int(g * scale), int(b * scale), e + 128])


def hdr(width, height, encode):
    out = b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1.0\n\n-Y %d +X %d\n" % (height, width)
    for y in range(height):
        line = [rgbe(0.1 * x, 0.05 * y, 1.0 if x < width // 2 else 0.2) for x in range(width)]
        if not encode:
            out += b"".join(line)
            continue
        out += bytes([2, 2, width >> 8, width & 0xFF])
        for c in range(4):
            values = [p[c] for p in line]
            i = 0
            while i < width:
                run = 1
                while i + run < width and run < 127 and values[i + run] == values[i]:
                    run += 1
                if run > 2:
                    out += bytes([128 + run, values[i]])
                    i += run
                else:
                    span = values[i:i + min(128, width - i)][:2]
                    out += bytes([len(span)]) + bytes(span)
                    i += len(span)
    return out


def main():
    put("scene_file", "worked_example.txt",
        "# a room and a ceiling panel\ncamera_pos 0 1.5 -4\nlook_at 0 1 0\nfocus 1\nsize 400 300\n"
        "obj m.obj\nscale 0.1\nobj_end\nlight m.obj\npos 0 2.9 0\nlight_end\nEOF\n")
    put("scene_file", "rotations.txt",
        "Camera_Pos 0 1 -5\nrot_y 1.5708\nobj \"m.obj\"\nex 1 0 0\ney 0 1 0\nez 0 0 1\nobj_end\n"
        "rot_x 0.3\nrot_z -2\nobj m.obj\nlight_end\nobj_end\nsize 640.9 480.2\npos 1 2 3# c\neof\n")
    put("scene_file", "odd.txt", "size 0 -1\nfocus nan\nobj missing.obj\nobj_end\nunknown 1\r\n\tpos 1e39\n")

    put("obj", "triangle.obj",
        "v 1 1 1\nv 2 1 1\nv 1 2 1\nvt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/3/1\n")
    put("obj", "kinds.obj",
        "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\n"
        "usemtl wood\nf 1 2 3\nf 1/1 2/2 3/3\nf 1//1 2//1 3//1 4//1\nf 1/1/1 2/2/1 3/3/1 4/1/1 2/1/1\n"
        "usemtl jade\nf -4/-3/-1 -3/-2/-1 -2/-1/-1\nf 1/9/1 2/2/7 3\ng group\ns 1\no obj\n")
    put("obj", "degenerate.obj", "v 0 0 0\nv 0 0 0\nv 1 1 1\nvn 0 0 0\nf 1//1 2//1 3//1\nf 1//1 1//1 1//1\n")

    put("mtl", "kinds.mtl",
        "newmtl wood\nKd 0.8 0.6 0.4\nmap_Kd t.bmp\nmap_Bump b.bmp\nKs 1 1 1\nnewmtl coat\n"
        "Kd 0.5 0.5 0.5\nrefraction 1.5\nnewmtl glass\nrefraction -1\nnewmtl lamp\nKe 10\n"
        "newmtl jade\nKd 0.3 0.7 0.4\nrefraction 1.3\nsigma_a 0.1 0.2 0.3\nsigma_s 1 1 1\nsss\n")
    put("mtl", "spellings.mtl",
        "map_Kd t.bmp\nnewmtl a\nmap_Kd ./t.bmp\nmap_Bump .//b.bmp\nKd -1 0 0\nnewmtl a\nsss\n"
        "refraction 0.5\nsss\nmap_Kd missing.bmp\n")

    put("bmp", "rgb_3x2.bmp", bmp(3, 2, 24))
    put("bmp", "grey_5x1.bmp", bmp(5, 1, 8))
    put("bmp", "top_down.bmp", bmp(4, 3, 24, top_down=True))
    put("bmp", "offset.bmp", bmp(2, 2, 24, offset_extra=6))
    put("bmp", "compressed.bmp", bmp(2, 2, 8, compression=1))

    put("probe_image", "rgb.pfm", pfm(4, 3))
    put("probe_image", "grey_big_endian.pfm", pfm(3, 2, grey=True, big=True))
    put("probe_image", "one.pfm", pfm(1, 1))

    put("light_list", "two.txt", "2 0\n0 1 0 7 8 9 0.5 0.5 0.5\n1 0 0 0 0 0 1 2 3\n")
    put("light_list", "probe_tool.txt",
        "3 512\n0.577350259 -0.577350259 0.577350259  0.12 1.000 2.000  4.5 3.25 2\n"
        "-1 0 0  0.5 3.000 4.000  1e-3 2e-3 3e-3\n0 0 -1  1 5.000 6.000  10 10 10\n")
    put("light_list", "short.txt", "3 0\n0 1 0 0 0 0 1 1 1\n0 0 1 0 0 0 2,5 2 2\n")

    put("viewpoint", "default.txt", "camera_pos 0 0 0\ncamera_ex 1 0 0\ncamera_ey 0 1 0\ncamera_ez 0 0 1\nlook_at 0 0 1\n")
    put("viewpoint", "turned.txt",
        "camera_pos 1.5 -2 3e+07\ncamera_ex 0.707107 0 -0.707107\ncamera_ey -0 1 0\n"
        "camera_ez 0.707107 0 0.707107\nlook_at 1.5 -2 3.40282e+38\n")
    put("viewpoint", "short.txt", "p 1 2 1.5,\nex 1 0 0\n")

    put("probe_input", "flat.hdr", hdr(4, 2, False))
    put("probe_input", "rle.hdr", hdr(20, 3, True))
    put("probe_input", "rgbe_header.hdr",
        b"#?RGBE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 2\n" + rgbe(1, 2, 3) + rgbe(0, 0, 0))
    put("probe_input", "rgb.pfm", pfm(4, 2))
    put("probe_input", "grey.pfm", pfm(2, 2, grey=True, big=True))

    put("render", "quad.bin",
        b"camera_pos 0 0 -3\nlook_at 0 0 0\nsize 8 6\nobj r.obj\nobj_end\nobj m.obj\npos -1 0 0\nobj_end\0"
        b"mtllib r.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
        b"vn 0 0 -1\nusemtl glass\nf 1/1/1 2/2/1 3/3/1 4/4/1\nusemtl jade\nf 4/4/1 3/3/1 2/2/1\0"
        b"newmtl glass\nrefraction -1.5\nnewmtl jade\nKd 0.3 0.7 0.4\nrefraction 1.3\n"
        b"sigma_a 0.1 0.2 0.3\nsigma_s 1 1 1\nsss\n")
    put("render", "coated.bin",
        b"size 12 12\ncamera_pos 0 -1 -4\nlook_at 0 0 0\nobj r.obj\nobj_end\0"
        b"mtllib r.mtl\nv -5 0 -5\nv 5 0 -5\nv 5 0 5\nvn 0 1 0\nusemtl c\nf 1//1 2//1 3//1\0"
        b"newmtl c\nKd 0.5 0.5 0.5\nrefraction 1.5\nKs 1 1 1\nmap_Kd t.bmp\nmap_Bump b.bmp\n")


if __name__ == "__main__":
    sys.exit(main())
