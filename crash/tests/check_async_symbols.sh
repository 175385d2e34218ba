#!/usr/bin/env bash
# Lists the undefined symbols of the crash-time objects and fails when one is
# neither defined by another of those objects nor on the allow-list.
# Usage: check_async_symbols.sh <nm> <allow-list> <file listing the objects>
set -euo pipefail
nm=$1
allow=$2
mapfile -t objects < <(grep -v '^$' "$3")
if [ ${#objects[@]} -eq 0 ]; then
  echo "no objects to check" >&2
  exit 1
fi

defined=$(for o in "${objects[@]}"; do "$nm" -P --defined-only "$o" | awk '{print $1}'; done | sort -u)
allowed=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$allow" | grep -v '^$' | sort -u)

status=0
for o in "${objects[@]}"; do
  while read -r symbol; do
    [ -z "$symbol" ] && continue
    case "$symbol" in
      __asan_* | __ubsan_* | __tsan_* | __sanitizer_* | __sancov_* | __msan_*) continue ;;
      # The bounds of the coverage sections the fuzzers' instrumentation
      # fills, and the type information of function types that clang's
      # check of calls through function pointers compares: data, not calls.
      __start___sancov_* | __stop___sancov_* | _ZTVN10__cxxabiv120__function_type_infoE) continue ;;
    esac
    if grep -qxF -- "$symbol" <<<"$defined" || grep -qxF -- "$symbol" <<<"$allowed"; then
      continue
    fi
    readable=$(c++filt "$symbol" 2>/dev/null || echo "$symbol")
    echo "$(basename "$o"): calls $readable, which is not allowed on the crash path"
    status=1
  done < <("$nm" -P -u "$o" | awk '{print $1}')
done
if [ $status -eq 0 ]; then
  echo "crash path: ${#objects[@]} objects, every undefined symbol allowed"
fi
exit $status
