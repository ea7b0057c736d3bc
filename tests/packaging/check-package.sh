#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks its contents, its
# control fields and what Debian's own checkers (lintian, hardening-check) say
# of it, then installs the same build under a temporary prefix and
# checks that tree: programs, manual pages, bash completion, systemd units.
# Usage: check-package.sh BUILD_DIR CMAKE CPACK DPKG_DEB VERSION "PROGRAM..." HARDENED
# HARDENED says which protections the build gives its programs: "all",
# "nofortify" (sanitizer, fuzz and Debug builds leave _FORTIFY_SOURCE out) or
# "none" (configured with -DPELOX5_HARDENING=OFF); the checkers expect just those.
set -uo pipefail

build=$1 cmake=$2 cpack=$3 dpkg_deb=$4 version=$5 hardened=${7:-all}
read -r -a programs <<<"$6"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
checks=0

fail() {
  failures=$((failures + 1))
  printf 'FAIL: %s\n' "$*"
}
check() {
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || fail "$what"
}

# Files every installation holds, relative to the prefix.
expected_files() {
  local program
  for program in "${programs[@]}"; do
    echo "bin/$program"
    echo "share/man/man1/$program.1.gz"
  done
  echo "share/bash-completion/completions/pelox5-download"
  echo "share/bash-completion/completions/pelox5-status"
  echo "share/bash-completion/completions/pelox5-check"
  echo "share/bash-completion/completions/pelox5-extract"
  echo "share/bash-completion/completions/pelox5-sim"
  echo "lib/systemd/system/pelox5-download@.service"
  echo "lib/systemd/system/pelox5-download@.timer"
  echo "lib/systemd/system/pelox5-status.service"
  echo "lib/systemd/system/pelox5-status.timer"
  echo "lib/systemd/system/pelox5-status-page.service"
  echo "lib/systemd/system/pelox5-status-page.timer"
  echo "share/doc/pelox5-download/README.md"
  echo "share/doc/pelox5-download/copyright"
  echo "share/doc/pelox5-download/changelog.gz"
  echo "share/lintian/overrides/pelox5-download"
}

# seconds SPAN: a systemd time span of whole units (5min, 1h 30min) in seconds.
seconds() {
  local total=0 part
  for part in $1; do
    case $part in
      *min) total=$((total + ${part%min} * 60)) ;;
      *m) total=$((total + ${part%m} * 60)) ;;
      *h) total=$((total + ${part%h} * 3600)) ;;
      *s) total=$((total + ${part%s})) ;;
      *) total=$((total + part)) ;;
    esac
  done
  echo "$total"
}

# value KEY FILE: the last setting of KEY in a unit file.
value() { sed -n "s/^$1=//p" "$2" | tail -n 1; }

# check_retries SERVICE TIMER: a failed run is retried, all the retries of runs
# that fail at once fit in the start-limit window (else they would go on
# without end), and the window
# closes before the timer's next run can come (else that run would be refused).
check_retries() {
  local burst interval delay timer_gap
  [[ $(value Restart "$1") == on-failure ]] || return 1
  burst=$(value StartLimitBurst "$1")
  interval=$(seconds "$(value StartLimitIntervalSec "$1")")
  delay=$(seconds "$(value RestartSec "$1")")
  [[ $(value OnCalendar "$2") == hourly ]] || return 1
  timer_gap=$((3600 - $(seconds "$(value RandomizedDelaySec "$2")")))
  [[ $burst -ge 2 && $delay -ge 60 ]] || {
    echo "  $1: StartLimitBurst=$burst RestartSec=${delay}s"
    return 1
  }
  [[ $(((burst - 1) * delay)) -lt $interval && $interval -lt $timer_gap ]] || {
    echo "  $1: $((burst - 1)) retries ${delay}s apart, window ${interval}s, timer runs ${timer_gap}s apart"
    return 1
  }
}

