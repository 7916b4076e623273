# Shared by the end-to-end scripts: Wine for a given prefix, an Xvfb of our
# own, and small checks. Sourced, not run.
e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VOZ_WINE_ARCH=${VOZ_WINE_ARCH:-win64}
WINE=$("$e2e_root/scripts/find-wine") || exit 1
WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo wineserver)
export WINE WINESERVER VOZ_WINE_ARCH_OF_WINE=$VOZ_WINE_ARCH
source "$e2e_root/scripts/wine-settings.sh"
export WINEDEBUG=-all WINEARCH=$VOZ_WINE_ARCH WINEDLLOVERRIDES=$voz_wine_dll_overrides

# Where the Wine prefixes of the cases live: beside the cases' files, but in
# scripts/vm32's guest on the guest's own /tmp, whose clock is the one the
# programs see (the shared folder carries the host's times).
e2e_prefixes() {  # e2e_prefixes WORK
  if [ -n "${VOZ_E2E_PREFIXES:-}" ]; then echo "$VOZ_E2E_PREFIXES"
  elif [ "${VOZ_VM32_GUEST:-0}" = 1 ]; then echo /tmp/voz-e2e
  else echo "$1"; fi
}

e2e_xvfb_pid=""
source "$e2e_root/scripts/xvfb-lib.sh"
e2e_start_xvfb() {
  voz_start_xvfb 150 250 || { echo "e2e: could not start Xvfb" >&2; return 1; }
  e2e_xvfb_pid=$voz_xvfb_pid
}

e2e_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then "$WINESERVER" -k >/dev/null 2>&1 || true; fi
  if [ -n "$e2e_xvfb_pid" ]; then kill "$e2e_xvfb_pid" 2>/dev/null || true; wait "$e2e_xvfb_pid" 2>/dev/null || true; fi
  e2e_xvfb_pid=""
}

# A Unix path as Wine's Z: drive names it.
e2e_winpath() { local p=$1; p=${p//\//\\}; echo "Z:$p"; }

e2e_failures=0
e2e_fail() { echo "CHECK FAILED: $*"; e2e_failures=$((e2e_failures + 1)); }
e2e_ok() { echo "ok: $*"; }
