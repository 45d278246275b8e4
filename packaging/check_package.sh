#!/usr/bin/env bash
# Builds the package from a built tree, unpacks it and checks what a user
# gets: the layout, the programs running from where they are installed, and
# the verdict of the desktop's own validators when they are installed.
#   check_package.sh <CPackConfig.cmake> <version> <install prefix>
# Status 77 (skipped) for a tree not configured for /usr.
set -euo pipefail
config=$1 version=$2 prefix=$3
if [ "$prefix" != /usr ]; then
  echo "the package installs to /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package does)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$work"/out/zelvano-cadrio_"$version"_*.deb)
[ -f "$deb" ] || { echo "no package for version $version in $work/out"; exit 1; }
root=$work/root
dpkg-deb -x "$deb" "$root"
echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Installed-Size) KiB installed"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fuse3 libfuse3 libqt6widgets6 libsystemd0; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
plugins=usr/lib/$multiarch/cadrio-fileproviderd/plugins
for file in usr/bin/zelvano-cadrio usr/bin/cadrio-fileproviderd usr/bin/cadrio-pluginkit \
            "$plugins/zelvano-cadrio-fileprovider.so" "$plugins/zelvano.cadrio.sync.fileprovider.json" \
            usr/lib/systemd/user/cadrio-fileproviderd.service \
            usr/share/dbus-1/services/zelvano.cadrio.FileProviderHost.service \
            usr/share/applications/zelvano-cadrio.desktop usr/share/metainfo/zelvano.cadrio.metainfo.xml \
            usr/share/icons/hicolor/scalable/apps/zelvano-cadrio.svg \
            usr/share/man/man1/zelvano-cadrio.1.gz usr/share/man/man1/cadrio-fileproviderd.1.gz \
            usr/share/man/man1/cadrio-pluginkit.1.gz usr/share/doc/zelvano-cadrio/copyright; do
  [ -f "$root/$file" ] || fail "missing /$file"
done
# Both start files name the daemon where the package puts it.
for file in usr/lib/systemd/user/cadrio-fileproviderd.service usr/share/dbus-1/services/zelvano.cadrio.FileProviderHost.service; do
  grep -q '^Exec[A-Za-z]*=/usr/bin/cadrio-fileproviderd$' "$root/$file" || fail "/$file does not start /usr/bin/cadrio-fileproviderd"
done

# The stripped registry command runs and reads the packaged manifest.
listing=$(HOME=$work/home XDG_DATA_HOME=$work/data CADRIO_PLUGIN_PATH=$root/$plugins "$root/usr/bin/cadrio-pluginkit" -m) ||
  fail "cadrio-pluginkit -m failed"
[ "$listing" = "+    zelvano.cadrio.sync.fileprovider($version)" ] || fail "cadrio-pluginkit -m printed: $listing"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/zelvano-cadrio.desktop" || fail desktop-file-validate
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/zelvano.cadrio.metainfo.xml" || fail "appstreamcli validate"
fi
if command -v systemd-analyze >/dev/null; then
  # verify wants the daemon and the manual page on this machine: it checks
  # a copy of the unit that points into the unpacked tree.
  mkdir -p "$work/unit" "$work/run" && chmod 700 "$work/run"
  sed "s#=/usr/bin/#=$root/usr/bin/#" "$root/usr/lib/systemd/user/cadrio-fileproviderd.service" \
    >"$work/unit/cadrio-fileproviderd.service"
  XDG_RUNTIME_DIR=$work/run MANPATH=$root/usr/share/man \
    systemd-analyze verify --user "$work/unit/cadrio-fileproviderd.service" || fail "systemd-analyze verify"
fi
if command -v lintian >/dev/null; then
  lintian --allow-root "$deb" >"$work/lintian.log" 2>&1 || true
  cat "$work/lintian.log"
  ! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"
fi
[ "$failures" -eq 0 ] && echo "package checks passed"
exit $((failures > 0))
