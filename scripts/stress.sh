#!/usr/bin/env bash
# Hunts rare test failures (not part of CI). Two phases:
#   suite:   the whole suite N times in a row, under extra CPU load;
#   fragile: each fragile test M times, J runs at once (after the suite runs,
#            or beside them as their load).
# Crashed processes leave core files in the results directory, each with a
# backtrace beside it. Ends with a table of the tests that failed; the exit
# status is 0 only when no test failed and nothing dumped core.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cores=$(nproc)
suiteRuns=10
fragileRuns=200
jobs=$cores
loadKind=busy
fragileFilter='^(qml_tst_.*|.*WindowTest|TavrixProcessTest|(Microphones|Screens)/SoundSyncTest\..*|Screens/EngineSyncTest\..*|AudioCaptureTest\.blockTimes.*|CompositeRecorderTest\.(recordsPictures|eachSlot).*)$'
suiteFilter=
buildDir=build
results=
runSuite=yes
runFragile=yes

usage() {
  cat <<EOF
Usage: bash scripts/stress.sh [options]

  -n, --suite-runs N      whole-suite runs, one after another (default $suiteRuns)
  -m, --fragile-runs M    runs of each fragile test (default $fragileRuns)
  -j, --jobs J            fragile runs at once (default nproc: $jobs)
  -l, --load KIND         extra load during the suite runs (default $loadKind):
                            busy   a busy loop per core, at normal priority
                                   (also beside the fragile runs when the
                                   suite is skipped)
                            suite  a second suite run beside it, again and again
                                   (its logs are kept, its failures not counted)
                            fragile
                                   the fragile runs, started with the suite
                                   runs (they go on after the last one)
                            none   nothing
  -R, --filter REGEX      ctest -R of the fragile tests
                          (default '$fragileFilter')
  -S, --suite-filter REGEX
                          ctest -R of the suite runs (default: every test)
  -b, --build-dir DIR     build directory (default $buildDir; configured and
                          built as scripts/test.sh does when missing)
  -o, --results DIR       logs, cores and backtraces (default: a new
                          directory /tmp/tavrix-stress-*)
      --skip-suite        skip the suite runs
      --skip-fragile      skip the fragile runs
  -h, --help              this text

Run it as root, as CI does: sharing tests need network namespaces, core files
need /proc/sys/kernel/core_pattern, and each run gets a copy-on-write view of
the build directory (overlayfs), so parallel runs do not overwrite each
other's files. Without DISPLAY every run gets an X server of its own (Xvfb).
core_pattern is system-wide: while this runs, any process allowed to dump
core dumps it into the results.
EOF
}

fail() {
  echo "stress.sh: $*" >&2
  exit 2
}

isCount() {
  [[ $1 =~ ^[0-9]+$ ]]
}

options=$(getopt -o hn:m:j:l:R:S:b:o: -n stress.sh \
  --long help,suite-runs:,fragile-runs:,jobs:,load:,filter:,suite-filter:,build-dir:,results:,skip-suite,skip-fragile \
  -- "$@") || { usage >&2; exit 2; }
eval set -- "$options"
while :; do
  case $1 in
    -n | --suite-runs) suiteRuns=$2; shift 2 ;;
    -m | --fragile-runs) fragileRuns=$2; shift 2 ;;
    -j | --jobs) jobs=$2; shift 2 ;;
    -l | --load) loadKind=$2; shift 2 ;;
    -R | --filter) fragileFilter=$2; shift 2 ;;
    -S | --suite-filter) suiteFilter=$2; shift 2 ;;
    -b | --build-dir) buildDir=$2; shift 2 ;;
    -o | --results) results=$2; shift 2 ;;
    --skip-suite) runSuite=no; shift ;;
    --skip-fragile) runFragile=no; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
  esac
done
[ $# -eq 0 ] || fail "unexpected argument: $1"
isCount "$suiteRuns" || fail "--suite-runs wants a number, not '$suiteRuns'"
isCount "$fragileRuns" || fail "--fragile-runs wants a number, not '$fragileRuns'"
{ isCount "$jobs" && [ "$jobs" -gt 0 ]; } || fail "--jobs wants a positive number, not '$jobs'"
case $loadKind in busy | suite | fragile | none) ;; *) fail "--load is busy, suite, fragile or none, not '$loadKind'" ;; esac
if [ "$loadKind" = fragile ] && { [ "$runFragile" = no ] || [ "$fragileRuns" -eq 0 ]; }; then
  fail "--load fragile needs the fragile runs"
