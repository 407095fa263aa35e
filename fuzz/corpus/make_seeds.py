#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz harnesses into fuzz/corpus/<harness>/.

Seeds are known wire vectors: frames of the internal link with their CRC,
service payloads as the internal processor sends them, R-Uzad messages as the
base unit sends them, launcher lines, JSON interface messages, the sample
installation's tables and NetworkManager reply scripts. Each harness reads its
own input format, described with the encoder below. The HTTP seeds
(fuzz_httprequest, fuzz_multipart) are written by hand and not touched here.

Run from anywhere: python3 fuzz/corpus/make_seeds.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SAMPLE = os.path.join(ROOT, "sim", "sample", "Applications")


# --- internal link -----------------------------------------------------------

def crc32_mpeg2(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def stuff(message):
    out = bytearray([0x82])
    for b in message:
        if b in (0x82, 0x0A, 0x90):
            out += bytes([0x90, b ^ 0x80])
        else:
            out.append(b)
    out.append(0x0A)
    return bytes(out)


def packet(cls, number, service, payload=b""):
    return bytes([(cls * 64 + number) & 0xFF, service]) + payload


def frame(cls, number, service, payload=b""):
    message = packet(cls, number, service, payload)
    return stuff(message + struct.pack(">I", crc32_mpeg2(message)))


# --- R-Uzad ------------------------------------------------------------------

def ruzad(msg_id, payload=b"", timestamp=0x01020304):
    return b"LrdA" + struct.pack("<BBHI", msg_id, 0, len(payload), timestamp) + payload


def initack(code, text):
    raw = text.encode()[:40]
    return ruzad(2, struct.pack("<H", code) + raw + bytes(40 - len(raw)))


HEARTBEAT = ruzad(0)
INITACK_OK = initack(0, "ok")
INITACK_CHECKSUM = initack(4, "application checksum mismatch")
COMMAND = ruzad(3, bytes(range(16)))
PERIODIC = ruzad(4, bytes([0x01, 0x00, 0x2A, 0x00, 0x10, 0x27]))
BU_STATUS = ruzad(8, bytes([0x27, 0x00, 0x01]))
E_STOP = ruzad(7, b"\x00")
POWER_OFF = ruzad(6)


# --- FuzzedDataProvider ------------------------------------------------------

def fdp(records):
    """Input for a harness that takes (integer byte, random-length string) pairs
    with FuzzedDataProvider: strings come from the front, each ended by a
    backslash and another character (a backslash in the data is doubled), and
    the integer bytes from the back, the first one last."""
    front = bytearray()
    back = bytearray()
    for op, data in records:
        front += data.replace(b"\\", b"\\\\") + b"\\x"
        back.insert(0, op)
    return bytes(front + back)


# --- writers -----------------------------------------------------------------

def write(harness, name, data):
    folder = os.path.join(HERE, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def fresh(harness):
    folder = os.path.join(HERE, harness)
    if os.path.isdir(folder):
        shutil.rmtree(folder)


def transport():
    h = "fuzz_transport"
    fresh(h)
    # First byte even: the pieces as they come off the line.
    write(h, "ack_service3", b"\x00" + frame(3, 5, 3))
    write(h, "class1_service0", b"\x00" + frame(1, 0, 0, b"\x01"))
    write(h, "class2_service0", b"\x00" + frame(2, 1, 0, b"\x00"))
    write(h, "notification_then_ack", b"\x00" + frame(1, 7, 3, bytes.fromhex("0005000300000200") + b"Shock\x00")
          + frame(3, 0, 3))
    write(h, "config_answer", b"\x00" + frame(3, 2, 2, bytes.fromhex("07010401")))
    write(h, "crc_only", b"\x00" + stuff(b"\xFF\xFF\xFF\xFF"))
    # First byte odd: packets whose CRC the harness fixes up.
    write(h, "fixed_requests", b"\x01" + packet(2, 17, 2, b"BUID") + b"\n" + packet(2, 3, 3, b"")
          + b"\n" + packet(1, 9, 1, bytes(16)))
    write(h, "fixed_escapes", b"\x01" + packet(1, 2, 5, bytes([0x82, 0x90, 0x10, 0x00])))


def services():
    h = "fuzz_services"
    fresh(h)

    def op(service, cls):
        return service | (cls << 3)

    tunnel_send, control = 6, 7
    write(h, "system_events", fdp([(op(0, 2), b"\x00"), (op(0, 1), b"\x0a"), (op(0, 1), b"\x0d"),
                                   (op(0, 1), b"\x65"), (op(0, 3), b"")]))
    write(h, "process_data", fdp([(op(1, 1), bytes([1, 0x05, 0x80, 0x00, 0x10, 0x27, 0xFF, 0x7F]) + bytes(12)),
                                  (op(1, 2), bytes([3, 0x01])), (op(1, 3), b"")]))
    write(h, "config_walk", fdp([(op(control, 1), b"")]
                                + [(op(2, 3), bytes.fromhex(v)) for v in
                                   ("07010401", "07010401", "FF000C02", "07010401", "FFFFFFFF",
                                    "05000000AABB", "0701", "2A000000")]))
    write(h, "config_requests", fdp([(op(2, 2), b"BUID"), (op(2, 2), b"AJS1"), (op(2, 2), b"XXXX"),
                                     (op(2, 2), b"BUI")]))
    write(h, "notifications", fdp([(op(3, 1), bytes.fromhex("0005000300000200") + b"Shock\x00"),
                                   (op(3, 1), bytes.fromhex("002C010100020200") + b"A"),
                                   (op(3, 1), bytes.fromhex("012C01")), (op(3, 2), b"\x03")]))
    write(h, "cfallback", fdp([(op(4, 1), bytes.fromhex("00ff10")), (op(4, 2), b"")]))
    write(h, "tunnel_both_ways", fdp([(tunnel_send, HEARTBEAT), (op(5, 1), b""),
                                      (op(5, 1), INITACK_OK[:20]), (op(5, 1), INITACK_OK[20:]),
                                      (op(5, 1), PERIODIC + BU_STATUS), (op(control, 0), b"")]))
    write(h, "tunnel_long", fdp([(tunnel_send, ruzad(5, bytes(range(256)) * 2)), (op(5, 1), b""),
                                 (op(5, 1), b""), (op(5, 2), b"")]))
    # An event byte beyond every event's value: dropped with a log line.
    write(h, "regression_event_out_of_range", fdp([(op(0, 1), b"\xb2"), (op(0, 2), b"\xfa")]))
    write(h, "outgoing_frame", fdp([(op(control, 3), b"\x00\x00\x2a\x00"), (op(control, 3), b"\x07\x02\x11\x22"),
                                    (op(control, 3), b"\x06\x03-5")]))


def ruzad_parse():
    h = "fuzz_ruzad_parse"
    fresh(h)
    tcp, fallback, reset = 4, 1, 0
    write(h, "tcp_handshake", fdp([(tcp, INITACK_OK), (tcp, HEARTBEAT)]))
    write(h, "tcp_split", fdp([(tcp, PERIODIC[:5]), (tcp, PERIODIC[5:] + BU_STATUS), (tcp, E_STOP)]))
    write(h, "tcp_refused", fdp([(tcp, INITACK_CHECKSUM)]))
    write(h, "tcp_garbage_then_message", fdp([(tcp, b"junkLrd" + COMMAND)]))
    write(h, "fallback_messages", fdp([(fallback, HEARTBEAT), (fallback, COMMAND + POWER_OFF)]))
    write(h, "fallback_reset_midway", fdp([(fallback, PERIODIC[:9]), (reset, b""), (fallback, BU_STATUS)]))


def configfile():
    h = "fuzz_configfile"
    fresh(h)
    config = os.path.join(SAMPLE, ".config")
    for name in ("remoteInternalInputTags.csv", "remoteInternalOutputTags.csv", "baseToRemoteStatusTags.csv"):
        with open(os.path.join(config, name), "rb") as f:
            write(h, name, f.read())
    for name in ("app.csv", "keys.csv", "users.csv", "periodicdata.csv"):
        with open(os.path.join(SAMPLE, "crane", "config", name), "rb") as f:
            write(h, "crane_" + name, f.read())
    with open(os.path.join(SAMPLE, "crane", "manifest.csv"), "rb") as f:
        write(h, "crane_manifest.csv", f.read())


def tag():
    h = "fuzz_tag"
    fresh(h)

    def seed(dtype, byte_size, start_bit, bit_size, start_byte, data):
        return bytes([dtype]) + struct.pack("<HHHH", byte_size, start_bit, bit_size, start_byte) + data

    write(h, "uint16_258", seed(1, 2, 0, 0, 0, b"\x02\x01"))
    write(h, "be_uint16", seed(2, 2, 0, 0, 1, b"\x00\x01\x02"))
    write(h, "int8_minus1", seed(3, 1, 0, 0, 0, b"\xFF"))
    write(h, "real", seed(5, 4, 0, 0, 0, struct.pack("<f", 1.5)))
    write(h, "string", seed(7, 6, 0, 0, 0, b"crane\x00"))
    write(h, "raw_leds", seed(8, 8, 0, 0, 0, bytes.fromhex("1122334455667788")))
    write(h, "boolean_bit1", seed(9, 1, 1, 0, 1, b"\x00\x02"))
    write(h, "bitfield", seed(1, 2, 3, 5, 0, b"\xF8\x00"))


def launcher():
    h = "fuzz_launcher"
    fresh(h)
    for name, text in (("heartbeat_42", b"heartbeat 42\n"), ("heartbeat", b"heartbeat\n"),
                       ("user_logged_in", b"userLoggedInIs anna admin\n"),
                       ("app_start", b"appStart /opt/Applications/crane/crane_ui\n"),
                       ("two_lines", b"notify x\nappCloseAll\n"), ("unknown", b"restart now\n")):
        write(h, name, text)


def jsoninterface():
    h = "fuzz_jsoninterface"
    fresh(h)
    for name, text in (
            ("arm", '{"msgtype":"event","event":{"eventName":"arm"}}'),
            ("disarm", '{"msgtype":"event","event":{"eventName":"disarm"}}'),
            ("settag_touch", '{"msgtype":"event","event":{"eventName":"settag","name":"touch_mode","value":"2"}}'),
            ("settag_backlight",
             '{"msgtype":"event","event":{"eventName":"settag","name":"backlightIntensity","value":"0.5"}}'),
            ("settag_led", '{"msgtype":"event","event":{"eventName":"settag","name":"led3","value":"1"}}'),
            ("ack", '{"msgtype":"event","event":{"eventName":"acknotification","notificationAckRef":7}}'),
            ("closeapp", '{"msgtype":"event","event":{"eventName":"closeapp"}}'),
            ("wrong_type", '{"msgtype":"Event","event":{"eventName":"arm"}}')):
        write(h, name, text.encode())


def wifi():
    """Scripts for the WiFi harness: an operation byte, then one reply per call.
    A reply starts with a head byte (not 0 modulo 16; modulo 8: 1 no argument,
    2 two, else one; 0x10 wraps property values in a variant), then values:
    a kind byte (modulo 13) and its content. Kind 5 is text, whose head byte
    names a word of the harness's list when its top bit is set (0x82 "wlan0",
    0x84 "connection", 0x85 "id", 0x86 "uuid", 0x87 "802-11-wireless",
    0x89 "ssid")."""
    h = "fuzz_wifi"
    fresh(h)
    head = b"\x13"
    U8, TEXT, PATH, PATHS, SETTINGS = 0, 5, 6, 8, 12
    WLAN0, CONNECTION, ID, UUID, WIRELESS, SSID = b"\x82", b"\x84", b"\x85", b"\x86", b"\x87", b"\x89"

    def path(*segments):
        out = bytes([len(segments)])
        for seg in segments:
            out += bytes([len(seg) - 1]) + bytes(_index(c) for c in seg)
        return out

    def _index(c):
        return "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_".index(c)

    dev_eth, dev_wlan, ap = path("d", "a"), path("d", "b"), path("ap")
    devices = head + bytes([PATHS, 2]) + dev_eth + dev_wlan
    iface_eth = head + bytes([TEXT]) + b"\x04eth0"
    iface_wlan = head + bytes([TEXT]) + WLAN0
    active_ap = head + bytes([PATH]) + ap
    strength = head + bytes([U8, 73])
    write(h, "poll_strength_73", b"\x00" + devices + iface_eth + iface_wlan + active_ap + strength)
    write(h, "poll_no_wlan0", b"\x00" + head + bytes([PATHS, 1]) + dev_eth + iface_eth)
    write(h, "poll_error", b"\x00\x10")
    profiles = head + bytes([PATHS, 1]) + path("s", "a")
    settings = head + bytes([SETTINGS, 2]) + CONNECTION + b"\x02" + ID + bytes([TEXT]) + WLAN0 \
        + UUID + bytes([TEXT]) + b"\x03abc" + WIRELESS + b"\x01" + SSID + bytes([7, 4]) + b"fact"
    write(h, "lookup_profile", b"\x01" + profiles + settings)
    active = head + bytes([PATHS, 1]) + path("a", "a")
    active_id = head + bytes([TEXT]) + WLAN0
    write(h, "deactivate", b"\x02" + active + active_id + b"\x11")
    # GetDevices answered with settings (a{sa{sv}}) where a list of paths belongs.
    write(h, "regression_devices_as_settings", bytes.fromhex("c4c4f641"))
    write(h, "connect", b"\x03" + active + active_id + b"\x11" + profiles + settings + b"\x11" + profiles
          + settings + b"\x11")


def main():
    transport()
    services()
    ruzad_parse()
    configfile()
    tag()
    launcher()
    jsoninterface()
    wifi()


if __name__ == "__main__":
    main()
