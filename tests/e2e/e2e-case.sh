#!/usr/bin/env bash
# One end-to-end case: a copy of the pristine prefix, an Xvfb of its own,
# the setup and the driver program in one Wine virtual desktop, then checks
# from Linux (files, time stamps, attributes, registry).
#   e2e-case.sh CASE PROFILE DRIVER.exe WORK
# Screenshots go to WORK/screens/PROFILE_CASE/, the run's files to
# WORK/cases/PROFILE_CASE/.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
. "$e2e_root/scripts/product-lib.sh"
[ $# -eq 4 ] || { echo "usage: e2e-case.sh CASE PROFILE DRIVER.exe WORK" >&2; exit 1; }
case=$1 profile=$2 driver=$3 work=$4
name=$(voz_product_fact "$profile" SETUP_NAME) || exit 1
short=$(voz_product_fact "$profile" SHORT_NAME) || exit 1
full=$(voz_product_fact "$profile" FULL_NAME) || exit 1
setup=$work/setups/$name.exe
payload=$work/payload-$profile
pristine=$(e2e_prefixes "$work")/pristine/prefix
[ -f "$setup" ] && [ -d "$pristine" ] || { echo "e2e: run e2e_prepare first" >&2; exit 1; }

run=$work/cases/${profile}_$case
screens=$work/screens/${profile}_$case
rm -rf "$run" "$screens"
mkdir -p "$run" "$screens"
export WINEPREFIX=$(e2e_prefixes "$work")/cases/${profile}_$case/prefix
rm -rf "$WINEPREFIX" && mkdir -p "$(dirname "$WINEPREFIX")"
cp -a "$pristine" "$WINEPREFIX"
trap e2e_stop EXIT
e2e_start_xvfb || exit 1
drive_c=$WINEPREFIX/drive_c
default_dest="$drive_c/Program Files/Ovantis/$short"

# drive SCENARIO [SETUP] [ARGUMENT]: runs the driver; its output in $run/driver-N.txt.
runs=0
drive() {
  local scenario=$1 file=${2:-$setup} arg=${3:-}
  runs=$((runs + 1))
  local out=$run/driver-$runs.txt
  # A Windows path (C:\...) is passed as it is, a Unix path through drive Z:.
  case "$file" in [A-Za-z]:\\*) ;; *) file=$(e2e_winpath "$file") ;; esac
  timeout $((280 * ${VOZ_TIME_SCALE:-1})) "$WINE" "$driver" "$(e2e_winpath "$screens")" "$scenario" "$file" ${arg:+"$arg"} >"$out" 2>&1
  local rc=$?
  tr -d '\r' < "$out" > "$out.tmp" && mv "$out.tmp" "$out"
  grep -v "^ALSA lib" "$out" | sed 's/^/  driver: /'
  [ $rc -eq 0 ] && e2e_ok "driver scenario $scenario" || e2e_fail "driver scenario $scenario ended with $rc"
  last_out=$out
}
result() { grep "^RESULT $1=" "$last_out" | tail -1 | cut -d= -f2-; }
expect_result() {  # expect_result KEY VALUE
  local got; got=$(result "$1")
  [ "$got" = "$2" ] && e2e_ok "$1 = $2" || e2e_fail "$1 is '$got', expected '$2'"
}
set_windows_version() {
  "$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1 || e2e_fail "cannot set the Windows version $1"
  "$WINESERVER" -w
}
music_gone() {
  local left; left=$(find "$drive_c" -iname '_vtsetup.mid' 2>/dev/null)
  [ -z "$left" ] && e2e_ok "no music file left" || e2e_fail "music file left: $left"
}
not_installed() {
  [ ! -e "$default_dest" ] && e2e_ok "nothing installed" || e2e_fail "$default_dest was made"
}

