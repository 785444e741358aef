#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
# Idempotent and non-interactive; uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libsqlite3-dev
  libx11-dev libxcb1-dev libxtst-dev
  # the manual pages: written for scdoc
  scdoc
  # the desktop keyring: QtKeychain, and libsecret, which it loads at run time
  qtkeychain-qt6-dev libsecret-1-0
  # OAuth 2.0 sign-in (Qt Network Authorization)
  qt6-networkauth-dev
  # running: the certificate authorities that TLS connections trust
  ca-certificates
  # tests and demo
  dovecot-pop3d dovecot-imapd openssl xvfb xdotool trayer python3 sqlite3 dbus pulseaudio gnome-keyring
  desktop-file-utils appstream
  # the fuzz targets (scripts/test.sh --fuzz): clang with libFuzzer and its sanitizer runtimes
  clang libclang-rt-14-dev
  # the OAuth tests: xdg-open hands the sign-in page to $BROWSER (a stand-in browser)
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The Debian package starts a system-wide Dovecot; the tests run their own instances.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet dovecot 2>/dev/null; then
  "${sudo[@]}" systemctl stop dovecot || true
fi
