#!/usr/bin/python3
"""Makes a built Windows executable ready to ship, in place: its PE time stamp becomes the build's
SOURCE_DATE_EPOCH, it is signed with Authenticode (SHA-256) when a PKCS#12 file is given, and its
file time becomes SOURCE_DATE_EPOCH too, as an installer that packs it stores that time.

Usage: finalize_pe.py --epoch SECONDS [--pfx FILE --password-file FILE --product NAME
                      [--timestamp-url URL]] EXE
   or: finalize_pe.py @OPTIONS_FILE EXE, the options one per line

The password is read by osslsigncode from its file; it never appears on a command line.
"""

import argparse
import os
import subprocess
import sys

import pefile


def stamp(path, epoch):
    pe = pefile.PE(path, fast_load=True)
    pe.FILE_HEADER.TimeDateStamp = epoch
    # A zero checksum means "not computed" (as NSIS leaves it); any other is kept true.
    if pe.OPTIONAL_HEADER.CheckSum != 0:
        pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = pe.write()
    pe.close()
    with open(path, "wb") as out:
        out.write(data)


def sign(path, pfx, password_file, product, timestamp_url):
    signed = path + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file, "-h", "sha256",
               "-n", product, "-in", path, "-out", signed]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        if os.path.exists(signed):
            os.remove(signed)
        sys.exit(f"signing {path} failed:\n{result.stdout}")
    os.replace(signed, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0], fromfile_prefix_chars="@")
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--pfx", default="")
    parser.add_argument("--password-file", default="")
    parser.add_argument("--timestamp-url", default="")
    parser.add_argument("--product", default="", help="the name the signature describes")
    parser.add_argument("exe")
    args = parser.parse_args()

    stamp(args.exe, args.epoch)
    if args.pfx:
        if not args.password_file:
            sys.exit("--pfx needs --password-file")
        sign(args.exe, args.pfx, args.password_file, args.product, args.timestamp_url)
    os.utime(args.exe, (args.epoch, args.epoch))


if __name__ == "__main__":
    main()
