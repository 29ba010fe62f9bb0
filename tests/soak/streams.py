"""Station streams for the soak run.

Every packet carries a marker (station number and position in the loop), so
that a packet found in a recording can be traced back to the unit the
simulated device sent: the device numbers its units by broadcast index, and
index = position (mod loop length).  Time packets carry the marker behind
their stuffing, where neither the recorder nor the simulator looks.
"""
import struct

PACKET = 188
MARKER = b"SOAK"
DATA_PID = 0x0100
TIME_PID = 0x0014


def _crc_table():
    table = []
    for i in range(256):
        crc = i << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else (crc << 1)
        table.append(crc & 0xFFFFFFFF)
    return table


_TABLE = _crc_table()


def crc32_mpeg2(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _TABLE[((crc >> 24) ^ b) & 0xFF]
    return crc


def _bcd(v):
    return (v // 10) << 4 | (v % 10)


def mjd(year, month, day):
    # Days since 1858-11-17 by the proleptic Gregorian calendar.
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    jdn = day + (153 * m + 2) // 5 + 365 * y + y // 4 - y // 100 + y // 400 - 32045
    return jdn - 2400001


def tot_section(year, month, day, hour, minute, second):
    """A Time Offset Table section without descriptors (14 bytes, CRC included)."""
    body = bytes([0x73, 0xB0, 0x0B]) + struct.pack(">H", mjd(year, month, day)) + bytes(
        [_bcd(hour), _bcd(minute), _bcd(second), 0xF0, 0x00])
    return body + struct.pack(">I", crc32_mpeg2(body))


def _marker(station, pos):
    return MARKER + bytes([station]) + struct.pack(">I", pos)


def data_packet(station, pos):
    head = bytes([0x47, DATA_PID >> 8, DATA_PID & 0xFF, 0x10 | (pos & 0x0F)])
    body = _marker(station, pos)
    return head + body + b"\xff" * (PACKET - len(head) - len(body))


def time_packet(station, pos, section, pointer=0):
    """PID 0x0014 packet. With pointer > 0 the section at byte 5 lies before the
    point the pointer field names, where only a reader ignoring the pointer finds it."""
    head = bytes([0x47, 0x40 | (TIME_PID >> 8), TIME_PID & 0xFF, 0x10 | (pos & 0x0F), pointer])
    tail = _marker(station, pos)
    fill = PACKET - len(head) - len(section) - len(tail)
    return head + section + b"\xff" * fill + tail


def station_stream(station, loop, time_every, stale_at=None, stale_time=None):
    """`loop` packets; a time packet at every multiple of `time_every`; when
    `stale_at` is given, that position carries a time section the simulator does
    not re-stamp (a broadcast clock stepping back to `stale_time`)."""
    placeholder = tot_section(2000, 1, 1, 0, 0, 0)
    out = bytearray()
    for pos in range(loop):
        if pos == stale_at:
            section = tot_section(*stale_time)
            out += time_packet(station, pos, section, pointer=len(section))
        elif pos % time_every == 0:
            out += time_packet(station, pos, placeholder)
        else:
            out += data_packet(station, pos)
    return bytes(out)


def read_marker(packet):
    """(station, position, is_time_packet) of a soak packet, or None."""
    if len(packet) != PACKET or packet[0] != 0x47:
        return None
    is_time = packet[1] & 0x1F == 0 and packet[2] == TIME_PID
    at = PACKET - 9 if is_time else 4
    if packet[at:at + 4] != MARKER:
        return None
    return packet[at + 4], struct.unpack(">I", packet[at + 5:at + 9])[0], is_time


def packet_time(packet):
    """Seconds since 2000-01-01 of the TOT at byte 5 (as the recorder reads it), or None."""
    if packet[5] != 0x73:
        return None
    day = struct.unpack(">H", packet[8:10])[0] - mjd(2000, 1, 1)
    digits = [((b >> 4) * 10 + (b & 0x0F)) for b in packet[10:13]]
    return day * 86400 + digits[0] * 3600 + digits[1] * 60 + digits[2]
