#!/usr/bin/python3
"""What a release carries of others' work, from the Debian packages installed here.

  third_party.py notices --product NAME --version V --epoch SECONDS OUT
      THIRD-PARTY-NOTICES.txt: each third-party component in a shipped executable, the package
      and version it came from, and its licence as that package's copyright file gives it; its
      file time is SECONDS, as the installer that packs it stores that time.
  third_party.py sbom --info release-info.json --commit SHA --dist FOLDER
                      --desktop quarrion_desktop.exe --record quarrion_record.exe OUT FILE...
      An SPDX 2.3 JSON bill of materials: the release's FILEs with SHA-256, the toolchain's
      packages with their Debian versions, and how they went into each file. The product's
      name, version, company and time come from the build's release-info.json.

Both are the same bytes wherever they are made from the same packages and arguments.
"""

import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse

TARGET = "i686-w64-mingw32"
COMPILER = TARGET + "-g++-posix"


def linked_file(name):
    """A file of the toolchain that the compiler links into every program."""
    return subprocess.run([COMPILER, "-print-file-name=" + name], check=True,
                          capture_output=True, text=True).stdout.strip()


def nsis_stub():
    """The installer's stub, for the compressor the setup script uses."""
    info = subprocess.run(["makensis", "-HDRINFO"], capture_output=True, text=True).stdout
    folder = re.search(r"NSISDIR=([^,\s]+)", info).group(1)
    return folder + "/Stubs/lzma-x86-unicode"


def package_of(path):
    """The Debian package that holds the file, with its version and architecture."""
    return installed(subprocess.run(["dpkg", "-S", os.path.realpath(path)], check=True,
                                    capture_output=True, text=True).stdout.split(":")[0])


def installed(name):
    """An installed Debian package, with its version and architecture."""
    version, arch = subprocess.run(["dpkg-query", "-W", "-f=${Version} ${Architecture}", name],
                                   check=True, capture_output=True, text=True).stdout.split()
    return {"name": name, "version": version, "arch": arch}


# Each component shipped inside our executables: what it is, a file of it that goes in, and
# which of its copyright file's stanzas cover what goes in (by their Files patterns).
COMPONENTS = [
    {
        "name": "mingw-w64 runtime libraries: the C runtime's start-up code, libmingw32 and "
                "libmingwex (formatting, maths, strings)",
        "into": "quarrion_shell.exe, quarrion_desktop.exe, quarrion_record.exe",
        "file": lambda: linked_file("crt2.o"),
        # Every part of the C runtime, as no list says which of its objects the linker took.
        "files": lambda patterns: "*" in patterns or any(
            p.startswith("mingw-w64-crt/") for p in patterns),
    },
    {
        "name": "winpthreads: POSIX threads for Windows, part of mingw-w64",
        "into": "quarrion_shell.exe, quarrion_desktop.exe, quarrion_record.exe",
        "file": lambda: linked_file("libwinpthread.a"),
        "files": lambda patterns: any(
            p.startswith("mingw-w64-libraries/winpthreads/")
            and not p.startswith("mingw-w64-libraries/winpthreads/tests") for p in patterns),
    },
    {
        "name": "NSIS: the installer's and uninstaller's stub, its plugins and LZMA decompression",
        "into": "quarrion_shell_setup.exe and the uninstall.exe it writes",
        "file": nsis_stub,
        "files": lambda patterns: "*" in patterns or "Source/7zip/*" in patterns,
    },
]

# Linked in too, but under the GCC Runtime Library Exception, which asks for no notice.
GCC_RUNTIME = {"file": lambda: linked_file("libstdc++.a"),
               "spdx": "GPL-3.0-or-later WITH GCC-exception-3.1"}


def paragraphs(path):
    with open(path, encoding="utf-8") as text:
        return [p for p in re.split(r"\n[ \t]*\n", text.read()) if p.strip()]


def field(paragraph, name):
    match = re.search(rf"^{name}:(.*(?:\n[ \t].*)*)", paragraph, re.MULTILINE)
    return match.group(1) if match else None


def licence_names(paragraph):
    first = (field(paragraph, "License") or "").splitlines()[0]
    return [n for n in re.split(r"\s+(?:and|or)\s+|,\s*", first.strip()) if n]


def stanzas(copyright_path, wanted):
    """The Files stanzas whose patterns `wanted` accepts, then each licence they name without
    giving its text. None at all is an error: the copyright file has changed shape."""
    all_paragraphs = paragraphs(copyright_path)
    chosen = [p for p in all_paragraphs
              if field(p, "Files") is not None and wanted(field(p, "Files").split())]
    if not chosen:
        sys.exit(f"{copyright_path} has no stanza for a component this release ships")
    texts = []
    for paragraph in chosen:
        body = (field(paragraph, "License") or "").splitlines()[1:]
        if not any(line.strip() for line in body):
            texts += [n for n in licence_names(paragraph) if n not in texts]
    licences = [p for p in all_paragraphs
                if field(p, "Files") is None and field(p, "License") is not None
                and licence_names(p) and licence_names(p)[0] in texts]
    return chosen, licences