# check_lintian DEB: lintian reports no error, warning or info tag that the
# package's overrides do not cover.
check_lintian() {
  local report status
  command -v lintian >/dev/null || {
    echo "  lintian not found (scripts/setup installs it)"
    return 1
  }
  local excused=()
  case $hardened in
    nofortify) excused=(--suppress-tags hardening-no-fortify-functions) ;;
    none) excused=(--suppress-tags hardening-no-bindnow,hardening-no-fortify-functions,hardening-no-relro) ;;
  esac
  report=$(lintian --display-info --tag-display-limit 0 "${excused[@]}" "$1" 2>&1)
  status=$?
  # The overrides describe the optimised programs a release ships. A sanitizer,
  # fuzz or Debug build compiles other code, in which the compiler-made string
  # fragments that some overrides cover need not occur.
  if [[ $hardened == nofortify ]]; then
    report=$(grep -v ' mismatched-override ' <<<"$report" || true)
  fi
  if [[ $status -ne 0 ]] || grep -qE '^[EWI]: ' <<<"$report"; then
    sed 's/^/  /' <<<"$report"
    return 1
  fi
}

# check_hardening FILE...: every program has each protection hardening-check
# knows of (a protection it cannot judge, for lack of code it applies to,
# counts as present). Control-flow protection is judged by the ELF note that
# the linker writes only when every object has it, and Debian 12's C start-up
# files do not; so where they lack it, the programs' own code is checked
# instead: compiled with -fcf-protection, functions begin with a landing
# instruction (endbr64), so there are about as many as functions (.eh_frame
# entries); without it there are only the two or so of the start-up code.
check_hardening() {
  local report options=() file landings functions
  command -v hardening-check >/dev/null || {
    echo "  hardening-check not found (scripts/setup installs devscripts)"
    return 1
  }
  if [[ $(uname -m) == x86_64 ]] && ! startup_has_cet; then
    options=(--nocfprotection)
    for file in "$@"; do
      landings=$(objdump -d "$file" | grep -c endbr64)
      functions=$(readelf --debug-dump=frames "$file" 2>/dev/null | grep -c ' FDE ')
      [[ $((landings * 2)) -ge $functions && $landings -gt 10 ]] || {
        echo "  $file: $landings endbr64 for $functions functions: no -fcf-protection"
        return 1
      }
    done
  fi
  [[ $hardened == nofortify ]] && options+=(--nofortify)
  report=$(hardening-check "${options[@]}" "$@" 2>&1) || {
    grep -E '^/|: no\b' <<<"$report" | grep -v '(ignored)$' | sed 's/^/  /'
    return 1
  }
}

# startup_has_cet: the C start-up object the compiler links carries the x86
# control-flow (IBT, SHSTK) property.
startup_has_cet() {
  local crt
  crt=$(c++ -print-file-name=Scrt1.o 2>/dev/null) || return 1
  readelf -n "$crt" 2>/dev/null | grep -q 'x86 feature: IBT, SHSTK'
}

# check_unit FILE BINDIR: the service runs the installed program for %i, and
# no hardening setting shuts out the serial devices or the project folder.
check_unit() {
  local exec blocking
  exec=$(grep '^ExecStart=' "$1")
  [[ $exec == "ExecStart=$2/pelox5-download -d %i" ]] || {
    echo "  $1: $exec"
    return 1
  }
  blocking=$(grep -E '^(PrivateDevices=(yes|true|1)|ProtectClock=(yes|true|1)|DevicePolicy=|DeviceAllow=|ProtectHome=(yes|true|1|read-only|tmpfs)|ProtectSystem=strict|PrivateUsers=(yes|true|1))' "$1")
  [[ -z $blocking ]] || {
    echo "  $1: $blocking"
    return 1
  }
  # The extraction follows every run, its failure ignored ("-").
  grep -qx "ExecStopPost=-$2/pelox5-extract -d %i" "$1" || {
    echo "  $1: $(grep '^ExecStopPost=' "$1")"
    return 1
  }
  grep -q '^Type=oneshot$' "$1" && grep -q '^SupplementaryGroups=dialout$' "$1"
}

