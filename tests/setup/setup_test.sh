#!/usr/bin/env bash
# scripts/setup against stand-ins for apt-get, dpkg, dpkg-query and sudo on the PATH: a package
# mirror in the middle of a sync (updates that fail, an install that fails until the release's
# own suite is the target), and a machine that has everything already.
set -uo pipefail
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# The stand-ins keep their state in $STUB: "installed" once an install worked, "calls" a log.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
[ -f "$STUB/installed" ] && printf 'install ok installed' || printf 'unknown ok not-installed'
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB/calls"
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB/calls"
if [ "$1" = update ]; then
    n=$(($(cat "$STUB/updates" 2>/dev/null || echo 0) + 1))
    echo "$n" >"$STUB/updates"
    [ "$n" -gt "$UPDATE_FAILS" ] && exit 0
    echo "E: Some index files failed to download." >&2
    exit 100
fi
case "$INSTALL:$*" in
    plain:* | release:*" -t bookworm "*) touch "$STUB/installed"; exit 0 ;;
esac
echo "E: Unable to correct problems, you have held broken packages." >&2
exit 100
STUB
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*
echo 'VERSION_CODENAME=bookworm' >"$work/os-release"

failures=0
# name, update failures, install outcome (plain | release | never), already installed (0|1),
# expected exit code, expected update tries, text the output must hold ("" for none at all)
cases=(
    "installed|0|plain|1|0|0|"
    "mirror mid-sync|9|release|0|0|3|release's own suite (bookworm)"
    "one failed update|1|plain|0|0|2|trying again in 0 s"
    "nothing works|9|never|0|1|3|could not install"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name fails install installed want_rc want_updates want_text <<<"$row"
    export STUB="$work/state-${name// /_}" UPDATE_FAILS=$fails INSTALL=$install
    mkdir -p "$STUB"
    [ "$installed" = 1 ] && touch "$STUB/installed"
    out=$(PATH="$work/bin:$PATH" Q417_SETUP_PAUSE=0 Q417_SETUP_OS_RELEASE="$work/os-release" \
        Q417_WINDOWS_VARIANT=win32 \
        "$setup" 2>&1)
    rc=$?
    updates=$(cat "$STUB/updates" 2>/dev/null || echo 0)
    problem=""
    [ "$rc" = "$want_rc" ] || problem+=" exit $rc, expected $want_rc;"
    [ "$updates" = "$want_updates" ] || problem+=" $updates updates, expected $want_updates;"
    if [ -z "$want_text" ]; then
        [ -z "$out" ] || problem+=" printed output where none was expected;"
    elif ! grep -qF "$want_text" <<<"$out"; then
        problem+=" output lacks \"$want_text\";"
    fi
    if [ -n "$problem" ]; then
        echo "FAIL $name:$problem"
        echo "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
done
exit $((failures > 0))
