# Sourced by the fuzzing scripts from the repository's root: the sanitizer options every run
# uses, where the control keeps its files, and each target's longest input.

# A small quarantine lets the per-input objects reuse memory: with the default one every input
# faults in fresh pages, which costs most targets three quarters of their speed.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:quarantine_size_mb=16:suppressions=$PWD/scripts/asan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The control's registry and diagnostic log stay inside the build folder; the in-memory GDI
# backend needs no display.
export ProgramData="$PWD/build/fuzz/programdata" XDG_DATA_HOME="$PWD/build/fuzz/programdata"
export KWZ_GDI_BACKEND=headless
mkdir -p "$ProgramData"
unset KWZ_DEBUG_OUTPUT

fuzz_common=(-timeout=20 -rss_limit_mb=2560 -print_final_stats=1)

# Longest input per target: a datagram, a short stream, a screen message, a block, a clip, a
# type library, a burst of browser input.
max_len() {
  case "$1" in
    rtp_packet_fuzzer) echo 2048 ;;
    rtp_stream_fuzzer) echo 4096 ;;
    screen_message_fuzzer) echo 70000 ;;
    zlib_block_fuzzer) echo 16384 ;;
    decoder_fuzzer) echo 131072 ;;
    yuv_convert_fuzzer) echo 8192 ;;
    settings_fuzzer) echo 4096 ;;
    typelib_image_fuzzer) echo 8192 ;;
    browser_input_fuzzer) echo 4096 ;;
  esac
}