# The payload, file by file, at the destination: content, time stamp and
# read-only attribute as packed. The settings file and the help patch are
# the post-install actions' to change or consume; they are left out.
check_installed() {
  local dest=$1 f rel checked=0
  [ -d "$dest" ] || { e2e_fail "no destination folder $dest"; return; }
  [ ! -e "$dest/tempfile.\$\$\$" ] && e2e_ok "tempfile.\$\$\$ gone" || e2e_fail "tempfile.\$\$\$ left in $dest"
  while IFS= read -r -d '' f; do
    rel=${f#"$payload"/}
    case "$rel" in *.ini|*.pch|*.INI|*.PCH) continue ;; esac
    # A user's file that the setup keeps over the packed one (reinstall).
    [ "$rel" = "${kept_file:-}" ] && continue
    local target=$dest/$rel
    if [ ! -f "$target" ]; then
      # Cleaned up after the extraction: language files without a code page
      # (product A), the cache tool once the cache is cleared; the search-box
      # helper moves to the shared vendor folder.
      case "$rel" in Language/*.PQL|Cache/CACHETRM.EXE|SeekBox.exe) continue ;; esac
      e2e_fail "missing $rel"; continue
    fi
    cmp -s "$f" "$target" || e2e_fail "$rel differs from the payload"
    local a b
    a=$(stat -c %Y "$f"); b=$(stat -c %Y "$target")
    [ $(( a > b ? a - b : b - a )) -le 2 ] || e2e_fail "$rel time stamp $b, packed $a"
    if [ -w "$f" ] && [ ! -w "$target" ]; then e2e_fail "$rel became read-only"; fi
    if [ ! -w "$f" ] && [ -w "$target" ]; then e2e_fail "$rel lost its read-only attribute"; fi
    checked=$((checked + 1))
  done < <(find "$payload" -type f -print0)
  [ $checked -ge 5 ] && e2e_ok "$checked payload files in place" || e2e_fail "only $checked payload files checked"
  [ -f "$dest/$short.exe" ] && e2e_ok "$short.exe installed" || e2e_fail "$short.exe not installed"
  cmp -s "$work/expected-$profile/PVQHelp.exe" "$dest/Help/PVQHelp.exe" && e2e_ok "help program rebuilt" ||
    e2e_fail "Help/PVQHelp.exe missing or not the product's help program"
  [ ! -e "$dest/Help/PVQHelp.pch" ] && [ ! -e "$dest/$short.pch" ] && e2e_ok "patch files consumed" ||
    e2e_fail "a patch file is left"
  if reg_query "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$full" >/dev/null; then
    e2e_ok "uninstall entry"
  else
    e2e_fail "no uninstall entry"
  fi
}

# ---- Read-back of an installation ------------------------------------------

if [ "$profile" = A ]; then
  group_links=("Perus" "Perus Help" "Perus Report Library" "Perus Site Maps" "Perus License Agreement")
  group_link=Perus ext=pqf type=perus_query_folder type_text="Perus Query Folder" marker=Perusant hotkey=0674
else
  group_links=("Mailvane" "Help" "Report Library" "License Agreement")
  group_link=Mailvane ext=mvf type=mailv_query_folder type_text="Mailv Query Folder" marker=MailVane hotkey=0676
fi
win_dest="C:\\Program Files\\Ovantis\\$short"
programs="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
desktop="$drive_c/users/$(id -un)/Desktop"  # the user's own desktop
vendor="$drive_c/Program Files/Common Files/Ovantis"
button_key='HKLM\Software\Microsoft\Internet Explorer\Extensions\{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}'
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$full"

# reg_query ARGS...: "reg query ARGS", its listing on stdout. A key or value
# that is not there fails at once; any other failure (a Wine process that
# did not start on a busy machine) is tried again before it counts.
reg_query() {
  local out err try
  for try in 1 2 3; do
    err=$(mktemp)
    if out=$("$WINE" reg query "$@" 2>"$err"); then
      rm -f "$err"; printf '%s\n' "$out"; return 0
    fi
    if grep -q 'Unable to find' "$err"; then rm -f "$err"; return 1; fi
    rm -f "$err"; sleep 1
  done
  return 1
}
# reg_value KEY NAME: the data of a value ("" for the default value), or
# "(absent)".
reg_value() {
  local out
  if [ -z "$2" ]; then out=$(reg_query "$1" /ve) || { echo "(absent)"; return; }
  else out=$(reg_query "$1" /v "$2") || { echo "(absent)"; return; }; fi
  out=$(printf '%s\n' "$out" | tr -d '\r' | grep -m1 '    REG_') || { echo "(absent)"; return; }
  printf '%s\n' "$out" | sed 's/^.*    REG_[A-Z_]*    \{0,1\}//'
}
reg_key() { reg_query "$1" >/dev/null && echo present || echo "(absent)"; }
# ini_value FILE SECTION KEY, or "(absent)".
ini_value() {
  [ -f "$1" ] || { echo "(absent)"; return; }
  tr -d '\r' < "$1" | awk -v sec="[$2]" -v key="$3" '
    /^\[/ { in_sec = (tolower($0) == tolower(sec)); next }
    in_sec { i = index($0, "="); if (i && tolower(substr($0, 1, i - 1)) == tolower(key)) { print substr($0, i + 1); found = 1; exit } }
    END { if (!found) print "(absent)" }'
}
# The hot key a shell link carries (its header's HotKey field), as 4 hex digits.
link_hotkey() {
  [ -f "$1" ] || { echo "(no link)"; return; }
  local b; b=$(od -An -tx1 -j 64 -N 2 "$1" | tr -d ' \n')
  echo "${b:2:2}${b:0:2}"
}
# A link's target as the link stores it (its ANSI strings), for the table.
link_points_to() {
  [ -f "$1" ] || { echo "(no link)"; return; }
  strings -n 6 "$1" | grep -i -m1 "$2" >/dev/null && echo "$2" || echo "(not $2)"
}

table=()
# row ITEM EXPECTED FOUND: one line of the read-back table, and a check.
row() {
  table+=("$(printf '%-44s | %-52s | %s' "$1" "$2" "$3")")
  [ "$2" = "$3" ] || e2e_fail "$1: found '$3', expected '$2'"
}
print_table() {
  echo "---- read-back ($full) ----"
  printf '%-44s | %-52s | %s\n' item expected found
  printf '%s\n' "${table[@]}"
  echo "----"
}

# What every finished installation leaves, whatever the finish page did.
read_back_install() {
  local l
  for l in "${group_links[@]}"; do
    row "group link $l.lnk" present "$([ -f "$programs/$full/$l.lnk" ] && echo present || echo missing)"
  done
  row "group holds only the product's links" "${#group_links[@]}" "$(find "$programs/$full" -maxdepth 1 -type f | wc -l)"
  row "group link $group_link -> program" "$short.exe" "$(link_points_to "$programs/$full/$group_link.lnk" "$short.exe")"
  row "uninstall DisplayName" "$full" "$(reg_value "$uninstall_key" DisplayName)"
  row "uninstall UninstallString" "\"$win_dest\\remover.exe\"" "$(reg_value "$uninstall_key" UninstallString)"
  row "$short.ini [General] Last Updated" 0 "$(ini_value "$default_dest/$short.ini" General 'Last Updated')"
  row "$short.ini [Options] Outdated Platform" "(absent)" "$(ini_value "$default_dest/$short.ini" Options 'Outdated Platform')"
  if [ "$profile" = A ]; then
    row "$short.ini [General] Default Language" English "$(ini_value "$default_dest/$short.ini" General 'Default Language')"
    row "$short.ini [General] Extensions" "ASCX; ASPX; CFM; DOC; DOT; HHC; HTW; HTX; INF; INI; JSP; LOG; LST; MSP; MSPX; ODC; PDF; PHP; POT; PPS; PPT; RTF; SCP; SCT; STM; TXT; WSC; WTX; XLB; XLC; XLS; XLT; XML; ZAP" \
      "$(ini_value "$default_dest/$short.ini" General Extensions)"
  else
    row "$short.ini [General] Extensions" "(absent)" "$(ini_value "$default_dest/$short.ini" General Extensions)"
  fi
  row "SeekBox.exe in the shared vendor folder" "same as packed" \
    "$(cmp -s "$payload/SeekBox.exe" "$vendor/SeekBox.exe" && echo "same as packed" || echo "missing or different")"
  row "SeekBox.exe in the destination" "(absent)" "$([ -e "$default_dest/SeekBox.exe" ] && echo present || echo "(absent)")"
  row "Run VTSeekBox" "C:\\Program Files\\Common Files\\Ovantis\\SeekBox.exe" \
    "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' VTSeekBox)"
  if [ "$profile" = A ]; then
    local v
    for v in "ButtonText=Perus" "clsid={1FBA04EE-3024-11D2-8F1F-0000F87ABD16}" "Default Visible=Yes" \
             "Exec=$win_dest\\Perus.exe" "HotIcon=$win_dest\\Perus.exe,1004" "Icon=$win_dest\\Perus.exe,1003" \
             "MenuStatusBar=Runs Perusant" "MenuText=Run Perus"; do
      row "browser button ${v%%=*}" "${v#*=}" "$(reg_value "$button_key" "${v%%=*}")"
    done
  else
    row "browser button definition" "(absent)" "$(reg_key "$button_key")"
  fi
}

# The finish page's options: applied (OK with everything ticked) or not
# (close box).
read_back_options() {
  if [ "$1" = applied ]; then
    row "desktop link $full.lnk" present "$([ -f "$desktop/$full.lnk" ] && echo present || echo missing)"
    row "desktop link -> program" "$short.exe" "$(link_points_to "$desktop/$full.lnk" "$short.exe")"
    row "desktop link hot key" "$hotkey" "$(link_hotkey "$desktop/$full.lnk")"
    row "group link $group_link hot key" "$hotkey" "$(link_hotkey "$programs/$full/$group_link.lnk")"
    row "HKCR\\.$ext" "$type" "$(reg_value "HKCR\\.$ext" '')"
    row "HKCR\\$type" "$type_text" "$(reg_value "HKCR\\$type" '')"
    row "HKCR\\$type\\DefaultIcon" "$win_dest\\$short.exe,-104" "$(reg_value "HKCR\\$type\\DefaultIcon" '')"
    row "HKCR\\$type\\shell\\open\\command" "\"$win_dest\\$short.exe\" \"%1\"" \
      "$(reg_value "HKCR\\$type\\shell\\open\\command" '')"
  else
    row "desktop link" "(absent)" "$(find "$drive_c/users" -iname "$full.lnk" | grep -q . && echo present || echo "(absent)")"
    row "group link $group_link hot key" 0000 "$(link_hotkey "$programs/$full/$group_link.lnk")"
    row "HKCR\\.$ext" "(absent)" "$(reg_key "HKCR\\.$ext")"
    row "HKCR\\$type" "(absent)" "$(reg_key "HKCR\\$type")"
  fi
}

# ---- Before and after an uninstallation ---------------------------------------

# uninstall_snapshot NAME: the registry parts the product touches, flattened
# to one "key|value" line per value (and "key|" per key), and the file tree
# of drive C: ("d path", "f path"), in $run/NAME.reg and $run/NAME.files.
uninstall_snapshot() {
  local name=$1 root i=0
  : > "$run/$name.reg"
  for root in 'HKLM\Software' 'HKCU\Software' 'HKCR'; do
    i=$((i + 1))
    "$WINE" reg export "$root" "$run/$name-$i.reg" /y >/dev/null 2>&1 || e2e_fail "reg export $root ($name)"
    iconv -f UTF-16 -t UTF-8 "$run/$name-$i.reg" | tr -d '\r' | awk '
      /\\$/ { line = line substr($0, 1, length($0) - 1); sub(/^ +/, "", line); next }
      { $0 = line $0; line = "" }
      /^\[/ { key = $0; print key "|"; next }
      /^$/ || /^Windows Registry Editor/ { next }
      { print key "|" $0 }' >> "$run/$name.reg"
  done
  sort -o "$run/$name.reg" "$run/$name.reg"
  (cd "$drive_c" && find . -mindepth 1 \( -type d -printf 'd %P\n' \) -o -printf 'f %P\n') | sort > "$run/$name.files"
}

# Changes Wine makes on its own while programs run (not the product's):
# extended regular expressions, matched against the flattened lines.
wine_churn=(
  '^\[HKEY_CURRENT_USER\\Software\\Wine'                       # Wine's own settings and desktop state
  '^\[HKEY_LOCAL_MACHINE\\Software\\Wine'                      # the same, machine-wide
  '^\[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer' # shell state of the session
  '^\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts' # font cache of the first GUI run
  '^f windows/'                                                # Wine's system folder (logs, caches)
  '^[df] users/[^/]+/AppData/'                                 # per-user caches that Wine and the shell keep
  '^[df] users/[^/]+/Temp(/|$)'                                # temp files of the run (the music file is checked on its own)
  '^\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\MMDevices' # audio devices, listed at the first sound
)

# What the uninstaller leaves on purpose: "pattern<TAB>reason". A pattern
# is a prefix of the flattened line; one ending in "@exact" must match the
# whole line; one ending in "@pending" is allowed only when Windows has the
# path scheduled for deletion at the next restart. (Wine carries out those
# deletions when its server starts again, as after a restart, and the
# snapshot is taken after one; so they normally do not show up at all.)
uninstall_allowed=(
  "f Program Files/Ovantis/$short/remover.exe@pending	a running program cannot delete itself: scheduled for the next restart"
  "d Program Files/Ovantis/$short@pending	the install folder, scheduled after the uninstaller so that it is empty then"
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Internet Explorer\Extensions]|@exact	the browser'"'"'s own (empty) key for extensions: part of every system with the browser, other programs'"'"' buttons live in it'
  "d Program Files/Ovantis@pending	the vendor folder the setup made above the install folder, scheduled after it when it held nothing else"
  '[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Extensions\CmdMapping]	per-user browser button mapping, kept on purpose (a later installation reuses its command id)'
  '[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Toolbar]	per-user browser toolbar layout, the browser'"'"'s own format, kept on purpose'
)

compare_snapshots() {
  local pending line allowed entry pattern reason kind residues=0
  pending=$(reg_value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations)
  is_churn() {
    local re
    for re in "${wine_churn[@]}"; do [[ "$1" =~ $re ]] && return 0; done
    return 1
  }
  judge() {  # judge KIND LINE
    local entry pattern reason path
    for entry in "${uninstall_allowed[@]}"; do
      pattern=${entry%%	*} reason=${entry#*	}
      if [[ "$pattern" == *@exact ]]; then
        [ "$2" = "${pattern%@exact}" ] || continue
        echo "  allowed  $1 $2  ($reason)"; return 0
      fi
      if [[ "$pattern" == *@pending ]]; then
        pattern=${pattern%@pending}
        [ "$2" = "$pattern" ] || continue
        path="C:\\$(echo "${2#? }" | tr / '\\')"
        if printf '%s' "$pending" | grep -iqF "$path"; then
          echo "  allowed  $1 $2  ($reason)"; return 0
        fi
        echo "  RESIDUE  $1 $2  (not scheduled for deletion at restart)"; return 1
      fi
      if [[ "$2" == "$pattern"* ]]; then echo "  allowed  $1 $2  ($reason)"; return 0; fi
    done
    echo "  RESIDUE  $1 $2"
    return 1
  }
  echo "---- residue after uninstalling ($full) ----"
  while IFS= read -r line; do
    is_churn "$line" && continue
    judge added "$line" || residues=$((residues + 1))
  done < <(comm -13 "$run/before.reg" "$run/after.reg"; comm -13 "$run/before.files" "$run/after.files")
  while IFS= read -r line; do
    is_churn "$line" && continue
    echo "  LOST     $line  (there before the installation, gone after the uninstallation)"
    residues=$((residues + 1))
  done < <(comm -23 "$run/before.reg" "$run/after.reg"; comm -23 "$run/before.files" "$run/after.files")
  echo "----"
  [ $residues -eq 0 ] && e2e_ok "no residue outside the allow-list" || e2e_fail "$residues residue(s) outside the allow-list"
}

case "$case" in
  decline)
    drive decline
    expect_result exit_code 0
    music_gone; not_installed ;;
  decline-old-windows)
    # Windows 98 and NT 4.0 pass the version check: the licence page comes
    # up, and declining ends the setup without installing.
    for v in win98 nt40; do
      set_windows_version $v
      drive decline
      expect_result exit_code 0
    done
    music_gone; not_installed ;;
  win95)
    set_windows_version win95
    drive refused
    expect_result message windows_version
    expect_result exit_code 0
    not_installed ;;
  product-running)
    drive product-running
    expect_result lookalikes not_blocking
    expect_result lookalike_exit_code 0
    expect_result message product_running
    expect_result exit_code 0 ;;
  handover)
    drive handover
    expect_result foreground_before VozE2EFront
    expect_result second_exit_code 0
    expect_result foreground "PVQInstWnd of the first copy"
    expect_result exit_code 0 ;;
  cancel)
    drive cancel
    expect_result message confirm_exit
    expect_result after_no page_stays
    expect_result exit_code 0
    music_gone; not_installed ;;
  folder-error)
    # A file where a folder of the path should be.
    printf 'not a folder\r\n' > "$drive_c/Blocker"
    drive folder-error "$setup" 'C:\Blocker\Sub'
    expect_result destination "C:\\Blocker\\Sub\\$short"
    expect_result message folder_error
    expect_result after_error page_stays
    expect_result exit_code 0 ;;
  browse-typed)
    drive browse-typed "$setup" 'C:\Typed Dest'
    expect_result destination "C:\\Typed Dest\\$short"
    expect_result exit_code 0 ;;
  install)
    drive install
    expect_result destination "C:\\Program Files\\Ovantis\\$short"
    # Seen in the picture taken half-way through the installation.
    expect_result status_on_screen yes
    expect_result exit_code 0
    check_installed "$default_dest"
    music_gone ;;
  browse-list)
    mkdir -p "$drive_c/Target"
    drive browse-list "$setup" Target
    expect_result drive_path_Z 'Z:\'
    expect_result drive_path_C 'C:\'
    expect_result destination "C:\\Target\\$short"
    expect_result exit_code 0
    check_installed "$drive_c/Target/$short"
    [ ! -e "$default_dest" ] && e2e_ok "default folder untouched" || e2e_fail "default folder made too"
    music_gone ;;
  damaged)
    drive damaged "$work/setups/$name-damaged.exe"
    expect_result message failure
    expect_result exit_code 0
    music_gone ;;
  links)
    # A destination folder that someone else could prepare: a hard link of
    # the setup's temporary file to a file outside it, and its Help folder a
    # symbolic link to a folder outside it. The copy of the archive goes
    # nowhere else, the extraction stops at the linked folder (the failure
    # message), and nothing outside the destination changes.
    outside=$drive_c/outside
    mkdir -p "$outside/folder" "$default_dest"
    printf 'a file of someone else\r\n' > "$outside/victim.dat"
    printf 'kept\r\n' > "$outside/folder/kept.txt"
    ln "$outside/victim.dat" "$default_dest/tempfile.\$\$\$"
    ln -s "$outside/folder" "$default_dest/Help"
    outside_state() { (cd "$outside" && find . -printf '%y %p %s %m %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
    before=$(outside_state)
    drive damaged "$setup"
    expect_result message failure
    expect_result exit_code 0
    [ "$(outside_state)" = "$before" ] && e2e_ok "nothing outside the destination changed" ||
      e2e_fail "the folder outside the destination changed: $(diff <(echo "$before") <(outside_state) | head -5)"
    [ "$(stat -c %h "$outside/victim.dat")" = 1 ] && e2e_ok "the hard link lost its name in the destination" ||
      e2e_fail "$outside/victim.dat still has $(stat -c %h "$outside/victim.dat") names"
    [ ! -e "$default_dest/tempfile.\$\$\$" ] && e2e_ok "tempfile.\$\$\$ gone" || e2e_fail "tempfile.\$\$\$ left in $default_dest"
    [ -L "$default_dest/Help" ] && e2e_ok "the linked folder stays a link" || e2e_fail "$default_dest/Help was replaced"
    music_gone ;;
  finish-close)
    drive finish-close
    expect_result finish_options desktop:1,association:1,hotkey:1
    expect_result exit_code 0
    read_back_install
    read_back_options skipped
    print_table ;;
  reinstall)
    drive install
    expect_result exit_code 0
    # The user's own query folder, beginning as a genuine one does.
    user_query=$(printf '%s\r\n[Query]\r\nName=kept by e2e %s\r\n' "$marker" "$$")
    printf '%s' "$user_query" > "$default_dest/Queries/NoName.$ext"
    cp "$default_dest/Queries/NoName.$ext" "$run/NoName.user"
    drive reinstall
    kept_file=Queries/NoName.$ext
    expect_result destination "$win_dest"
    expect_result browse_button disabled
    expect_result exit_code 0
    check_installed "$default_dest"
    row "Queries\\NoName.$ext after the second run" "the user's content" \
      "$(cmp -s "$run/NoName.user" "$default_dest/Queries/NoName.$ext" && echo "the user's content" || echo "replaced")"
    read_back_install
    read_back_options applied
    print_table ;;
  uninstall)
    # A full installation with every option of the finish page as offered
    # (all ticked) and OK, read back; then the installed uninstaller, and
    # what is left compared with the machine before the installation.
    uninstall_snapshot before
    drive install
    expect_result finish_options desktop:1,association:1,hotkey:1
    expect_result finish_hotkey "Ctrl + Alt + F$(( 16#${hotkey:2:2} - 16#6F ))"
    expect_result exit_code 0
    check_installed "$default_dest"
    read_back_install
    read_back_options applied
    print_table
    [ -f "$default_dest/remover.exe" ] || e2e_fail "no remover.exe installed"
    # Started as Windows starts it: the uninstall entry's command line.
    remover=$(reg_value "$uninstall_key" UninstallString)
    remover=${remover#\"} remover=${remover%\"}
    drive uninstall "$remover"
    expect_result confirmation "Are you sure you want to remove $full and all of its components from\\r\\n$win_dest?"
    expect_result exit_code 0
    report=$(result report)
    case "$report" in
      "$full has been removed from your computer."*) e2e_ok "the report says removed" ;;
      *) e2e_fail "the uninstaller's report: $report" ;;
    esac
    "$WINESERVER" -k >/dev/null 2>&1
    uninstall_snapshot after
    compare_snapshots ;;
  *) echo "e2e: unknown case $case" >&2; exit 1 ;;
esac

echo "screenshots: $screens"
if [ $e2e_failures -ne 0 ]; then echo "e2e case ${profile}_$case: $e2e_failures check(s) failed"; exit 1; fi
e2e_stop
rm -rf "$WINEPREFIX"  # kept only when a check failed
echo "e2e case ${profile}_$case: passed"
