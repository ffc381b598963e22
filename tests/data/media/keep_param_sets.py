#!/usr/bin/env python3
"""Keep only the parameter sets of an Annex B stream, each behind 00 00 00 01.

usage: keep_param_sets.py h264|h265 IN OUT
H.264 keeps SPS (7) and PPS (8); H.265 keeps VPS (32), SPS (33) and PPS (34).
Only the sets in front of the first slice are kept.
"""
import sys


def split_nals(data):
    starts = []
    i = 0
    while True:
        i = data.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i + 3)
        i += 3
    for n, s in enumerate(starts):
        end = starts[n + 1] - 3 if n + 1 < len(starts) else len(data)
        while end > s and data[end - 1] == 0:
            end -= 1
        yield data[s:end]


def main():
    codec, src, dst = sys.argv[1:4]
    out = bytearray()
    for nal in split_nals(open(src, "rb").read()):
        if codec == "h264":
            kind = nal[0] & 0x1F
            if 1 <= kind <= 5:
                break
            keep = kind in (7, 8)
        else:
            kind = (nal[0] >> 1) & 0x3F
            if kind < 32:
                break
            keep = kind in (32, 33, 34)
        if keep:
            out += b"\x00\x00\x00\x01" + nal
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main()
