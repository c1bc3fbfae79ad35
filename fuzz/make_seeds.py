#!/usr/bin/env python3
"""Writes the seed inputs of every harness into corpus/<harness>/ (small synthetic records)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(harness, name, data):
    directory = os.path.join(HERE, "corpus", harness)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "seed_" + name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def fmt212(pairs):
    out = bytearray()
    for a, b in pairs:
        a &= 0xFFF
        b &= 0xFFF
        out += bytes([a & 0xFF, ((b >> 8) << 4) | (a >> 8), b & 0xFF])
    return bytes(out)


def fmt16(values):
    return b"".join(struct.pack("<h", v) for v in values)


HEADERS = {
    "212": "rec 2 360 8\nrec.dat 212 200 11 1024 995 -22131 0 MLII\nrec.dat 212 200 11 1024 1011 20052 0 V5\n",
    "16": "rec 3 500 4 10:20:30 01/02/2003\nrec.dat 16 1000(0)/mV 16 0 0 0 0 i\nrec.dat 16 1000/uV 16 0 0 0 0 ii\n"
          "rec.dat 16 2000(5)/mV 16 0 0 0 0 v1\n# a comment\n",
    "frames": "rec 2 250/1000 6\nrec.dat 212x2 200 12 0 0 0 0 ECG\nrec.dat 212:1+0 400 12 0 0 0 0 ECG2\n",
    "twelve": "rec 12 1000 2\n" + "".join(f"rec.dat 16 2000 16 0 0 0 0 {lead}\n" for lead in
                                        ["i", "ii", "iii", "avr", "avl", "avf", "v1", "v2", "v3", "v4", "v5", "v6"]),
    "segments": "rec/2 1 360 20\nseg1 10\nseg2 10\n",
}
for name, text in HEADERS.items():
    put("wfdb_header", name, text)

put("wfdb_signal", "212", HEADERS["212"].encode() + b"\0" + fmt212([(995, 1011), (990, 1020), (-5, 7), (2047, -2048)] * 2))
put("wfdb_signal", "212_cut", HEADERS["212"].encode() + b"\0" + fmt212([(1, 2)] * 3)[:-1])
put("wfdb_signal", "16", HEADERS["16"].encode() + b"\0" + fmt16(list(range(-6, 6))))
put("wfdb_signal", "frames", HEADERS["frames"].encode() + b"\0" + fmt212([(i, -i) for i in range(18)]))
put("wfdb_signal", "twelve", HEADERS["twelve"].encode() + b"\0" + fmt16(list(range(24))))


def annotation(code, interval):
    return struct.pack("<H", (code << 10) | interval)


atr = annotation(28, 18) + b"".join(annotation(1, 300) for _ in range(3))
atr += struct.pack("<H", 59 << 10) + struct.pack("<HH", 1, 0) + annotation(5, 0)  # SKIP then a beat
atr += annotation(61, 3) + annotation(62, 1) + annotation(60, 2) + annotation(1, 10)  # SUB, CHN, NUM
atr += struct.pack("<H", (63 << 10) | 5) + b"(AFIB\0" + annotation(28, 4) + b"\0\0"
put("annotation", "mixed", atr)
put("annotation", "cut", atr[:9])


def edf(signals, records, duration, samples, annotation_signal=False):
    ns = len(signals) + (1 if annotation_signal else 0)
    head = "0".ljust(8) + "patient".ljust(80) + "recording".ljust(80) + "01.02.03" + "10.20.30"
    head += str(256 * (ns + 1)).ljust(8) + ("EDF+C" if annotation_signal else "").ljust(44)
    head += str(records).ljust(8) + str(duration).ljust(8) + str(ns).ljust(4)
    labels = signals + (["EDF Annotations"] if annotation_signal else [])
    field = lambda values, width: "".join(str(v).ljust(width)[:width] for v in values)
    counts = [samples] * len(signals) + ([30] if annotation_signal else [])
    head += field(labels, 16) + field(["AgAgCl"] * ns, 80) + field(["uV"] * len(signals) + [""] * (ns - len(signals)), 8)
    head += field([-3276.8] * ns, 8) + field([3276.7] * ns, 8) + field([-32768] * ns, 8) + field([32767] * ns, 8)
    head += field([""] * ns, 80) + field(counts, 8) + field([""] * ns, 32)
    body = bytearray()
    for r in range(records):
        for s in range(len(signals)):
            body += b"".join(struct.pack("<h", (r * 100 + s * 10 + k) * 7) for k in range(samples))
        if annotation_signal:
            body += b"+0\x14\x14\0".ljust(60, b"\0")
    return head.encode("ascii") + bytes(body)


put("edf", "two_signals", edf(["ECG I", "ECG II"], 2, 1, 8))
put("edf", "plus", edf(["ECG V1"], 2, 1, 4, annotation_signal=True))
put("edf", "half_second", edf(["ECG"], 3, 0.5, 5))

put("aha", "text", b"\0" + b'100,200,"N"\n\n-400,400,"V"\n40,80\n')
put("aha", "binary", b"\1" + bytes([0x90, 0x01, 0x70, 0xFE, 0x00, 0xFF, 0x7F, 0x00, 0x80, 0x4E, 0x12, 0x34]))

dcd = bytearray(b"\xee" * 3100)
dcd[36:40] = b"   2"
for g in range(4):
    for k in range(2):
        for i in range(3):
            at = 3000 + 12 * g + 6 * k + 2 * i
            dcd[at:at + 2] = struct.pack(">h", 1000 * g + 100 * i + k)
put("cse_kestrane", "dcd", b"\0" + bytes(dcd))
put("cse_kestrane", "cse_text", b"\1" + b"10 20 30 40 50 60 70 80 90 100 110 120 130\n-1\t-2 3 4 5 6 7 8 9 10 11 12.9\r\n")
put("cse_kestrane", "kestrane", b"\2" + b"500\n3\nSTART\nLead I\n1000\n-1000\n500\nV4\n1\n2\n3\n")

put("device", "calibration", b"\1" + b"0.5, -0.25 1e-3,,2\n\n3 4 5 6 7 8 9 10 11\n" * 3)
put("device", "calibration_short", b"\1" + b"2050, 1,0,4095 ,4,,5  6,7\r\n" * 999 + b"1,2,3,4,5,6,7,nan\n")
put("device", "replies", b"\0\3" + b"N\0" + b"X\x01\x02" + b"S" + bytes(range(14)) + b"?N\1X\0\0")
