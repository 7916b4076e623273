#!/usr/bin/env bash
# Maps a Wine drive letter onto a tiny tmpfs, so the extraction tests can fill
# a disk for real.
#   small-drive.sh up   MOUNTDIR LETTER   (e.g. r:)
#   small-drive.sh down MOUNTDIR LETTER
# Mounting needs root. When it is not possible the drive is simply left out
# and the full-disk test skips itself; this script never fails the run.
# The prefix is the one scripts/wine-env and scripts/wine-run use.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
action=${1:?action}
dir=${2:?mount folder}
letter=$(echo "${3:?drive letter}" | tr 'A-Z' 'a-z')
prefix=${WINEPREFIX:-${VOZ_WINE_PREFIX:-$root/${BUILD:-build}/wine/prefix}}
link="$prefix/dosdevices/$letter"

down() {
  rm -f "$link"
  if mountpoint -q "$dir" 2>/dev/null; then
    umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
  fi
  rmdir "$dir" 2>/dev/null || true
}

case "$action" in
  up)
    down
    mkdir -p "$dir" "$prefix/dosdevices"
    if mount -t tmpfs -o size=1m,mode=0777 voz-small-drive "$dir" 2>/dev/null; then
      ln -s "$dir" "$link"
      echo "small-drive: $letter -> $dir (1 MiB tmpfs)"
    else
      echo "small-drive: cannot mount a tmpfs here (not root?); the full-disk test will skip"
    fi
    ;;
  down) down ;;
  *) echo "usage: small-drive.sh up|down MOUNTDIR LETTER" >&2 ;;
esac
exit 0
