#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are the protocol's own example frames (every command's reply,
error replies, refusals, short and inconsistent frames), connection texts,
address texts, settings files and texts in each code page, in the input
format each target reads (see the comment at the top of each fuzz_*.cpp and
FakeLink.h). Run it again after changing a format; the files are kept in
the repository.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def crc16(payload):
    r = 0
    for d in payload:
        t, b = 0, r & 0xFF00
        for _ in range(8):
            t = ((t << 1) ^ 0x1021) if (b ^ t) & 0x8000 else (t << 1)
            t &= 0xFFFF
            b = (b << 1) & 0xFFFF
        r = (t ^ (r << 8) ^ d) & 0xFFFF
    return r


def frame(payload):
    payload = bytes(payload)
    c = crc16(payload)
    return b"\xF8\x55\xCE" + struct.pack("<H", len(payload)) + payload + struct.pack("<H", c)


def h(text):
    return bytes.fromhex(text)


def reply(data, piece=0, hang_up=False):
    """One scripted reply: shape byte, count, bytes."""
    shape = (piece & 0x7F) | (0x80 if hang_up else 0)
    return bytes([shape]) + struct.pack("<H", len(data)) + bytes(data)


SILENCE = reply(b"")

NAME = frame(h("20 39 30 00 00 53 63 61 6C 65 0D 0A"))
WEIGHT = frame(h("23 E8 03 00 00 02 01 00 01"))
TARE = frame(h("A1 10 27 00 00"))
ACK = frame(h("16"))
NACK = frame(h("15"))
ETHERNET = frame(h("2D 0A 01 A8 C0 00 FF FF FF 01 01 A8 C0 89 13"))
SSID = frame(h("3A 88 13 4E 65 74 0D 0A 6B 65 79 0D 0A"))
WIFI_IP = frame(h("33 05 00 00 0A 00 00 00 FF 01 00 00 0A 01 04 A8 C0 88 13"))


def error_reply(e):
    return h("F8 55 CE 02 00 28") + bytes([e, e, 0x28])


def long_error(e):
    return frame(bytes([0x28, e, 0x00]))


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def reply_seeds():
    frames = {
        "name": NAME, "weight": WEIGHT, "tare": TARE, "ack": ACK, "nack": NACK,
        "ethernet": ETHERNET, "ssid": SSID, "wifi-ip": WIFI_IP,
        "error17": error_reply(0x11), "error5": error_reply(5), "error3": error_reply(3),
        "error0": error_reply(0), "long-error": long_error(0x10),
        "five-bytes": h("F8 55 CE 01 00"), "six-bytes": h("F8 55 CE 01 00 20"),
        "length1": h("F8 55 CE 01 00 20 20 00"), "length2-short": h("F8 55 CE 02 00 20 20 00"),
        "bad-header": b"\x00" + WEIGHT[1:], "bad-checksum": WEIGHT[:-2] + b"\xAA\xBB",
        "surplus": WEIGHT + b"\x00", "full-frame": frame(bytes([0x20]) + b"n" * 1493),
        "announces-65535": h("F8 55 CE FF FF") + b"\x23" * 1497,
    }
    for transport, bit in (("tcp", 0), ("serial", 1)):
        for name, f in frames.items():
            write("reply", f"{transport}-{name}", bytes([bit]) + reply(f))
        write("reply", f"{transport}-pieces-of-3", bytes([bit]) + reply(error_reply(0x11), piece=3))
        write("reply", f"{transport}-pieces-of-1", bytes([bit]) + reply(WEIGHT, piece=1))
        write("reply", f"{transport}-silence-then-reply", bytes([bit]) + SILENCE + reply(WEIGHT))
        write("reply", f"{transport}-hang-up-before", bytes([bit]) + reply(b"", hang_up=True) + reply(WEIGHT))
        write("reply", f"{transport}-hang-up-inside", bytes([bit]) + reply(WEIGHT[:7], hang_up=True))
        write("reply", f"{transport}-noise", bytes([bit]) + reply(bytes(range(256)) * 8, piece=100))


