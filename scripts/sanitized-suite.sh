# Sourced by scripts/test-asan and scripts/test-tsan: builds a sanitizer preset with its
# tests and runs the whole suite under it, ending with CTest's summary and the times taken.
# Arguments after the preset go to ctest (for example -R Pattern).
tarvok_sanitized_suite() {
  local preset="$1"
  shift
  local jobs="${TARVOK_JOBS:-$(nproc)}"
  local start built
  start=$(date +%s)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  built=$(date +%s)
  if [ -x scripts/prepare-test-tools ]; then scripts/prepare-test-tools "build/$preset"; fi

  export QT_QPA_PLATFORM=offscreen
  export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu ${QTWEBENGINE_CHROMIUM_FLAGS:-}"
  local status=0
  ctest --preset "$preset" -j "$jobs" "$@" || status=$?
  local finished
  finished=$(date +%s)
  echo "$preset: build $((built - start)) s, tests $((finished - built)) s"
  return "$status"
}
