#!/bin/sh
# Installs what building and testing need on Debian 12 (as root), only when something is missing.
set -e
need=""
for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix wine wineserver cmake xmllint osslsigncode openssl python3 clang g++ wixl chromium; do
  command -v "$tool" >/dev/null 2>&1 || need=1
done
[ -d /usr/src/googletest ] || need=1
/usr/bin/python3 -m pytest --version >/dev/null 2>&1 || need=1
[ -f /usr/lib/x86_64-linux-gnu/libgtest.a ] || need=1
dpkg -s wine32:i386 >/dev/null 2>&1 || need=1
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need=1
[ -z "$need" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing build dependencies; run as root: $0" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 cmake make g++ googletest libgtest-dev libgmock-dev \
  clang libclang-rt-14-dev libxml2-utils osslsigncode openssl python3 python3-pytest msitools wixl chromium ca-certificates >/dev/null