COMMANDS = ["ReadWeight", "GetTare", "SetTare", "SetZero", "GetName", "SetName", "GetEthernet",
            "SetEthernet", "GetWiFi", "SetWifi", "GetWiFiAP", "SetWiFiAP", "OpenConnection",
            "CloseConnection"]


def commands_input(serial, commands, replies):
    head = (1 if serial else 0) | ((len(commands) - 1) << 1)
    return bytes([head] + [COMMANDS.index(c) for c in commands]) + b"".join(replies)


def commands_seeds():
    normal = {
        "ReadWeight": [WEIGHT], "GetTare": [TARE], "SetTare": [ACK], "SetZero": [ACK],
        "GetName": [NAME], "SetName": [ACK], "GetEthernet": [NAME, ETHERNET], "SetEthernet": [ACK],
        "GetWiFi": [NAME, SSID, WIFI_IP], "SetWifi": [ACK, WIFI_IP, ACK], "GetWiFiAP": [NAME, WIFI_IP],
        "SetWiFiAP": [WIFI_IP, ACK], "OpenConnection": [NAME], "CloseConnection": [],
    }
    for serial in (False, True):
        t = "serial" if serial else "tcp"
        for command, frames in normal.items():
            write("commands", f"{t}-{command}", commands_input(serial, [command], [reply(f) for f in frames]))
            # The last exchange of the command fails in each of these ways.
            faults = {
                "error17": error_reply(0x11), "error16": error_reply(0x10), "nack": NACK,
                "long-error-ethernet": long_error(0x11), "long-error-wifi": long_error(0x10),
                "short": frames[-1][:-1] if frames else b"", "bad-checksum": (frames[-1][:-2] + b"\0\0") if frames else b"",
            }
            for fault, bad in faults.items():
                if not frames:
                    continue
                replies = [reply(f) for f in frames[:-1]] + [reply(bad)]
                write("commands", f"{t}-{command}-{fault}", commands_input(serial, [command], replies))
        # Fields read from the scale and sent back.
        long_name = frame(h("20 01 00 00 00") + b"N" * 1480 + h("0D 0A"))
        long_ssid = frame(h("3A 88 13") + b"S" * 700 + h("0D 0A") + b"K" * 700 + h("0D 0A"))
        write("commands", f"{t}-GetName-SetName-long", commands_input(
            serial, ["GetName", "SetName"], [reply(long_name), reply(ACK)]))
        write("commands", f"{t}-GetWiFi-SetWifi-long", commands_input(
            serial, ["GetWiFi", "SetWifi"], [reply(NAME), reply(long_ssid), reply(WIFI_IP), reply(ACK)]))
        # Whole frames (1494 payload bytes) whose texts run to the frame's end.
        full_name = frame(h("20 01 00 00 00") + b"N" * 1489)
        full_ssid = frame(h("3A 88 13") + b"S" * 700 + h("0D 0A") + b"K" * 789)
        write("commands", f"{t}-GetName-full-frame", commands_input(serial, ["GetName", "SetName"],
                                                                     [reply(full_name), reply(ACK)]))
        write("commands", f"{t}-GetWiFi-full-frame", commands_input(
            serial, ["GetWiFi"], [reply(NAME), reply(full_ssid), reply(WIFI_IP)]))
        write("commands", f"{t}-GetTare-negative-SetTare", commands_input(
            serial, ["GetTare", "SetTare"], [reply(frame(h("A1 FF FF FF FF")))]))
        write("commands", f"{t}-weight-split-hang-up", commands_input(
            serial, ["ReadWeight", "ReadWeight"], [reply(WEIGHT, piece=5, hang_up=True), reply(WEIGHT)]))
        write("commands", f"{t}-close-open-weight", commands_input(
            serial, ["CloseConnection", "OpenConnection", "ReadWeight"], [reply(NAME), reply(WEIGHT)]))