# check_status_unit FILE BINDIR: the status service writes the node exporter's
# textfile folder through the installed program, and may write nothing else.
check_status_unit() {
  local exec
  exec=$(grep '^ExecStart=' "$1")
  [[ $exec == "ExecStart=$2/pelox5-status --prometheus -o /var/lib/prometheus/node-exporter/pelox5.prom" ]] || {
    echo "  $1: $exec"
    return 1
  }
  grep -q '^ProtectSystem=strict$' "$1" &&
    grep -q '^ReadWritePaths=/var/lib/prometheus/node-exporter$' "$1" &&
    grep -q '^SuccessExitStatus=1$' "$1"
}

# check_page_unit FILE BINDIR: the page service writes its state folder through
# the installed program, and may write nothing else.
check_page_unit() {
  local exec
  exec=$(grep '^ExecStart=' "$1")
  [[ $exec == "ExecStart=$2/pelox5-status -a --html /var/lib/pelox5/status/index.html" ]] || {
    echo "  $1: $exec"
    return 1
  }
  grep -q '^ProtectSystem=strict$' "$1" && grep -q '^StateDirectory=pelox5/status$' "$1" &&
    ! grep -q '^ReadWritePaths=' "$1" && grep -q '^SuccessExitStatus=1$' "$1"
}

# check_manpage FILE.gz: a compressed page whose title names its program.
check_manpage() {
  local title
  title=$(basename "$1" .1.gz)
  title=${title^^}
  [[ $(gzip -dc "$1" | head -n 1) == ".TH ${title//-/\\-} 1 "* ]]
}

