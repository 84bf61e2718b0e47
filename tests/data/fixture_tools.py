#!/usr/bin/python3
"""Byte-level helpers for make-fixtures: the few fixture layouts that no Debian
tool writes directly. Each subcommand reads and writes plain files."""

import math
import struct
import sys


def layer1(out_path, seconds):
    """An MPEG-1 Layer I stream, mono, 32 kHz, 64 kbit/s: two subbands carry
    slowly changing tones, so a decoder produces real, non-silent audio."""
    sample_rate, bitrate = 32000, 64000
    frame_bytes = (12 * bitrate // sample_rate) * 4
    frames = int(seconds * sample_rate / 384)
    # MPEG-1 Layer I without CRC; bitrate index 2 (64k), rate index 2 (32 kHz); mono.
    header = bytes([0xFF, 0xFF, (2 << 4) | (2 << 2), 0xC0])
    out = bytearray()
    for f in range(frames):
        bits = []

        def put(value, width):
            for i in range(width - 1, -1, -1):
                bits.append((value >> i) & 1)

        allocated = {1: 7, 3: 7}  # subband -> allocation code (code + 1 bits per sample)
        for sb in range(32):
            put(allocated.get(sb, 0), 4)
        for sb in range(32):
            if sb in allocated:
                put(12 + (f // 20) % 4, 6)  # scale factor index
        for s in range(12):
            for sb in range(32):
                if sb in allocated:
                    phase = 2 * math.pi * (f * 12 + s) * (0.07 if sb == 1 else 0.11)
                    put(128 + int(100 * math.sin(phase)), allocated[sb] + 1)
        while len(bits) % 8:
            bits.append(0)
        body = bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
        frame = header + body
        out += frame + bytes(frame_bytes - len(frame))
    open(out_path, "wb").write(out)


def crc16_adts(data):
    crc = 0xFFFF
    for byte in data:
        for i in range(7, -1, -1):
            bit = (byte >> i) & 1
            top = (crc >> 15) & 1
            crc = (crc << 1) & 0xFFFF
            if top ^ bit:
                crc ^= 0x8005
    return crc


def adts_frames(data):
    pos = 0
    while pos + 7 <= len(data):
        if data[pos] != 0xFF or (data[pos + 1] & 0xF6) != 0xF0:
            raise SystemExit("not an ADTS frame at %d" % pos)
        length = ((data[pos + 3] & 3) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5)
        yield data[pos:pos + length]
        pos += length


def adts_crc(in_path, out_path):
    """Rewrites an ADTS stream with CRC-protected headers (9-byte headers)."""
    out = bytearray()
    for frame in adts_frames(open(in_path, "rb").read()):
        header = bytearray(frame[:7])
        if header[1] & 1 == 0:
            raise SystemExit("already protected")
        payload = frame[7:]
        length = len(frame) + 2
        header[1] &= 0xFE
        header[3] = (header[3] & 0xFC) | (length >> 11)
        header[4] = (length >> 3) & 0xFF
        header[5] = ((length & 7) << 5) | (header[5] & 0x1F)
        crc = crc16_adts(bytes(header) + payload[:24])
        out += header + struct.pack(">H", crc) + payload
    open(out_path, "wb").write(out)


def descriptor(tag, body):
    return bytes([tag, 0x80, 0x80, 0x80, len(body)]) + body


def caf_aac(in_path, out_path):
    """Wraps the access units of an ADTS stream in a CAF file laid out for
    streaming: desc, kuki (an ES descriptor holding the AudioSpecificConfig),
    pakt, then a data chunk of unknown size (-1)."""
    frames = list(adts_frames(open(in_path, "rb").read()))
    h = frames[0]
    profile = h[2] >> 6
    sf_index = (h[2] >> 2) & 0xF
    channels = ((h[2] & 1) << 2) | (h[3] >> 6)
    rates = [96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350]
    units = [f[7 if f[1] & 1 else 9:] for f in frames]
    asc = bytes([((profile + 1) << 3) | (sf_index >> 1), ((sf_index & 1) << 7) | (channels << 3)])
    dec_config = bytes([0x40, 0x15, 0, 0, 0]) + struct.pack(">II", 0, 0) + descriptor(5, asc)
    esds = descriptor(3, struct.pack(">HB", 0, 0) + descriptor(4, dec_config) + descriptor(6, b"\x02"))

    def chunk(kind, body, size=None):
        return kind + struct.pack(">q", len(body) if size is None else size) + body

    def varint(value):
        groups = [value & 0x7F]
        value >>= 7
        while value:
            groups.append((value & 0x7F) | 0x80)
            value >>= 7
        return bytes(reversed(groups))

    desc = struct.pack(">d4sIIIII", rates[sf_index], b"aac ", profile + 1, 0, 1024, channels, 0)
    priming = 2048
    valid = len(units) * 1024 - priming
    pakt = struct.pack(">qqii", len(units), valid, priming, 0) + b"".join(varint(len(u)) for u in units)
    data = struct.pack(">I", 0) + b"".join(units)
    out = b"caff" + struct.pack(">HH", 1, 0)
    out += chunk(b"desc", desc) + chunk(b"kuki", esds) + chunk(b"pakt", pakt)
    out += chunk(b"data", data, size=-1)
    open(out_path, "wb").write(out)


def syncsafe(value):
    return bytes([(value >> 21) & 0x7F, (value >> 14) & 0x7F, (value >> 7) & 0x7F, value & 0x7F])


def id3_text_frame_v23(frame_id, text):
    body = b"\x00" + text.encode("latin-1")
    return frame_id + struct.pack(">I", len(body)) + b"\x00\x00" + body


def id3_huge(mp3_path, picture_path, out_path):
    """Prefixes an MP3 with a large ID3v2.3 tag whose embedded picture is
    itself MPEG audio, so that only skipping the tag by its declared size
    finds the real first frame."""
    picture = open(picture_path, "rb").read()
    apic = b"\x00" + b"image/jpeg\x00" + b"\x03" + b"cover\x00" + picture
    frames = id3_text_frame_v23(b"TIT2", "Approach")
    frames += b"APIC" + struct.pack(">I", len(apic)) + b"\x00\x00" + apic
    frames += bytes(4096)  # padding
    tag = b"ID3\x03\x00\x00" + syncsafe(len(frames)) + frames
    open(out_path, "wb").write(tag + open(mp3_path, "rb").read())


def id3_footer_unsync(mp3_path, out_path):
    """Prefixes an MP3 with an ID3v2.4 tag that is unsynchronised and carries
    a footer; its frame data is full of 0xFF bytes before unsynchronisation."""
    body = id3_text_frame_v23(b"TIT2", "Tower") + b"PRIV" + struct.pack(">I", 64) + b"\x00\x00"
    body += b"\xff\xfb\x90\x64" * 16
    unsync = bytearray()
    for i, b in enumerate(body):
        unsync.append(b)
        if b == 0xFF and (i + 1 == len(body) or body[i + 1] >= 0xE0 or body[i + 1] == 0):
            unsync.append(0)
    flags = 0x80 | 0x10
    header = b"ID3\x04\x00" + bytes([flags]) + syncsafe(len(unsync))
    footer = b"3DI\x04\x00" + bytes([flags]) + syncsafe(len(unsync))
    open(out_path, "wb").write(header + bytes(unsync) + footer + open(mp3_path, "rb").read())


def wav_size(in_path, out_path, value):
    """Rewrites the RIFF and data sizes of a WAV file, as live encoders send
    them: 0 or 0xFFFFFFFF for "until the end"."""
    data = bytearray(open(in_path, "rb").read())
    data[4:8] = struct.pack("<I", value)
    pos = 12
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if kind == b"data":
            data[pos + 4:pos + 8] = struct.pack("<I", value)
            break
        pos += 8 + size + (size & 1)
    else:
        raise SystemExit("no data chunk")
    open(out_path, "wb").write(data)


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    {
        "layer1": lambda: layer1(args[0], float(args[1])),
        "adts-crc": lambda: adts_crc(*args),
        "caf-aac": lambda: caf_aac(*args),
        "id3-huge": lambda: id3_huge(*args),
        "id3-footer-unsync": lambda: id3_footer_unsync(*args),
        "wav-size": lambda: wav_size(args[0], args[1], int(args[2], 0)),
    }[command]()
