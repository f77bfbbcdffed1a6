#!/bin/sh
# Runs http2_bench, first installing the HTTP/2 front it needs (never done in CI).
# Usage: bench/http2_bench.sh [build dir] [benchmark options]   (build dir: build/release)
set -e
build="${1:-build/release}"
[ $# -gt 0 ] && shift
if ! command -v nghttpx >/dev/null 2>&1 && [ ! -x /usr/sbin/nghttpx ]; then
    if [ "$(id -u)" = 0 ]; then apt-get install -y nghttp2-proxy; else sudo apt-get install -y nghttp2-proxy; fi
fi
exec "$build/bin/http2_bench" "$@"
