#!/usr/bin/env bash
# Set-up, build and test entry point.
#   ./build.sh run    install what is missing, build, run the main job
#   ./build.sh test   install what is missing, build, run the whole test suite
#   ./build.sh release  the Release build (warnings are errors there too), then its quick tests
#   ./build.sh asan   the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   ./build.sh tsan   the threaded parts under ThreadSanitizer
#   ./build.sh fuzz [SECONDS]  build the libFuzzer targets with clang, run each for SECONDS (default 60)
#   ./build.sh bench  build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD
jobs=$(nproc)

packages=(
  build-essential cmake ninja-build pkg-config git python3
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n libqt6svg6
  libboost-serialization-dev libboost-regex-dev qt6-serialport-dev libxkbcommon-dev xkb-data
  libusb-1.0-0-dev libhidapi-dev libudev-dev umockdev libumockdev-dev usbutils
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  fonts-noto-cjk fonts-liberation
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_build() { # dir [cmake args...]
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() { # dir [ctest arguments...]
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 "$@"
}

cmd=${1:-test}
install_missing
# Tests and benchmarks draw offscreen; `run` opens the station window when there is a display.
[ "$cmd" = run ] || export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
case "$cmd" in
  run)
    # The station on the simulated test box (production line scenario). Without a display it
    # runs offscreen for a while, then prints what it judged and saves the window as a PNG.
    configure_build build
    scenario=${2:-production}
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
      echo "Opening the station window on the simulated box (scenario $scenario); close it to end"
      build/apps/station/varnex2 --simulate="$scenario"
    else
      echo "No display: running the station offscreen for 30 s (window saved to build/station.png)"
      QT_QPA_PLATFORM=offscreen VARNEX2_MESSAGE_TIMEOUT_MS=3000 \
        build/apps/station/varnex2 --simulate="$scenario" --quit-after=30 --screenshot=build/station.png
    fi
    ;;
  test)
    # The layers: includes only along the allowed arrows, Qt only where allowed, links cover includes.
    python3 scripts/check_layers.py
    configure_build build
    run_tests build
    ;;
  release)
    # Release (-O3, NDEBUG) with the tests: GCC warns differently at -O3. The benchmarks are
    # built in Release by "bench". Running the tests costs about a minute next to roughly ten
    # of building, so they run, except those over umockdev's emulated bus (slow, and run by
    # "test" already).
    configure_build build-release -DCMAKE_BUILD_TYPE=Release -DVARNEX2_BUILD_BENCHMARKS=OFF
    ctest --test-dir build-release --output-on-failure -j "$jobs" --timeout 600 \
      -LE 'umockdev|slow' -E 'Umockdev|RealBackEnds'
    ;;
  asan)
    configure_build build-asan -DVARNEX2_SANITIZE=address,undefined -DVARNEX2_BUILD_BENCHMARKS=OFF
    ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$top/tests/lsan.supp" \
      UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan -LE slow
    ;;
  tsan)
    # Only the executables of the tests labelled "threaded" are needed; a previous plain build
    # tells which they are (otherwise everything is built).
    targets=()
    if [ -f build/CTestTestfile.cmake ]; then
      mapfile -t targets < <(ctest --test-dir build -L threaded --show-only=json-v1 2>/dev/null |
        python3 -c 'import json, os, sys
build = os.path.realpath("build")
names = set()
for t in json.load(sys.stdin).get("tests", []):
    for a in t.get("command", []):
        if os.path.realpath(a).startswith(build + os.sep) and os.access(a, os.X_OK):
            names.add(os.path.basename(a))
print("\n".join(sorted(names)))')
    fi
    cmake -S "$top" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX2_SANITIZE=thread \
      -DVARNEX2_BUILD_BENCHMARKS=OFF >/dev/null
    if [ ${#targets[@]} -gt 0 ]; then
      cmake --build build-tsan -j "$jobs" --target "${targets[@]}"
    else
      cmake --build build-tsan -j "$jobs"
    fi
    TSAN_OPTIONS="halt_on_error=1 suppressions=$top/tests/tsan.supp ${TSAN_OPTIONS:-}" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded
    ;;
  fuzz)
    secs=${2:-60}
    CC=clang CXX=clang++ configure_build build-fuzz -DVARNEX2_BUILD_FUZZERS=ON -DVARNEX2_BUILD_TESTS=OFF \
      -DVARNEX2_BUILD_BENCHMARKS=OFF -DVARNEX2_SANITIZE=address,undefined
    for f in build-fuzz/fuzz/*/fuzz_*; do
      [ -f "$f" ] && [ -x "$f" ] || continue
      name=$(basename "$f")
      corpus=build-fuzz/corpus/$name
      mkdir -p "$corpus"
      [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
      echo "== $name for ${secs}s"
      "$f" -max_total_time="$secs" -rss_limit_mb=4096 -print_final_stats=1 "$corpus" 2>&1 | tail -5
    done
    ;;
  bench)
    configure_build build-bench -DCMAKE_BUILD_TYPE=Release -DVARNEX2_BUILD_TESTS=OFF
    for b in build-bench/bench/*/bench_*; do if [ -f "$b" ] && [ -x "$b" ]; then "$b"; fi; done
    ;;
  *) echo "usage: $0 run|test|release|asan|tsan|fuzz [SECONDS]|bench" >&2; exit 64 ;;
esac
