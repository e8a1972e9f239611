#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Each seed is a small, well-formed or nearly well-formed input that takes its target
past its first checks; the fuzzer works outward from them. Rerun after a change here:
  python3 fuzz/make_corpus.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def block_crc(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0xB599) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def sd2(body, le=None, fcs=None, end=0x16):
    le = len(body) if le is None else le
    fcs = sum(body) & 0xFF if fcs is None else fcs
    return bytes([0x68, le, le, 0x68]) + bytes(body) + bytes([fcs, end])


def text_reply(text, da=100, sa=127):
    return sd2([da, sa, 0x07, 0xF5] + list(text))


def s2(address, data):
    body = [len(data) + 4, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF] + list(data)
    return "S2" + "".join("%02X" % b for b in body) + "%02X" % (~sum(body) & 0xFF)


def s_blok(address, data):
    p = bytes([0x73, address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF, len(data)]) + bytes(data)
    c = block_crc(p)
    return p + bytes([c & 0xFF, c >> 8])


def n_blok(base, present):
    """present: {index: byte}"""
    bitmap = [0] * 16
    for j in present:
        bitmap[j // 8] |= 1 << (j % 8)
    p = bytes([0x6E, base & 0xFF, (base >> 8) & 0xFF, (base >> 16) & 0xFF] + bitmap)
    p += bytes(present[j] for j in sorted(present))
    c = block_crc(p)
    return p + bytes([c & 0xFF, c >> 8])


def state(base, present):
    """The block_payload target's state part: base (LE 32 bits), map, data."""
    bitmap = [0] * 16
    data = [0xFF] * 128
    for j, b in present.items():
        bitmap[j // 8] |= 1 << (j % 8)
        data[j] = b
    return base.to_bytes(4, "little") + bytes(bitmap) + bytes(data)


good_sd2 = text_reply(b"ok\r")
CORPUS = {
    "reply_frame": {
        "sc": b"\xE5",
        "sd1": bytes([0x10, 100, 127, 0x07, (100 + 127 + 7) & 0xFF, 0x16]),
        "sd2_ok": good_sd2,
        "sd2_le255": sd2([100, 127, 0x07, 0xF5] + [0x41] * 251),
        "sd2_empty": sd2([]),
        "sd2_bad_fcs": sd2([100, 127, 0x07, 0xF5, 0x2A], fcs=0),
        "sd2_le_ler": bytes([0x68, 5, 6, 0x68]) + good_sd2[4:],
        "sd2_no_end": sd2([100, 127, 0x07, 0xF5, 0x2A], end=0x17),
        "sd2_short": good_sd2[:-3],
        "late_then_reply": good_sd2 + text_reply(b"*"),
    },
    "s2_record": {
        "demo": s2(0x010000, b"Zavlo384: ukazkovy obraz pameti.").encode(),
        "no_data": s2(0x000080, b"").encode(),
        "longest": s2(0xFFFF00, bytes(range(251))).encode(),
        "lower_case": s2(0x01ABCD, b"\xAB\xCD\xEF").lower().encode(),
        "bad_sum": (s2(0x010000, b"\x01\x02")[:-2] + "00").encode(),
        "trailing_blank": (s2(0x010000, b"\x01\x02") + " ").encode(),
        "count_03": b"S2030100FB00",
        "not_hex_address": b"S2050100G0AA4F",
        "not_hex_data": b"S2050100007Z89",
    },
    "script_lines": {
        "crlf": b"I000000\r\n;comment\r\n#init.cmd\r\n!ok\r\n",
        "lone_cr_lf": b"a\rb\nc\r\n\r\nd",
        "nul": b"first\r\nsecond\0third\r\n",
        "no_end": b"S804000000FB",
        "empty_lines": b"\n\n\r\r\n",
    },
    # First byte: length of the check text (or command); the rest is the reply.
    "reply_check": {
        "found": b"\x02ok" + b"ok\r",
        "not_found": b"\x03xyz" + b"ok\r",
        "own_text": b"\x0Aok!vadne!" + b"nic\r",
        "bang_at_end": b"\x03ok!" + b"ko\r",
        "end_record": b"\x0DS804000000FB\r" + b"*\r",
        "end_record_no_star": b"\x0DS804000000FB\r" + b"ok\r",
        "negative": b"\x02I0" + b"E?\r",
        "empty_reply": b"\x02I0",
    },
    # Arguments split at NUL bytes.
    "arguments": {
        "none": b"",
        "port_speed_parity": b"com2\0b19200\0m2",
        "address_then_port": b"d5\0COM3",
        "queued": b"#init.cmd\0I000000\0b9600.0",
        "not_options": b"b57600\0COM10\0m3\0p3f9",
        "addresses": b"D\0Stop\0d127\0s$64",
        "classic": b"i3\0p3f8\0B56700\0M1",
    },
    "block_payload": {
        "state_full_window": state(0x010000, {j: j for j in range(128)}),
        "state_gap": state(0x010080, {**{j: 0x11 for j in range(4, 10)}, **{j: 0x22 for j in range(40, 44)}}),
        "state_last_byte": state(0xFFFF80, {127: 0x5A}),
        "state_scattered": state(0x000100, {j: j ^ 0x5A for j in range(0, 128, 3)}),
        "s_blok": s_blok(0x010004, b"\x01\x02\x03"),
        "s_blok_full": s_blok(0x010000, bytes(128)),
        "n_blok": n_blok(0x010080, {0: 1, 2: 3, 127: 9}),
        "n_blok_one_run": n_blok(0x020000, {5: 1, 6: 2}),
    },
}


def main():
    for target, seeds in CORPUS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