def connection_seeds():
    texts = ["COM3", "COM12", "COM65539", "COM-1", "COMX", "com3", "C12", "CXX7", "COM 5", "COM$10",
             "192.168.0.5:5001", "192.168.0.5", "127.0.0.1:5001", "1:2:3", "127.0.0.1:", "1.2.3.4:0",
             "1.2.3.4:65537", "1.2.3.4:-1", "9host:5001", "X1", "", ":", "0:1"]
    for i, text in enumerate(texts):
        write("connection", f"text-{i:02d}", b"\0" + text.encode("latin-1"))
    for i, text in enumerate(["COM\u0663", "1\u00e9:5001", "C\u041e\u041c3", "127.0.0.1:\uff15"]):
        write("connection", f"utf16-{i}", b"\1" + text.encode("utf-16-le"))


def address_seeds():
    texts = ["192.168.1.1", "10.0.0.1", "1.0.0.0", "1.02.003.4", "255.255.255.255",
             "9.0.0.00000000000000000001", "", "0.0.0.0", "01.2.3.4", "256.1.1.1", "192.168.0.256",
             "1.2.3", "1.2.3.4.5", "1.2.3.4.", "1..2.3", ".1.2.3", "a1.2.3.4", "1.2.3.a", "1.2.3.4 ",
             "1. 2.3.4", "1.-2.3.4", "1.+2.3.4", "1.$A.3.4", "1.2.3.99999999999999999999", "1.0x10.3.4"]
    for i, text in enumerate(texts):
        write("address", f"text-{i:02d}", b"\0" + text.encode("latin-1"))
    write("address", "utf16-arabic-digit", b"\1" + "1.2.3.\u0664".encode("utf-16-le"))


def settings_seeds():
    files = {
        "empty": "",
        "logging": "[Settings]\r\nLogging=1\r\n",
        "complete": "[Settings]\r\nLogging=1\r\nLCID=409\r\nComSoftTimeout=3000\r\nComHardTimeout=400\r\n",
        "zero": "[Settings]\r\nComSoftTimeout=0\r\nComHardTimeout=abc\r\nLCID=0x419\r\n",
        "negative": "[settings]\nLCID=10419\nComSoftTimeout=-5\nComHardTimeout= 1500 \n",
        "other-sections": "; comment\n[Other]\nLCID=409\n[Settings]\nLCID=42B\n\n[Settings]\nComSoftTimeout=7\n",
        "no-newline": "[Settings]\nComSoftTimeout=\"3500\"",
        "bom": "\ufeff[Settings]\r\nLCID=43F\r\n",
    }
    for name, text in files.items():
        write("settings", name, text.encode("utf-8"))


def encode_seeds():
    rows = [0x402, 0x409, 0x40C, 0x410, 0x419, 0x426, 0x42B, 0x42C, 0x43F, 0x442]
    texts = ["\u0412\u0435\u0441\u044b", "Caf\u00e9", "\u018f\u0259", "\u0531(),-.", "\u0101",
             "\u049a", "\u0148", "Scale", "\U0001F600\u20ac"]
    for i, lcid in enumerate(rows):
        for j, text in enumerate(texts):
            write("encode", f"row{i}-text{j}", bytes([i]) + text.encode("utf-16-le"))
    for lcid in (0x809, 0x10419, 0):
        write("encode", f"lcid-{lcid:x}", bytes([0xFF]) + struct.pack("<I", lcid) + "Caf\u00e9".encode("utf-16-le"))


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    reply_seeds()
    commands_seeds()
    connection_seeds()
    address_seeds()
    settings_seeds()
    encode_seeds()
    for target in sorted(os.listdir(CORPUS)):
        print(f"{target}: {len(os.listdir(os.path.join(CORPUS, target)))} seeds")


if __name__ == "__main__":
    main()