fi

isRoot=no
if [ "$(id -u)" -eq 0 ]; then isRoot=yes; fi

# Installs only what is missing: the build and test tools through
# setup-deps.sh, the debugger and `file` (not needed by the build) directly.
ensureTools() {
  local tool missing=()
  for tool in cmake ninja ctest xvfb-run Xvfb xauth xdotool unshare; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "== missing ${missing[*]}: scripts/setup-deps.sh =="
    bash scripts/setup-deps.sh
  fi
  missing=()
  for tool in gdb file; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    local sudo=()
    if [ "$isRoot" = no ]; then sudo=(sudo); fi
    echo "== installing ${missing[*]} =="
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
ensureTools

if [ ! -d "$buildDir" ]; then
  echo "== no $buildDir: configuring and building as scripts/test.sh does =="
  cmake -S . -B "$buildDir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$buildDir" -j "$cores"
fi
buildDir=$(cd "$buildDir" && pwd)

# As scripts/test.sh: half the cores for the suite's real-time tests.
suiteJobs=$(( cores > 2 ? cores / 2 : 1 ))

if [ -z "$results" ]; then
  results=$(mktemp -d "/tmp/tavrix-stress-$(date +%Y%m%d-%H%M%S)-XXXX")
fi
mkdir -p "$results"
results=$(cd "$results" && pwd)
coreDir=$results/cores
mkdir -p "$coreDir"
failures=$results/failures.tsv # phase, test, log of a failed run
finishedRuns=$results/runs.tsv # phase, test ("*": the whole suite)
touch "$failures" "$finishedRuns"
echo "== results in $results =="
if [ "$isRoot" = no ]; then
  echo "stress.sh: not root: sharing tests skip, cores go where core_pattern says, and parallel runs share the build directory's files" >&2
fi

# Windows and GL tests need a display: an Xvfb per run when none is set,
# each picking a free display itself (xvfb-run -a races for one).
displayPrefix=()
if [ -z "${DISPLAY:-}" ]; then
  displayPrefix=(bash "$root/app/tests/own-x-server.sh")
fi

# Process groups of the runs going on, and the load's processes.
declare -A runGroups=()
loadPids=()
oldCorePattern=
# "no" once the runs start: the summary is owed, even when stopped early.
summaryPrinted=yes

cleanup() {
  set +e
  stopLoad
  local group
  for group in "${!runGroups[@]}"; do kill -TERM -- "-$group" 2>/dev/null; done
  if [ "${#runGroups[@]}" -gt 0 ]; then
    sleep 2
    for group in "${!runGroups[@]}"; do kill -KILL -- "-$group" 2>/dev/null; done
  fi
  wait 2>/dev/null
  if [ -n "$oldCorePattern" ]; then
    printf '%s\n' "$oldCorePattern" >/proc/sys/kernel/core_pattern
  fi
  if [ "$summaryPrinted" = no ]; then
    echo "== stopped early: results so far =="
    printBacktraces
    printSummary
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Every process started from here may dump core, and the kernel writes the
# cores into the results; systemd-coredump or apport (a `|` pattern) are set
# aside likewise for the length of the run.
setUpCores() {
  ulimit -c unlimited 2>/dev/null || ulimit -c "$(ulimit -H -c)"
  local pattern=$coreDir/core.%e.%p.%t
  if [ "$isRoot" = no ]; then
    echo "stress.sh: core_pattern stays '$(cat /proc/sys/kernel/core_pattern)' (needs root)" >&2
    return
  fi
  # The kernel keeps at most 127 characters.
  [ "${#pattern}" -le 127 ] || fail "the results path is too long for core_pattern: $pattern"
  local previous
  previous=$(cat /proc/sys/kernel/core_pattern)
  if { printf '%s\n' "$pattern" >/proc/sys/kernel/core_pattern; } 2>/dev/null; then
    oldCorePattern=$previous
    echo "== cores go to $coreDir (core_pattern was '$previous') =="
  else
    echo "stress.sh: cannot write core_pattern; it stays '$previous'" >&2
  fi
}
setUpCores

# Starts `ctest <arguments>` in the background, all output to <log>, in a
# session of its own so that cleanup can end its whole process group; the
# caller takes its id from $!. As root the run sees the build directory
# through an overlay of its own, so what tests write there (Testing/, window
# grabs, the homes beside the binaries) is private to the run and parallel
# runs do not clash; otherwise it gets a ctest directory of its own, so at
# least ctest's Testing/ files do not.
startCtest() { # <run dir> <log> <ctest arguments...>
  local runDir=$1 log=$2
  shift 2
  mkdir -p "$runDir"
  local command=()
  if [ "$isRoot" = yes ]; then
    mkdir -p "$runDir/upper" "$runDir/work"
    # shellcheck disable=SC2016 # expanded by the inner sh
    command=(unshare --mount --propagation private sh -c
      'mount -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/work" "$1" &&
       build=$1 && shift 2 && exec ctest --test-dir "$build" "$@"'
      sh "$buildDir" "$runDir" "$@")
  else
    printf 'subdirs("%s")\n' "$buildDir" >"$runDir/CTestTestfile.cmake"
    command=(ctest --test-dir "$runDir" "$@")
  fi
  setsid "${displayPrefix[@]}" "${command[@]}" >"$log" 2>&1 </dev/null &
}

# The tests a ctest log lists as failed, one a line.
failedTests() { # <log>
  awk '/^The following tests FAILED:/ { listing = 1; next }
       listing && /^\t *[0-9]+ - / { sub(/^\t *[0-9]+ - /, ""); sub(/ \([^()]*\)$/, ""); print; next }
       listing { listing = 0 }' "$1"
}

# Notes a finished run: its failures go to the failures file; a passed run's
# overlay is dropped (its log stays), a failed run's is kept.
recordRun() { # <phase> <test or *> <log> <status> <run dir>
  local phase=$1 test=$2 log=$3 status=$4 runDir=$5 failed
  printf '%s\t%s\n' "$phase" "$test" >>"$finishedRuns"
  if [ "$status" -eq 0 ]; then
    rm -rf "$runDir"
    return
  fi
  if [ "$test" = "*" ]; then
    failed=$(failedTests "$log")
    # ctest itself failed (no display, killed): name the run.
    [ -n "$failed" ] || failed="(ctest exit $status)"
  else
    failed=$test
  fi
  while IFS= read -r test; do
    printf '%s\t%s\t%s\n' "$phase" "$test" "$log" >>"$failures"
  done <<<"$failed"
  echo "   failed (status $status): $(tr '\n' ' ' <<<"$failed")- $log"
}

# The executable that left a core: the path it was started by, as `file`
# reads it (execfn) or else as gdb reports it; a relative one is looked up
# in the build directory.
coreExecutable() { # <core>
  local exe
  exe=$(file -P elf_phnum=65535 -b "$1" | sed -n "s/.*execfn: '\([^']*\)'.*/\1/p")
  if [ -z "$exe" ]; then
    exe=$(gdb -batch -nx -c "$1" 2>/dev/null | sed -n "s/^Core was generated by .\([^ ']*\).*/\1/p")
  fi
  case $exe in
    "" | /*) ;;
    *) exe=$(find "$buildDir" -type f -name "$(basename "$exe")" -perm -u+x -print -quit) ;;
  esac
  echo "$exe"
}

# Prints (and saves beside it) a backtrace of every thread of each new core.
printBacktraces() {
  local core exe trace
  for core in "$coreDir"/core.*; do
    [ -f "$core" ] || continue
    case $core in *.backtrace.txt) continue ;; esac
    trace=$core.backtrace.txt
    [ ! -e "$trace" ] || continue
    exe=$(coreExecutable "$core")
    echo "== backtrace: $core (${exe:-executable unknown}) =="
    gdb -batch -nx -iex 'set debuginfod enabled off' -ex 'thread apply all bt' \
      ${exe:+"$exe"} "$core" >"$trace" 2>&1 || true
    cat "$trace"
    echo "== saved as $trace =="
  done
}

startLoad() {
  case $loadKind in
    busy)
      # At normal priority on purpose: at nice 10 the scheduler gives a loop
      # about a tenth of a core next to a test thread, hardly a load.
      local core
      for ((core = 0; core < cores; core++)); do
        sh -c 'while :; do :; done' &
        loadPids+=("$!")
      done
      ;;
    suite)
      loadSuite &
      loadPids+=("$!")
      ;;
    fragile)
      fragileLoad &
      loadPids+=("$!")
      ;;
    none) ;;
  esac
}

stopLoad() {
  local pid
  for pid in "${loadPids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${loadPids[@]}"; do wait "$pid" 2>/dev/null || true; done
  loadPids=()
}

# The second suite: runs again and again until stopped (TERM ends the run
# going on).
loadSuite() {
  local round=0 group=
  trap '[ -z "$group" ] || { kill -TERM -- "-$group"; wait "$group"; } 2>/dev/null
    rm -rf "$results/suite/load-$round"; exit 0' TERM
  while :; do
    round=$((round + 1))
    startCtest "$results/suite/load-$round" "$results/suite/load-$round.log" \
      -j "$suiteJobs" --timeout 600 --output-on-failure ${suiteFilter:+-R "$suiteFilter"}
    group=$!
    wait "$group" || true
    rm -rf "$results/suite/load-$round"
  done
}

# The fragile phase beside the suite runs; TERM ends the runs going on.
fragileLoad() {
  trap 'for group in "${!runGroups[@]}"; do kill -TERM -- "-$group" 2>/dev/null; done; exit 143' TERM
  fragilePhase
}

suitePhase() {
  echo "== suite: $suiteRuns run(s), load: $loadKind =="
  startLoad
  local run name status group
  for ((run = 1; run <= suiteRuns; run++)); do
    name=$(printf 'run-%02d' "$run")
    echo "-- suite run $run/$suiteRuns: $results/suite/$name.log"
    startCtest "$results/suite/$name" "$results/suite/$name.log" \
      -j "$suiteJobs" --timeout 600 --output-on-failure ${suiteFilter:+-R "$suiteFilter"}
    group=$!
    runGroups[$group]=$name
    if wait "$group"; then status=0; else status=$?; fi
    unset "runGroups[$group]"
    recordRun suite "*" "$results/suite/$name.log" "$status" "$results/suite/$name"
  done
  if [ "$loadKind" = fragile ]; then
    echo "== suite runs done; the fragile runs go on =="
    wait "${loadPids[@]}" || true
    loadPids=()
  fi
  stopLoad
  printBacktraces
}

# <text> as a regular expression matching just that text.
escapeRegex() { # <text>
  # shellcheck disable=SC2001 # every character of a set escaped: beyond ${var//}
  sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$1"
}

fragilePhase() {
  # Listed from a directory of our own: even `ctest -N` writes to Testing/.
  local tests=() listDir=$results/fragile/list
  mkdir -p "$listDir"
  printf 'subdirs("%s")\n' "$buildDir" >"$listDir/CTestTestfile.cmake"
  mapfile -t tests < <(ctest --test-dir "$listDir" -N -R "$fragileFilter" | sed -n 's/^ *Test *#[0-9]*: //p')
  rm -rf "$listDir"
  [ "${#tests[@]}" -gt 0 ] || fail "no test in $buildDir matches '$fragileFilter'"
  echo "== fragile: ${#tests[@]} test(s), $fragileRuns run(s) each, up to $jobs at once =="
  local test dir regex launched finished failedBefore name status endedPid
  declare -A runNames=()
  for test in "${tests[@]}"; do
    dir=$results/fragile/$test
    regex="^$(escapeRegex "$test")\$"
    failedBefore=$(wc -l <"$failures")
    launched=0
    finished=0
    SECONDS=0
    while [ "$finished" -lt "$fragileRuns" ]; do
      while [ "$launched" -lt "$fragileRuns" ] && [ $((launched - finished)) -lt "$jobs" ]; do
        launched=$((launched + 1))
        name=$(printf 'run-%03d' "$launched")
        startCtest "$dir/$name" "$dir/$name.log" -R "$regex" --timeout 600 --output-on-failure
        runNames[$!]=$name
        runGroups[$!]=$name
      done
      endedPid=
      if wait -n -p endedPid; then status=0; else status=$?; fi
      [ -n "$endedPid" ] || fail "lost track of the runs of $test"
      [ -n "${runNames[$endedPid]:-}" ] || continue
      name=${runNames[$endedPid]}
      unset "runNames[$endedPid]" "runGroups[$endedPid]"
      finished=$((finished + 1))
      recordRun fragile "$test" "$dir/$name.log" "$status" "$dir/$name"
    done
    echo "-- $test: $(($(wc -l <"$failures") - failedBefore)) of $fragileRuns run(s) failed (${SECONDS} s)"
  done
  printBacktraces
}

# The lines of a failure in a ctest log: from the test's result line to the
# next test's, at most 40.
failureExcerpt() { # <log> <test>
  local excerpt
  excerpt=$(awk -v name="$2" '
    !found && /Test +#[0-9]+: / && index($0, ": " name " ") { found = 1; print; shown = 1; next }
    found && (/^ *[0-9]+\/[0-9]+ Test +#/ || /^ *Start +[0-9]+: / || /^[0-9]+% tests passed/) { exit }
    found { print; if (++shown == 40) exit }' "$1")
  # No result line (ctest itself failed): the log's end.
  if [ -z "$excerpt" ]; then excerpt=$(tail -n 40 "$1"); fi
  printf '%s\n' "$excerpt"
}

# The table of failed tests (how often out of how many runs, the first
# failure's log), then the first failure of each; also in summary.txt.
printSummary() {
  {
    local rows phase test count log runs crashes core
    rows=$(awk -F'\t' '{ key = $1 FS $2; if (!(key in count)) { order[++n] = key; first[key] = $3 } count[key]++ }
      END { for (i = 1; i <= n; i++) print order[i] FS count[order[i]] FS first[order[i]] }' "$failures")
    echo "== failed tests =="
    if [ -z "$rows" ]; then
      echo "none"
    else
      printf '%-8s %-40s %-12s %s\n' phase test failed "first failure"
      while IFS=$'\t' read -r phase test count log; do
        if [ "$phase" = suite ]; then
          runs=$(awk -F'\t' '$1 == "suite"' "$finishedRuns" | wc -l)
        else
          runs=$(awk -F'\t' -v t="$test" '$1 == "fragile" && $2 == t' "$finishedRuns" | wc -l)
        fi
        printf '%-8s %-40s %-12s %s\n' "$phase" "$test" "$count of $runs" "$log"
      done <<<"$rows"
      while IFS=$'\t' read -r phase test count log; do
        echo
        echo "-- $test ($phase), first failure: $log --"
        failureExcerpt "$log" "$test"
      done <<<"$rows"
    fi
    crashes=$(find "$coreDir" -maxdepth 1 -name 'core.*' ! -name '*.backtrace.txt' | sort)
    echo
    echo "== core files: $(grep -c . <<<"$crashes" || true) =="
    if [ -n "$crashes" ]; then
      while IFS= read -r core; do
        if [ -f "$core.backtrace.txt" ]; then
          echo "$core  (backtrace: $core.backtrace.txt)"
        else
          echo "$core"
        fi
      done <<<"$crashes"
    fi
  } | tee "$results/summary.txt"
  summaryPrinted=yes
  [ ! -s "$failures" ] && [ -z "$(find "$coreDir" -maxdepth 1 -name 'core.*' -print -quit)" ]
}

summaryPrinted=no
if [ "$runSuite" = yes ] && [ "$suiteRuns" -gt 0 ]; then
  suitePhase
fi
if [ "$runFragile" = yes ] && [ "$fragileRuns" -gt 0 ] &&
  { [ "$loadKind" != fragile ] || [ "$runSuite" = no ] || [ "$suiteRuns" -eq 0 ]; }; then
  # Without the suite, a busy load goes beside the fragile runs instead.
  if [ "$loadKind" = busy ] && { [ "$runSuite" = no ] || [ "$suiteRuns" -eq 0 ]; }; then
    echo "== load beside the fragile runs: busy =="
    startLoad
  fi
  fragilePhase
  stopLoad
fi
echo "== results in $results =="
printSummary
