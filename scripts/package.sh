#!/usr/bin/env bash
# Builds the Debian package mailvane_<version>_<arch>.deb into dist/ and checks it: lintian (no
# errors allowed), the AppStream metadata and the desktop entry as the package installs them.
# Installs what it needs through apt-get (with sudo when not run as root).
# Usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist
cd "$root"

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
apt_install=(apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends)
updated=
apt_update() {
  [ -n "$updated" ] || "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  updated=1
}

# The packaging tools, then the build dependencies that debian/control names.
tools=(build-essential dpkg-dev debhelper lintian appstream desktop-file-utils)
missing=()
for p in "${tools[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  "${sudo[@]}" "${apt_install[@]}" "${missing[@]}"
fi
if ! dpkg-checkbuilddeps debian/control 2>/dev/null; then
  apt_update
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 build-dep -y -qq --no-install-recommends "$root"
fi

version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb=mailvane_${version}_${arch}.deb

# Build from a copy of the tree, so the build leaves nothing in it but dist/.
work=$dist/.build
rm -rf "$work" "$dist/$deb"
mkdir -p "$work/mailvane-$version"
tar -C "$root" --exclude=./.git --exclude='./build' --exclude='./build-*' --exclude=./dist -cf - . |
  tar -C "$work/mailvane-$version" -xf -
# debhelper gives the build a home of its own; keep a shared compiler cache where it is.
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && [ -z "${CCACHE_DIR:-}" ]; then
  export CCACHE_DIR=${XDG_CACHE_HOME:-$HOME/.cache}/ccache
fi
(cd "$work/mailvane-$version" && dpkg-buildpackage -us -uc -b -j"$(nproc)")
mv "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$dist/"
rm -rf "$work"

echo "== lintian"
lintian --fail-on error --info --display-level '>=warning' "$dist/mailvane_${version}_${arch}.changes"

# Every dependency must be a package the archive has.
echo "== dependencies"
apt-get install --simulate -qq "$dist/$deb" >/dev/null
echo "installable: apt-get would find every dependency"

# The metadata exactly as the package installs it.
echo "== metadata"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$dist/$deb" "$unpacked"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.mailvane.Mailvane.metainfo.xml"
desktop-file-validate "$unpacked/usr/share/applications/org.mailvane.Mailvane.desktop"
echo "desktop entry: valid"

echo "== $dist/$deb: $(du -k "$dist/$deb" | cut -f1) KiB"
dpkg-deb -f "$dist/$deb" Depends Recommends Installed-Size