def notices(args):
    out = [f"Third-party notices for {args.product} {args.version}", "",
           "These programs of others are part of what this release ships. Each is listed with",
           "the Debian package it was built from and its licence, as that package's copyright",
           "file gives it.", ""]
    for component in COMPONENTS:
        package = package_of(component["file"]())
        copyright_path = f"/usr/share/doc/{package['name']}/copyright"
        chosen, licences = stanzas(copyright_path, component["files"])
        names = []
        for paragraph in chosen:
            names += [n for n in licence_names(paragraph) if n not in names]
        out += ["=" * 100, component["name"], f"In: {component['into']}",
                f"From: Debian package {package['name']} {package['version']}",
                f"Licences: {', '.join(names)}; as {copyright_path} gives them:", ""]
        for paragraph in chosen + licences:
            out += [paragraph.rstrip(), ""]
    libstdcxx = package_of(GCC_RUNTIME["file"]())
    libgcc = package_of(linked_file("libgcc.a"))
    out += ["=" * 100,
            "GCC's runtime libraries, linked into quarrion_shell.exe, quarrion_desktop.exe and",
            "quarrion_record.exe:",
            f"libstdc++ from Debian package {libstdcxx['name']} {libstdcxx['version']}, libgcc",
            f"from {libgcc['name']} {libgcc['version']}: {GCC_RUNTIME['spdx']}. The GCC Runtime",
            "Library Exception, version 3.1 (in their copyright files), permits shipping the",
            "programs they compiled under terms of our choice, with no notice required; it is",
            "named here for completeness.", ""]
    with open(args.out, "w", encoding="utf-8", newline="\n") as text:
        text.write("\n".join(out))
    os.utime(args.out, (args.epoch, args.epoch))


def spdx_id(kind, name):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def distribution():
    """The qualifier a Debian package URL names its release with, as debian-12."""
    with open("/etc/os-release", encoding="utf-8") as release:
        fields = dict(line.rstrip("\n").split("=", 1) for line in release if "=" in line)
    return f"{fields.get('ID', 'debian')}-{fields.get('VERSION_ID', '').strip(chr(34))}"


def package_element(package, licence, comment):
    def encoded(text):
        return urllib.parse.quote(text, safe="")
    return {
        "SPDXID": spdx_id("Package", package["name"]),
        "name": package["name"],
        "versionInfo": package["version"],
        "supplier": "Organization: Debian",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": "NOASSERTION",
        "licenseDeclared": licence,
        "copyrightText": "NOASSERTION",
        "comment": comment,
        "externalRefs": [{
            "referenceCategory": "PACKAGE-MANAGER",
            "referenceType": "purl",
            "referenceLocator": f"pkg:deb/debian/{encoded(package['name'])}@"
                                f"{encoded(package['version'])}?arch={package['arch']}"
                                f"&distro={distribution()}",
        }],
    }


def digests(path):
    with open(path, "rb") as data:
        content = data.read()
    return hashlib.sha1(content).hexdigest(), hashlib.sha256(content).hexdigest()


