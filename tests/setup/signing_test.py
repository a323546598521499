#!/usr/bin/python3
"""The signing round trip: a throwaway code-signing certificate made with
openssl; copies of the download's programs signed by package/sign, as the
build signs them (a PEM certificate with its key, and a PKCS#12 file with
a password); each verified by osslsigncode against that certificate and
equal to its unsigned build apart from the signature, with its
permissions. A signed copy with
one byte changed fails verification, a wrong password signs nothing, no
form of Kurd.dll in dist/ is signed, and the signed setup8.exe installs
under Wine as the unsigned one does.

    signing_test.py --runner RUN --sign SIGN --dist DIST --version VERSION
                    --program NAME=FILE... --work DIR

NAME=FILE: a program of the download and its unsigned build. Exit status:
0 passed, 1 failed (each failure names the row), 77 skipped (with the
reason printed).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

from setup_test import SKIPPED, Case, Prefix, Skip, windows_path
from signature import certificate_table, same_program

PRODUCT = "Central Kurdish Keyboard Layout"
PASSWORD = "throwaway password"
KURD_DLL_FORMS = ["Kurd.dll", "x86/Kurd.dll", "wow64/Kurd.dll", "arm64/Kurd.dll"]

failures = []


def check(condition, row, expected, seen):
    if not condition:
        failures.append(f"{row}: expected {expected}; saw {seen}")
    return condition


def run(command):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                          timeout=120)
    return done.returncode, done.stdout


def make_certificate(work):
    """{kind: the sign options for it}: a self-signed code-signing
    certificate, as PEM files and as a PKCS#12 file with a password."""
    key, certificate = os.path.join(work, "key.pem"), os.path.join(work, "certificate.pem")
    password, pkcs12 = os.path.join(work, "password"), os.path.join(work, "certificate.p12")
    with open(password, "w") as f:
        f.write(PASSWORD + "\n")
    for command in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
                     "-days", "2", "-subj", "/CN=Throwaway Code Signing", "-addext", "extendedKeyUsage=codeSigning",
                     "-addext", "keyUsage=digitalSignature"],
                    ["openssl", "pkcs12", "-export", "-inkey", key, "-in", certificate, "-out", pkcs12,
                     "-passout", f"file:{password}"]):
        status, output = run(command)
        if status != 0:
            raise SystemExit(f"{' '.join(command)} failed ({status}): {output}")
    return certificate, {"pem": ["--certificate", certificate, "--key", key],
                         "pkcs12": ["--certificate", pkcs12, "--password-file", password]}


def verify(certificate, path):
    """osslsigncode's verdict on the file, against the certificate alone."""
    return run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path])


def check_signed(args, certificate, options, work):
    """Each program signed, verified and compared; the failures that must
    leave nothing behind. The signed setup8.exe."""
    # (row, program, how it is signed)
    rows = [("Halvaro.exe with a PEM certificate and its key", "Halvaro.exe", "pem"),
            ("setup7.exe with a PKCS#12 file and its password", "setup7.exe", "pkcs12"),
            ("setup8.exe with a PEM certificate and its key", "setup8.exe", "pem")]
    signed = {}
    for row, name, kind in rows:
        unsigned, path = args.program[name], os.path.join(work, "signed", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        status, output = run([args.sign, *options[kind], "--description", PRODUCT, unsigned, path])
        if not check(status == 0 and os.path.isfile(path), row, "a signed copy", f"status {status}: {output}"):
            continue
        status, output = verify(certificate, path)
        check(status == 0 and "Signature verification: ok" in output, row, "a signature that verifies",
              f"status {status}: {output[-800:]}")
        check(re.search(r"Message digest algorithm\s*:\s*SHA256", output), row, "a SHA-256 digest", output[-800:])
        check(f"Text description: {PRODUCT}" in output, row, f"the description {PRODUCT!r}", output[-800:])
        with open(path, "rb") as f, open(unsigned, "rb") as g:
            check(same_program(f.read(), g.read()), row, "the unsigned build apart from the signature",
                  "other bytes")
        modes = [oct(os.stat(file).st_mode & 0o7777) for file in (path, unsigned)]
        check(modes[0] == modes[1], row, f"the unsigned build's permissions {modes[1]}", modes[0])
        signed[name] = path

    if "setup8.exe" in signed:
        tampered = os.path.join(work, "tampered.exe")
        content = bytearray(open(signed["setup8.exe"], "rb").read())
        content[len(content) // 3] ^= 0x01
        open(tampered, "wb").write(content)
        status, output = verify(certificate, tampered)
        check(status != 0, "setup8.exe with one byte changed after signing", "a failed verification",
              f"status {status}: {output[-400:]}")

    refused = [("a wrong password", ["--certificate", options["pkcs12"][1], "--password-file", certificate]),
               ("a PEM certificate without its key", ["--certificate", certificate])]
    for row, wrong in refused:
        path = os.path.join(work, "refused.exe")
        status, output = run([args.sign, *wrong, args.program["setup8.exe"], path])
        check(status != 0 and not os.path.exists(path) and not os.path.exists(path + ".signing"), row,
              "a failure that leaves no file", f"status {status}, files {os.listdir(work)}: {output}")
    return signed.get("setup8.exe")


def check_layout_unsigned(args):
    for name in KURD_DLL_FORMS:
        with open(os.path.join(args.dist, name), "rb") as f:
            table = certificate_table(f.read())
        check(table is None, f"dist/{name}", "no signature", f"a certificate table at {table}")


def check_signed_install(args, installer):
    """The signed setup8.exe installs in a clone of the pristine prefix
    exactly as setup_test.py's install case expects of the unsigned one."""
    case = Case(args, "signed_install")
    prefix = Prefix(case, "prefix")
    before = prefix.snapshot()
    status = prefix.run(windows_path(installer), "/admin", "/quiet")
    case.check_exit(status, 0, "an install with the signed setup8.exe")
    case.check_changes("an install with the signed setup8.exe", before, prefix.snapshot(),
                       case.installed(prefix, "a0002c01", installer, preload=("2", "d0002c01")))
    prefix.remove()
    failures.extend(case.failures)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="tests/wine/run")
    parser.add_argument("--sign", required=True, help="package/sign")
    parser.add_argument("--dist", required=True, help="the dist folder")
    parser.add_argument("--version", required=True, help="the package's version, four numbers")
    parser.add_argument("--program", action="append", required=True, help="NAME=FILE, an unsigned program")
    parser.add_argument("--work", required=True, help="a folder for this test's files and prefix")
    args = parser.parse_args()
    args.program = dict(item.split("=", 1) for item in args.program)
    args.dist, args.work = os.path.abspath(args.dist), os.path.abspath(args.work)
    shutil.rmtree(args.work, ignore_errors=True)
    work = os.path.join(args.work, "signing")
    os.makedirs(work)

    certificate, options = make_certificate(work)
    installer = check_signed(args, certificate, options, work)
    check_layout_unsigned(args)
    if installer:
        try:
            check_signed_install(args, installer)
        except Skip as skip:
            print(f"SKIPPED the install under Wine: {skip}")
            if not failures:
                return SKIPPED
    for failure in failures:
        print(f"FAILED {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
