#!/usr/bin/env python3
"""Appends management-server (Wardline) settings to a built installer.

  wardline_payload.py INPUT OUTPUT --server-address URL --url-path PATH
                      (--public-key BASE64 | --public-key-file DER) [--ucrt-url URL]
  wardline_payload.py INPUT OUTPUT --profile FILE

Only the management-server build of the installer (VmNetworkInstallerWardline.exe) looks for
these settings. It copies everything behind its own image into "wl.ini" beside itself and reads
the "Wardline" section there; it runs in management-server mode when ServerAddress, UrlPath and a
valid PublicKey are all present. ServerAddress and UrlPath are joined as they are, so one of them
must carry the "/" between them.

An unsigned installer gets the text appended. A signed one gets it appended inside its
Authenticode certificate table (the table and its entry grow, the checksum is updated), which the
signature does not cover: the file keeps verifying. Values must be ASCII, since the installer
reads the text in the ANSI code page. A file that already carries a payload is refused.
"""

import argparse
import base64
import binascii
import struct
import sys

SECURITY_DIRECTORY = 4
SECTION = b"[Wardline]"


class PayloadError(Exception):
    pass


class Image:
    """The parts of a PE file this tool needs: where the image ends, the certificate table's
    directory entry and the checksum."""

    def __init__(self, data):
        try:
            self._read(data)
        except struct.error:
            raise PayloadError("the file ends inside its own headers (truncated?)") from None

    def _read(self, data):
        if len(data) < 64 or data[:2] != b"MZ":
            raise PayloadError("not a Windows program (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            raise PayloadError("not a Windows program (no PE header)")
        sections, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        optional = pe + 24
        magic, = struct.unpack_from("<H", data, optional)
        if magic not in (0x10B, 0x20B):
            raise PayloadError(f"unknown optional header magic 0x{magic:x}")
        directories = optional + (96 if magic == 0x10B else 112)
        self.checksum_offset = optional + 64
        self.security_offset = directories + 8 * SECURITY_DIRECTORY
        if self.security_offset + 8 > optional + optional_size:
            raise PayloadError("the program has no certificate table entry")
        table = optional + optional_size
        size_of_headers, = struct.unpack_from("<I", data, optional + 60)
        # As the installer measures it: the end of the furthest section's raw data.
        self.image_size = size_of_headers
        for i in range(sections):
            raw_size, raw_pointer = struct.unpack_from("<II", data, table + 40 * i + 16)
            if raw_size:
                self.image_size = max(self.image_size, raw_pointer + raw_size)
        self.table_offset, self.table_size = struct.unpack_from("<II", data, self.security_offset)

    @property
    def signed(self):
        return self.table_size != 0


def pe_checksum(data, checksum_offset):
    """The checksum the image header stores: the file summed as 16-bit words with the carries
    folded back in, the checksum field counted as zero, plus the file length."""
    words = bytearray(data)
    words[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(words) % 2:
        words += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def profile_text(server, url_path, public_key, ucrt_url):
    lines = ["", "[Wardline]", f"ServerAddress={server}", f"UrlPath={url_path}",
             f"PublicKey={public_key}"]
    if ucrt_url is not None:
        lines.append(f"UniversalCRTUrl={ucrt_url}")
    return "\r\n".join(lines) + "\r\n"


def encode_profile(text):
    try:
        body = text.encode("ascii")
    except UnicodeEncodeError as e:
        raise PayloadError(f"the settings must be ASCII text; {text[e.start:e.end]!r} is not "
                           "(percent-encode addresses)") from None
    if b"\0" in body:
        raise PayloadError("the settings contain a NUL character")
    if SECTION.lower() not in body.lower():
        raise PayloadError("the settings have no [Wardline] section")
    # Starts on a line of its own whatever precedes it, and ends with a line end.
    if not body.startswith(b"\r\n"):
        body = b"\r\n" + body
    if not body.endswith(b"\n"):
        body += b"\r\n"
    return body


def append_payload(data, body):
    image = Image(data)
    if len(data) < image.image_size:
        raise PayloadError("the file is shorter than its own image")
    if not image.signed:
        if len(data) != image.image_size:
            raise PayloadError("the program already carries data behind its image")
        return data + body

    end = image.table_offset + image.table_size
    if end != len(data):
        raise PayloadError("the certificate table is not at the end of the file")
    if image.table_size < 8:
        raise PayloadError("the certificate table is too small to hold a signature entry")
    entry_length, = struct.unpack_from("<I", data, image.table_offset)
    if (entry_length + 7) // 8 * 8 != image.table_size:
        raise PayloadError("the certificate table holds more than one signature entry, or "
                           "already carries a payload")
    # The signature entry keeps its DER blob; the text follows it inside the same entry, padded
    # with spaces (blank to the profile reader) to the 8-byte alignment of the table.
    grown = bytearray(data) + body
    grown += b" " * ((8 - len(grown) % 8) % 8)
    new_size = len(grown) - image.table_offset
    struct.pack_into("<I", grown, image.table_offset, new_size)
    struct.pack_into("<II", grown, image.security_offset, image.table_offset, new_size)
    if struct.unpack_from("<I", grown, image.checksum_offset)[0] != 0:
        struct.pack_into("<I", grown, image.checksum_offset,
                         pe_checksum(bytes(grown), image.checksum_offset))
    return bytes(grown)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n", 2)[2])
    parser.add_argument("input", help="the built installer")
    parser.add_argument("output", help="where the installer with settings is written")
    parser.add_argument("--profile", help="a complete profile text with a [Wardline] section")
    parser.add_argument("--server-address")
    parser.add_argument("--url-path")
    key = parser.add_mutually_exclusive_group()
    key.add_argument("--public-key", help="the management server's public key, Base64")
    key.add_argument("--public-key-file", help="the management server's public key, DER")
    parser.add_argument("--ucrt-url", help="download address of the universal C run time")
    args = parser.parse_args(argv)

    try:
        if args.profile:
            if args.server_address or args.url_path or args.public_key or args.public_key_file:
                raise PayloadError("--profile replaces the other settings options")
            with open(args.profile, "r", encoding="ascii", errors="surrogateescape",
                      newline="") as f:
                text = f.read()
        else:
            if not (args.server_address and args.url_path and (args.public_key or args.public_key_file)):
                raise PayloadError("--server-address, --url-path and a public key are required")
            if args.public_key_file:
                with open(args.public_key_file, "rb") as f:
                    public_key = base64.b64encode(f.read()).decode("ascii")
            else:
                public_key = args.public_key
                try:
                    base64.b64decode(public_key, validate=True)
                except binascii.Error as e:
                    raise PayloadError(f"--public-key is not Base64: {e}") from None
            text = profile_text(args.server_address, args.url_path, public_key, args.ucrt_url)
        with open(args.input, "rb") as f:
            data = f.read()
        result = append_payload(data, encode_profile(text))
        with open(args.output, "wb") as f:
            f.write(result)
    except (OSError, PayloadError) as e:
        print(f"wardline_payload: error: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
