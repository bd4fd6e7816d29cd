#!/usr/bin/env bash
# The whole installation of the demo operator under Wine, in the demo's own prefix: starts the
# demo back end (stopped again at the end if this script started it), removes the agent an
# earlier demo installed, runs the installer (test build) and follows its log as it goes, then
# shows the outcome, what was installed and where the logs are. Exits with the installer's code.
#   scripts/demo.sh            silent, the error texts on this terminal
#   GUI=1 scripts/demo.sh      with the dialogs on $DISPLAY
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
demo="$here/build/demo"
prefix="$demo/wineprefix"
exe="$here/build/win64/VmNetworkInstaller.exe"
msi="$here/build/win64/demo/msi/linkwell.msi"
backend="$here/scripts/demo-backend.sh"
run() { "$here/scripts/wine-run.sh" "$prefix" "$@"; }

[ -f "$exe" ] && [ -f "$msi" ] || { echo "demo: build the win64 preset first (make build)" >&2; exit 1; }
if [ -n "${GUI:-}" ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo: GUI=1 shows the dialogs on \$DISPLAY, which is not set" >&2
  exit 1
fi

started_backend=
cleanup() {
  run --stop
  [ -z "$started_backend" ] || "$backend" stop
}
trap cleanup EXIT
if ! "$backend" status >/dev/null; then
  "$backend" start || exit 1
  started_backend=1
fi

echo "== Preparing the demo prefix $prefix"
run --start || exit 1
# A second demo starts from the same state as the first: no agent, no logs of earlier runs.
run msiexec /x "$msi" /qn </dev/null >/dev/null 2>&1
# Wine names the user's folder after the Unix user.
logs_user="$prefix/drive_c/users/${USER:-$(id -un)}/AppData/Local/Velmora/Log"
logs_machine="$prefix/drive_c/ProgramData/Velmora/Log"
rm -rf "$logs_user" "$logs_machine" "$demo/msiexec.log"

mode=(--silent)
[ -n "${GUI:-}" ] && mode=()
# Wine gives every process an administrator token and never elevates a process started with a
# standard user's token (tools/RunAsStandardUser.exe), so the elevated administrative installer
# could not run from one; the installer starts as Wine's own user, as a user who approved the
# elevation prompt would see it.
echo "== Running VmNetworkInstaller.exe ${mode[*]} (the demo operator, back end http://127.0.0.1:18080)"
winexe="Z:${exe//\//\\}"
run "$winexe" "${mode[@]}" </dev/null &
installer=$!

# The log is UTF-16; each line is shown as it is written. msiexec writes its log into the work
# directory, which the installer removes at its end, so a copy is kept while it grows.
python3 - "$installer" "$logs_user" "$logs_machine" "$prefix" "$demo/msiexec.log" <<'EOF'
import glob, os, shutil, sys, time
pid, roots, prefix, keep = int(sys.argv[1]), sys.argv[2:4], sys.argv[4], sys.argv[5]
offsets, pending, seen = {}, {}, None

def alive():
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False

def follow():
    global seen
    for root in roots:
        path = os.path.join(root, "Tolvi", "stub.log")
        try:
            with open(path, "rb") as f:
                f.seek(offsets.get(path, 0))
                data = f.read()
        except OSError:
            continue
        data = data[: len(data) - len(data) % 2]  # a character still being written waits
        offsets[path] = offsets.get(path, 0) + len(data)
        text = pending.get(path, "") + data.decode("utf-16-le", errors="replace").lstrip("\ufeff")
        *lines, pending[path] = text.split("\n")
        for line in lines:
            line = line.rstrip("\r")
            # "2026-01-01 12:00:00.000 [pid.tid]  I: text": the time, the level and the text
            if len(line) > 40 and line[24] == "[":
                print(f"   {line[11:19]} {line[line.index(']') + 1:].strip()}", flush=True)
    for log in glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp", "vm*.tmp", "msiexec.log")):
        stamp = os.stat(log).st_mtime_ns, os.stat(log).st_size
        if stamp != seen:
            seen = stamp
            shutil.copyfile(log, keep)

while alive():
    try:
        follow()
    except OSError:
        pass
    time.sleep(0.05)
follow()
EOF
wait "$installer"
code=$?

names=([0]=Success [1]=Failed [2]=Cancelled [3]=Communication [4]=Privileges [5]=Integrity
       [6]=MsiServiceBusy [7]=DiskFull [8]=IncompatibleVersion [99]=PendingReboot [100]=Pending
       [101]=SuccessRebootRequired)
echo
echo "== Outcome: exit code $code (${names[$code]:-Unknown})"
echo "== Installed: the agent's values (32-bit view, as the agent's 32-bit package writes them)"
values=$(run reg query 'HKLM\SOFTWARE\Wow6432Node\Velmora\Tolvi' /s 2>/dev/null | tr -d '\r' | grep -v '^$')
if [ -n "$values" ]; then
  echo "$values" | sed 's/^/   /'
  install_path=$(echo "$values" | awk '$1 == "InstallPath" { $1 = $2 = ""; sub(/^ +/, ""); print }')
  folder="$prefix/drive_c/$(echo "${install_path#?:\\}" | tr '\\' '/')"
  echo "== Installed: the agent's folder $install_path ($folder)"
  ls -l "$folder" 2>/dev/null | sed 's/^/   /'
else
  echo "   (none: the agent is not installed)"
fi
echo "== Logs"
for log in "$logs_machine/Tolvi/stub.log" "$logs_user/Tolvi/stub.log"; do
  [ -f "$log" ] && echo "   installer:           $log"
done
for log in "$logs_machine/ORL/downloaded_files.log" "$logs_user/ORL/downloaded_files.log"; do
  [ -f "$log" ] && echo "   downloads summary:   $log"
done
for log in "$logs_machine/Tolvi/admin.log" "$logs_user/Tolvi/admin.log"; do
  [ -f "$log" ] && echo "   elevated installer:  $log"
done
[ -f "$demo/msiexec.log" ] && echo "   msiexec (a copy; the work directory is removed at the end): $demo/msiexec.log"
exit "$code"
