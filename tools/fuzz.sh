#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the fuzz targets of tests/fuzz (clang's libFuzzer, ASan + UBSan) and runs each for a
# bounded time from its committed seed corpus, then prints executions and coverage per target.
#
#   bash tools/fuzz.sh                 20 s per target (the test command's step)
#   bash tools/fuzz.sh --minutes 30    a longer campaign: 30 minutes per target, one after another
#   bash tools/fuzz.sh --seconds 5 --target live
#
# New corpus entries collect in build/fuzz/corpus/TARGET (kept between runs); inputs that break
# an invariant are saved in build/fuzz/findings/TARGET and make the script fail.  The WAV reader
# target is Python (atheris) and needs the package installed in .venv (bash tools/test_all.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh

seconds=20
only=""
while (($#)); do
  case "$1" in
    --minutes) seconds=$(($2 * 60)); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --target) only=$2; shift 2 ;;
    *) echo "usage: $0 [--minutes N | --seconds N] [--target NAME]" >&2; exit 2 ;;
  esac
done

# clang 19 is the first Debian clang whose C++23 mode has the concepts level that GCC 12's
# <expected> asks for; its libFuzzer runtime comes in libclang-rt-19-dev.
CLANG=clang++-19
install_debian_packages clang-19 libclang-rt-19-dev
python -c "import atheris" 2>/dev/null || python -m pip install -q atheris

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CLANG" \
  -DOSTREL_BUILD_FUZZ=ON "${compiler_launcher[@]}" >/dev/null
cmake --build build/fuzz -j 2 >build/fuzz/build.log 2>&1 || { cat build/fuzz/build.log; exit 1; }

targets=(decode_bits decode_soft transcoder live frames_params wav_reader)
[ -n "$only" ] && targets=("$only")
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary=()
failed=0
for t in "${targets[@]}"; do
  work=build/fuzz/corpus/$t findings=build/fuzz/findings/$t log=build/fuzz/$t.log
  mkdir -p "$work" "$findings"
  if [ "$t" = wav_reader ]; then
    cmd=(python tests/fuzz/wav_reader_fuzz.py)
  else
    cmd=(build/fuzz/tests/fuzz/${t}_fuzz)
  fi
  echo "== fuzz $t (${seconds} s)"
  status=0
  "${cmd[@]}" -max_total_time="$seconds" -max_len=4096 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$last")
  if ((status)); then
    failed=1
    verdict="FINDING (see $log, $findings)"
    grep -E 'invariant failed|runtime error|ERROR:|AssertionError|Error' "$log" | head -5 || true
  else
    verdict="ok"
  fi
  summary+=("$(printf '%-14s %12s %8s %8s %14s  %s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$verdict")")
done
echo "== fuzz summary (${seconds} s per target)"
printf '%-14s %12s %8s %8s %14s  %s\n' target executions coverage features corpus result
printf '%s\n' "${summary[@]}"
exit "$failed"
