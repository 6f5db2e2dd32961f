#!/usr/bin/env bash
# Makes sure this machine can build and run the 32-bit x86 tree, installing what is missing
# from Debian's archive when run as root. Prints, as its last line, the program that must run
# i386 executables here (empty when the kernel runs them itself).
set -euo pipefail

missing=()
have_header() { [ -e "$1" ]; }

command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
have_header /usr/src/googletest/CMakeLists.txt || missing+=(googletest)
have_header /usr/include/CLI/CLI.hpp || missing+=(libcli11-dev)
have_header /usr/include/nlohmann/json.hpp || missing+=(nlohmann-json3-dev)
have_header /usr/include/fmt/format.h || missing+=(libfmt-dev)

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main() { return 0; }\n' >"$probe_dir/probe.cpp"
can_link32() { g++ -m32 "$probe_dir/probe.cpp" -o "$probe_dir/probe" >/dev/null 2>&1; }
can_link32 || missing+=(g++-multilib)

install() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "quell: missing Debian package(s): $*; install them (apt-get install $*) and run again" >&2
    exit 1
  fi
  echo "quell: installing $*" >&2
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >&2; then
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >&2
  fi
}

[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"
can_link32 || { echo "quell: g++ -m32 still cannot link; check g++-multilib" >&2; exit 1; }

# Some kernels are built without 32-bit support; the user-mode emulator runs the programs then.
emulator=""
if ! "$probe_dir/probe" >/dev/null 2>&1; then
  command -v qemu-i386 >/dev/null 2>&1 || install qemu-user
  "$(command -v qemu-i386)" "$probe_dir/probe" || { echo "quell: cannot run i386 programs" >&2; exit 1; }
  emulator=$(command -v qemu-i386)
fi
echo "$emulator"
