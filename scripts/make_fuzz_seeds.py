#!/usr/bin/python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a small, well-formed conversation in the target's input layout, so the
fuzzers start from answers that pass the CRC and reach the code behind it.
"""
import hashlib
import pathlib
import struct
import sys


def crc16(data: bytes) -> int:
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(frame: bytes) -> bytes:
    return frame + struct.pack("<H", crc16(frame))


def meter_float(value: float) -> bytes:
    return struct.pack(">f", value)


def record(channel: int, month: int, day: int, hour: int, minute: int, value: float) -> bytes:
    bcd = lambda n: bytes([(n // 10) << 4 | n % 10])
    return bytes([channel << 4 | month]) + bcd(day) + bcd(hour) + bcd(minute) + meter_float(value)


def channel_config(name: bytes) -> bytes:
    return bytes(64) + name.ljust(32, b"\xfe") + bytes(104)


def log_image(version: int, blocks: bytes) -> bytes:
    """A log image: header, blocks (kind, key, length, data), SHA-256 of all before it."""
    body = (b"MLLOGIMG" + struct.pack(">HQqHIB", version, 0, 1779070500000, 7, 9600, 5)
            + b"1.0.5" + blocks)
    body = body[:10] + struct.pack(">Q", len(body) + 32) + body[18:]
    return body + hashlib.sha256(body).digest()


def image_block(kind: int, key: int, data: bytes) -> bytes:
    return struct.pack(">BII", kind, key, len(data)) + data


def seeds():
    link = {
        # byte 0: function (0: 3, 1: 16, 2: 96) and shape bits; byte 1: count or length
        "read_display_line": bytes([0x00, 10]) + with_crc(b"\x01\x03\x14" + b"Flow   12.5 m3/h    "),
        "read_state_sealed": bytes([0x04, 8]) + b"\x01\x03\x10" + bytes(16),
        "read_exception": bytes([0x00, 8]) + with_crc(b"\x01\x83\x02"),
        "write_key": bytes([0x01, 0]) + with_crc(b"\x01\x10\x00\xd1\x00\x01"),
        "log_block": bytes([0x02, 8]) + with_crc(b"\x01\x60\x08\x80\x00\x00\x10"
                                                 + record(1, 5, 17, 9, 30, 12.5)
                                                 + record(2, 5, 17, 9, 30, -0.25)),
        "log_block_slow_midnight": bytes([0x36, 4]) + b"\x01\x60\x08\x80\x00\x00\x08"
                                   + record(1, 12, 31, 23, 59, 100.0),
    }
    records = {
        # byte 0: locale and "rows before"; bytes 1-2: split; [bytes 3-4: rows before]
        "two_channels_one_row": bytes([0, 0xFF, 0xFF]) + record(1, 5, 17, 9, 30, 12.5)
                                + record(2, 5, 17, 9, 30, 10.0),
        "split_between_blocks": bytes([1, 0, 8]) + record(1, 5, 17, 9, 30, 12.5)
                                + record(2, 5, 17, 9, 30, 10.0),
        "bad_fields_and_tail": bytes([0x82, 0, 16, 0, 40]) + b"\x0f\x1a\x25\x61\x7f\x80\x00\x00"
                               + b"\x30\x00\x00\x00\xff\xff\xff\xff" + b"\x15\x17",
        "empty_moment_first": bytes([3, 0xFF, 0xFF]) + bytes(8) + record(8, 2, 29, 0, 0, 1e-38),
    }
    state = (bytes([0, 0, 0, 0, 0, 0, 0, 8]) + meter_float(2.0) + meter_float(4094.0))
    names = [b"Flow", b"Total", b"Not Used", b""] + [b"Not Used"] * 4
    conversation = b"\x00" + state
    for name in names:
        conversation += b"\x00" + channel_config(name)
    conversation += b"\x00" + record(1, 5, 17, 9, 30, 12.5) + record(2, 5, 17, 9, 30, 7.0)
    download = {
        # per request: a control byte (bit 0 silent, bit 1 count follows, bit 2 bad CRC)
        "two_records": conversation,
        "empty_log": b"\x00" + bytes([0, 0, 0, 8, 0, 0, 0, 0]) + bytes(8),
        "state_short": b"\x02\x00\x05" + bytes(5),
        "state_silent_then_bad_crc": b"\x01\x04" + state,
    }
    settings = {
        "defaults": b"[Commport]=1\r\n[CommBaud]=38400\r\n[CommFlow]=Hardware\r\n"
                    b"[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n",
        "saved_choices": b"[Commport]=3\r\n[CommBaud]=9600\r\n[CommHandshaking]=none\r\n"
                         b"[CommSlaveID]=17\r\n[DownloadSaveFile]=C:\\logs\\a=b.csv\r\n",
        "odd_values": b"x[Commport]=3.5\n[CommBaud]=9600.0\r\n\r\n[CommSlaveID]=12abc\r\n"
                      b"[DownloadSaveFile]=\xc4\x80\xe9.csv\r\nextra\r\n",
        "short": b"[COMMPORT]=2\r\n[CommBaud]=115200",
    }
    three_records = (bytes.fromhex("1517093041480000151709454148000f")
                     + bytes.fromhex("0f17100041480000"))
    flow = bytearray(b"\xff" * 100)
    flow[64:68] = b"Flow"
    image = {
        "three_records": log_image(1, image_block(1, 0, bytes.fromhex("00000000000000103f800000447a0000"))
                                   + image_block(2, 1, bytes(flow))
                                   + image_block(3, 0, three_records)),
        "newer_format": log_image(2, image_block(1, 0, bytes.fromhex("00000000000000103f800000447a0000"))),
        "missing_block": log_image(1, image_block(1, 0, bytes.fromhex("00000000000004003f800000447a0000"))
                                   + image_block(3, 0, three_records) + image_block(9, 0, b"later")),
    }
    return {"link_answer_fuzzer": link, "log_records_fuzzer": records,
            "download_fuzzer": download, "settings_file_fuzzer": settings,
            "log_image_fuzzer": image}


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                        pathlib.Path(__file__).resolve().parent.parent / "fuzz" / "corpus")
    for target, files in seeds().items():
        folder = root / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
