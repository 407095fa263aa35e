#!/usr/bin/env python3
"""Turns a capture of the remote's serial line into a pcap file for Wireshark.

Input: the text file that `norvik-desk --capture FILE` writes. A first line
starting with '#', then one line per piece of bytes as it was read from or
written to the line:

    <microseconds since the Unix epoch> <RU|IP> <bytes in hex>

RU marks bytes sent by the remote's application processor (the library), IP
bytes sent by the internal processor. Pieces need not be whole frames.

Output: a pcap file on a user link type (DLT_USER0 = 147 unless --dlt says
otherwise) with one packet per frame and direction. Each packet is a one-byte
pseudo-header followed by the frame exactly as on the wire (start byte,
stuffed message, end byte):

    byte 0   direction: 0 = remote to internal processor, 1 = internal
             processor to remote
    byte 1.. the frame

A frame ends at the byte 0x0A, as the receiving terminal cuts the line. Bytes
that never see an end byte (the capture stopped, or noise hit it) still make
one packet at the end of the capture, so damaged traffic shows up as damaged
frames rather than breaking the conversion. Its time stamp is that of the
piece that completed the frame.

norvik.lua in this folder dissects the result.
"""

import argparse
import struct
import sys

DLT_USER0 = 147
FRAME_END = 0x0A
DIRECTIONS = {"RU": 0, "IP": 1}


def read_pieces(lines):
    """Yields (microseconds, direction, bytes) for every record; complains about broken lines."""
    for number, text in enumerate(lines, 1):
        text = text.strip()
        if not text or text.startswith("#"):
            continue
        fields = text.split()
        if len(fields) not in (2, 3) or fields[1] not in DIRECTIONS:
            raise ValueError(f"line {number}: not '<microseconds> RU|IP <hex>': {text[:60]}")
        try:
            stamp = int(fields[0])
            data = bytes.fromhex(fields[2]) if len(fields) == 3 else b""
        except ValueError as error:
            raise ValueError(f"line {number}: {error}") from None
        yield stamp, DIRECTIONS[fields[1]], data


def frames(pieces):
    """Yields (microseconds, direction, frame) in the order the frames were completed."""
    pending = {direction: bytearray() for direction in DIRECTIONS.values()}
    last_stamp = 0
    for stamp, direction, data in pieces:
        last_stamp = stamp
        buffer = pending[direction]
        for byte in data:
            buffer.append(byte)
            if byte == FRAME_END:
                yield stamp, direction, bytes(buffer)
                buffer.clear()
    for direction, buffer in pending.items():
        if buffer:
            yield last_stamp, direction, bytes(buffer)


def write_pcap(out, packets, dlt):
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, dlt))
    count = 0
    for stamp, direction, frame in packets:
        record = bytes([direction]) + frame
        seconds, micros = divmod(stamp, 1_000_000)
        out.write(struct.pack("<IIII", seconds, micros, len(record), len(record)))
        out.write(record)
        count += 1
    return count


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("capture", help="capture written by norvik-desk --capture")
    parser.add_argument("pcap", help="pcap file to write")
    parser.add_argument("--dlt", type=int, default=DLT_USER0,
                        help="link type, 147 to 162 (DLT_USER0 to DLT_USER15); default 147")
    args = parser.parse_args(argv)
    if not 147 <= args.dlt <= 162:
        parser.error("--dlt must be one of the user link types 147 to 162")
    try:
        with open(args.capture, encoding="ascii", errors="replace") as source, \
                open(args.pcap, "wb") as out:
            count = write_pcap(out, frames(read_pieces(source)), args.dlt)
    except (OSError, ValueError) as error:
        print(f"serialcap2pcap: {error}", file=sys.stderr)
        return 1
    print(f"{count} frames written to {args.pcap}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