[[ ${#programs[@]} -gt 0 ]] || fail "no programs given"

# --- the Debian package -------------------------------------------------------
arch=$(dpkg --print-architecture 2>/dev/null || echo amd64)
deb=$tmp/pkg/pelox5-download_${version}_${arch}.deb
if ! "$cpack" -G DEB -B "$tmp/pkg" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  fail "cpack -G DEB"
elif [[ ! -f $deb ]]; then
  ls "$tmp/pkg"
  fail "package file $deb"
else
  listing=$("$dpkg_deb" -c "$deb")
  while read -r file; do
    checks=$((checks + 1))
    line=$(grep -E " \./usr/${file//./\\.}$" <<<"$listing")
    if [[ -z $line ]]; then
      fail "package lacks /usr/$file"
    elif [[ $line != *" root/root "* ]]; then
      fail "package file /usr/$file not owned by root: $line"
    elif [[ $file == bin/* && $line != -rwxr-xr-x* ]]; then
      fail "package program /usr/$file not executable: $line"
    fi
  done < <(expected_files)
  check "package holds nothing outside /usr" \
    bash -c '! grep -vE " \./(usr(/.*)?)?$" <<<"$1"' check "$listing"

  info=$("$dpkg_deb" -I "$deb")
  field() { sed -n "s/^ $1: //p" <<<"$info"; }
  check "Package field" test "$(field Package)" = pelox5-download
  check "Version field is $version" test "$(field Version)" = "$version"
  check "Architecture field" test "$(field Architecture)" = "$arch"
  check "Depends names the C, C++ and PostgreSQL client libraries" \
    bash -c '[[ $1 == *libc6* && $1 == *libstdc++6* && $1 == *libpq5* ]]' check "$(field Depends)"
  check "Maintainer field" bash -c '[[ $1 == *"<"*@*">" ]]' check "$(field Maintainer)"
  check "Section field" test -n "$(field Section)"
  check "Description field" test -n "$(field Description)"

  mkdir -p "$tmp/deb"
  "$dpkg_deb" -x "$deb" "$tmp/deb"
  check "package unit: runs /usr/bin/pelox5-download, reaches devices and folders" \
    check_unit "$tmp/deb/usr/lib/systemd/system/pelox5-download@.service" /usr/bin
  check "package status unit: runs /usr/bin/pelox5-status into the textfile folder" \
    check_status_unit "$tmp/deb/usr/lib/systemd/system/pelox5-status.service" /usr/bin
  check "package page unit: runs /usr/bin/pelox5-status into /var/lib/pelox5/status" \
    check_page_unit "$tmp/deb/usr/lib/systemd/system/pelox5-status-page.service" /usr/bin
  for program in "${programs[@]}"; do
    check "package manual page of $program" \
      check_manpage "$tmp/deb/usr/share/man/man1/$program.1.gz"
  done
  check "package unit retries a failed run within the start limit, before the next timer run" \
    check_retries "$tmp/deb/usr/lib/systemd/system/pelox5-download@.service" \
    "$tmp/deb/usr/lib/systemd/system/pelox5-download@.timer"
  check "changelog's latest entry is version $version" \
    bash -c '[[ $(gzip -dc "$1" | head -n 1) == "pelox5-download ($2) "* ]]' check \
    "$tmp/deb/usr/share/doc/pelox5-download/changelog.gz" "$version"
  check "lintian --display-info: no tag beyond the overrides" check_lintian "$deb"
  # Every program the package installs, whichever they are.
  shopt -s nullglob
  installed=("$tmp"/deb/usr/bin/*)
  shopt -u nullglob
  if [[ $hardened != none ]]; then
    check "hardening-check ($hardened) on ${#installed[@]} programs" check_hardening "${installed[@]}"
  fi
fi

# --- cmake --install under a temporary prefix ----------------------------------
prefix=$tmp/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"
  fail "cmake --install"
else
  while read -r file; do
    check "installed $file" test -f "$prefix/$file"
  done < <(expected_files)
  check "installed unit: runs $prefix/bin/pelox5-download, reaches devices and folders" \
    check_unit "$prefix/lib/systemd/system/pelox5-download@.service" "$prefix/bin"
  check "installed status unit: runs $prefix/bin/pelox5-status" \
    check_status_unit "$prefix/lib/systemd/system/pelox5-status.service" "$prefix/bin"
  check "installed page unit: runs $prefix/bin/pelox5-status" \
    check_page_unit "$prefix/lib/systemd/system/pelox5-status-page.service" "$prefix/bin"
  # systemd's own parser on an instance of each unit, when it is at hand: any
  # complaint (unknown key, bad value, missing program) fails.
  if command -v systemd-analyze >/dev/null 2>&1; then
    units=$tmp/units
    mkdir -p "$units"
    for kind in service timer; do
      cp "$prefix/lib/systemd/system/pelox5-download@.$kind" "$units/"
      ln -s "pelox5-download@.$kind" "$units/pelox5-download@site1.$kind"
      cp "$prefix/lib/systemd/system/pelox5-status.$kind" "$units/"
      cp "$prefix/lib/systemd/system/pelox5-status-page.$kind" "$units/"
    done
    verify=$(cd "$units" && MANPATH=$prefix/share/man systemd-analyze verify \
      pelox5-download@site1.service pelox5-download@site1.timer \
      pelox5-status.service pelox5-status.timer pelox5-status-page.service \
      pelox5-status-page.timer 2>&1)
    checks=$((checks + 1))
    [[ -z $verify ]] || fail "systemd-analyze verify: $verify"
    # The sandboxing may only grow: exposure (0-100, tenths of systemd's score)
    # at most what the units had when their settings were last reviewed.
    for limit in pelox5-download@site1.service:29 pelox5-status.service:16 \
      pelox5-status-page.service:16; do
      check "systemd-analyze security: ${limit%:*} exposure at most ${limit#*:}" \
        bash -c 'cd "$1" && out=$(systemd-analyze security --offline=yes --threshold="$3" "$2" 2>&1) ||
          { grep -a "Overall" <<<"$out" | sed "s/^/  /"; false; }' check "$units" "${limit%:*}" "${limit#*:}"
    done
  fi
  for program in "${programs[@]}"; do
    check "installed $program starts (--help)" \
      bash -c 'out=$("$1" --help 2>&1) || { echo "  status $?: ${out:0:2000}"; false; }' check \
      "$prefix/bin/$program"
  done
fi

echo "package: $((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
