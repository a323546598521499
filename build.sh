#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, then builds dist/.
# With KURD_SIGN_CERTIFICATE (and KURD_SIGN_KEY, KURD_SIGN_PASSWORD_FILE,
# KURD_SIGN_TIMESTAMP_URL: see README.md) it signs the download's programs.
set -euo pipefail
signing=()
for variable in KURD_SIGN_CERTIFICATE KURD_SIGN_KEY KURD_SIGN_PASSWORD_FILE; do
    value=${!variable:-}
    signing+=("-D$variable:FILEPATH=${value:+$(realpath -m -- "$value")}")
done
signing+=("-DKURD_SIGN_TIMESTAMP_URL:STRING=${KURD_SIGN_TIMESTAMP_URL:-}")
cd "$(dirname "$0")"

packages=(
    cmake ninja-build g++ libgtest-dev pkg-config
    clang-16 lld-16 llvm-16
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
    libfreetype-dev libharfbuzz-dev libpng-dev libcairo2-dev libfribidi-dev python3-fonttools
    fonts-noto-core fonts-dejavu-core poppler-utils
    wine wine64 fonts-wine xvfb xdotool imagemagick qemu-user python3-pefile python3-pil zip
    unicode-data osslsigncode openssl python3-icu
    wine32:i386
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    # wine32 runs the 32-bit launcher (natively, or through qemu-i386): an i386 package.
    add_i386=
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386="dpkg --add-architecture i386 && apt-get update && "
    if ((EUID == 0)); then
        [[ -z $add_i386 ]] || dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "build.sh: missing Debian packages. Install them as root, then run build.sh again:" >&2
        echo "    ${add_i386}apt-get install ${missing[*]}" >&2
        exit 1
    fi
fi

cmake --preset default "${signing[@]}"
cmake --build --preset default