def sbom(args):
    with open(args.info, encoding="utf-8") as info:
        for key, value in json.load(info).items():
            setattr(args, key, value)
    args.epoch = int(args.epoch)
    product_id = spdx_id("Package", args.product)
    elements = {}
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": product_id}]

    def relate(a, kind, b):
        relationships.append({"spdxElementId": a, "relationshipType": kind,
                              "relatedSpdxElement": b})

    def add(package, licence, comment):
        element = package_element(package, licence, comment)
        elements.setdefault(element["SPDXID"], element)
        return element["SPDXID"]

    compiler_licence = "GPL-3.0-or-later AND " + GCC_RUNTIME["spdx"]
    runtime = add(package_of(linked_file("libwinpthread.a")), "ZPL-2.1 AND MIT AND BSD-3-Clause",
                  "mingw-w64's runtime and winpthreads, linked in statically")
    libstdcxx = add(package_of(linked_file("libstdc++.a")), compiler_licence,
                    "the C++ compiler, and libstdc++, linked in statically")
    libgcc = add(package_of(linked_file("libgcc.a")), compiler_licence,
                 "the C compiler, and libgcc, linked in statically")
    binutils = add(installed("binutils-mingw-w64-i686"), "GPL-3.0-or-later",
                   "the linker and resource compiler")
    stub = add(package_of(nsis_stub()), "Zlib AND CPL-1.0", "the installer's stub and plugins")
    makensis = add(installed("nsis"), "Zlib AND CPL-1.0 AND bzip2-1.0.6",
                   "makensis, which builds the installer")

    def program(element_id):
        for library in (runtime, libstdcxx, libgcc):
            relate(element_id, "STATIC_LINK", library)
        for tool in (libstdcxx, binutils):
            relate(tool, "BUILD_TOOL_OF", element_id)

    # Programs that ship inside setup only: the Linux desktop's registrar, and the keeper of the
    # install's record, which the uninstaller carries too.
    helpers = []
    for path, comment in (
            (args.desktop, "the Linux desktop's registrar, inside quarrion_shell_setup.exe"),
            (args.record, "the keeper of the install's record, inside quarrion_shell_setup.exe "
                          "and the uninstall.exe it writes")):
        name = os.path.basename(path)
        helper_sha1, helper_sha256 = digests(path)
        helper = spdx_id("Package", name)
        elements[helper] = {
            "SPDXID": helper, "name": name, "versionInfo": args.version,
            "supplier": f"Organization: {args.company}", "downloadLocation": "NOASSERTION",
            "filesAnalyzed": False, "licenseConcluded": "NOASSERTION",
            "licenseDeclared": "NOASSERTION", "copyrightText": f"Copyright (C) {args.company}",
            "checksums": [{"algorithm": "SHA1", "checksumValue": helper_sha1},
                          {"algorithm": "SHA256", "checksumValue": helper_sha256}],
            "comment": comment,
        }
        program(helper)
        helpers.append(helper)

    files = []
    for name in args.files:
        sha1, sha256 = digests(f"{args.dist}/{name}")
        files.append({"fileName": "./" + name, "SPDXID": spdx_id("File", name),
                      "checksums": [{"algorithm": "SHA1", "checksumValue": sha1},
                                    {"algorithm": "SHA256", "checksumValue": sha256}],
                      "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION"})
        relate(product_id, "CONTAINS", spdx_id("File", name))
    setup = spdx_id("File", "quarrion_shell_setup.exe")
    program(spdx_id("File", "quarrion_shell.exe"))
    for inside in (stub, *helpers, spdx_id("File", "quarrion_shell.exe"),
                   spdx_id("File", "THIRD-PARTY-NOTICES.txt")):
        relate(setup, "CONTAINS", inside)
    relate(makensis, "BUILD_TOOL_OF", setup)

    # Unique to these files: a signed and an unsigned build of one commit differ.
    contents = hashlib.sha256("".join(f["checksums"][1]["checksumValue"]
                                      for f in files).encode()).hexdigest()[:16]
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{args.product} {args.version}",
        "documentNamespace": "https://spdx.org/spdxdocs/quarrion_url_shell-"
                             + re.sub(r"[^A-Za-z0-9.-]+", "-",
                                      f"{args.version}-{args.commit}-{contents}"),
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(args.epoch)),
            "creators": [f"Organization: {args.company}", "Tool: tools/third_party.py"],
        },
        "packages": [{
            "SPDXID": product_id,
            "name": args.product,
            "versionInfo": args.version,
            "supplier": f"Organization: {args.company}",
            "downloadLocation": "NOASSERTION",
            "filesAnalyzed": True,
            "packageVerificationCode": {"packageVerificationCodeValue": hashlib.sha1(
                "".join(sorted(f["checksums"][0]["checksumValue"] for f in files)).encode()
            ).hexdigest()},
            "licenseConcluded": "NOASSERTION",
            "licenseDeclared": "NOASSERTION",
            "copyrightText": f"Copyright (C) {args.company}",
        }] + list(elements.values()),
        "files": files,
        "relationships": relationships,
    }
    with open(args.out, "w", encoding="utf-8", newline="\n") as out:
        json.dump(document, out, indent=2, sort_keys=True)
        out.write("\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    notices_command = commands.add_parser("notices")
    notices_command.add_argument("--product", required=True)
    notices_command.add_argument("--version", required=True)
    notices_command.add_argument("--epoch", type=int, required=True)
    notices_command.add_argument("out")
    sbom_command = commands.add_parser("sbom")
    sbom_command.add_argument("--info", required=True)
    sbom_command.add_argument("--commit", required=True)
    sbom_command.add_argument("--dist", required=True)
    sbom_command.add_argument("--desktop", required=True, help="quarrion_desktop.exe as shipped")
    sbom_command.add_argument("--record", required=True, help="quarrion_record.exe as shipped")
    sbom_command.add_argument("out")
    sbom_command.add_argument("files", nargs="+")
    args = parser.parse_args()
    {"notices": notices, "sbom": sbom}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
