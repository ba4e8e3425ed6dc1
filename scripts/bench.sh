#!/usr/bin/env bash
# The benchmark suite: see bench/run (options pass through).
exec "$(dirname "$0")/../bench/run" "$@"
