#!/usr/bin/env bash
# The install step against a stand-in apt-get first on PATH: a mirror in sync is retried and an
# index it cannot serve is left out, while a package that cannot be installed fails the step
# with one line naming it.
set -uo pipefail
tools="$(cd "$(dirname "$0")/../../tools" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"

# apt-get: "update" fails while $scratch/update-fails counts down (or always, with "always"),
# naming the i386 index of the security suite as a mirror in sync does; "install" refuses the
# package in $scratch/refuse, alone or among others.
cat >"$scratch/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
state="$(dirname "$0")/.."
echo "$*" >>"$state/calls"
case " $* " in
  *" update "*)
    left="$(cat "$state/update-fails" 2>/dev/null || echo 0)"
    [[ "$left" == 0 ]] && exit 0
    [[ "$left" == always ]] || echo $((left - 1)) >"$state/update-fails"
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 1.2.3.4 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  *" install "*)
    refuse="$(cat "$state/refuse" 2>/dev/null)"
    if [[ -n "$refuse" && " $* " == *" $refuse "* ]]; then
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
    fi
    exit 0 ;;
esac
STANDIN
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/dpkg-query"   # nothing installed yet
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/bin/sudo"
chmod +x "$scratch/bin/"*
export PATH="$scratch/bin:$PATH" KVBRIDGE_APT_PAUSE=0 KVBRIDGE_APT_TRIES=3 CI=true

failures=0
check() { # name, condition...
  local name="$1"
  shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
run_case() { # update-fails, refuse, command...
  rm -f "$scratch/calls"
  echo "$1" >"$scratch/update-fails"
  echo "$2" >"$scratch/refuse"
  shift 2
  "$@" >"$scratch/out" 2>"$scratch/err"
}
count() { grep -c "^$1" "$scratch/calls"; }

run_case 2 "" "$tools/install-deps"
check "update failing twice, then working: the step passes" test $? -eq 0
check "  after three updates and one install" test "$(count update)" = 3 -a "$(count install)" = 1

run_case always "" "$tools/install-deps"
check "an index that never comes: the step passes on the lists it has" test $? -eq 0
check "  and says which index it went on without" grep -q "going on without .*binary-i386" "$scratch/err"

run_case 0 php-cli "$tools/install-deps"
check "a needed package that never installs: the step fails" test $? -ne 0
check "  with one line naming it" test "$(grep -c 'php-cli cannot be installed' "$scratch/err")" = 1 \
  -a "$(wc -l <"$scratch/err")" = 1
check "  after trying it three times" test "$(grep -c '^install -y' "$scratch/calls")" = 3

# What tools/build-windows asks of wine32: a report with the reason and the index, not a failure.
run_case always wine32:i386 bash -c "source '$tools/apt-steps'; apt_refresh 2>/dev/null;
  apt_try_install wine32:i386 && exit 1; echo \"\$APT_REASON\""
check "wine32 while the i386 index is missing: reported with its reason and index" \
  grep -q "^wine32:i386 cannot be installed (Unable to correct.*); index that failed: .*binary-i386" \
  "$scratch/out"

if ((failures)); then
  echo "--- last stderr:"; cat "$scratch/err"
  exit 1
fi
