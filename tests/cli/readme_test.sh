#!/usr/bin/env bash
# Runs every "$ ..." command of the README in order, in a fresh folder holding links to
# the public test records, and fails when one fails. A command ending in "&" runs in the
# background until a later "kill" line stops it; that stop must end it with status 0.
#   readme_test.sh README DATA-FOLDER PROGRAM-FOLDER...
set -uo pipefail
readme=$(realpath "$1")
data=$(realpath -m "$2")
shift 2
for folder in "$@"; do PATH="$(realpath "$folder"):$PATH"; done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
export HOME="$work" XDG_CACHE_HOME="$work/cache" TMPDIR="$work"
has_data=false
if [ -d "$data" ]; then
  ln -s "$data"/* .
  has_data=true
fi
needs_data='(^| )(100|100s|test01_00s)(\.hea)?( |$)|test_generator_2'
status=0
while IFS= read -r line; do
  command=${line#    \$ }
  if ! $has_data && [[ $command =~ $needs_data ]]; then
    echo "skipped, $data is absent: $command"
    continue
  fi
  echo "\$ $command"
  case $command in
    *'&')
      eval "${command%&} > background.txt 2>&1 &"
      for _ in $(seq 200); do [ -s background.txt ] && break; sleep 0.05; done ;;
    kill*)
      eval "$command"
      wait %1 || { cat background.txt; echo "failed after: $command"; status=1; } ;;
    *)
      eval "$command" > output.txt 2>&1 || { cat output.txt; echo "failed: $command"; status=1; } ;;
  esac
done < <(grep -E '^    \$ ' "$readme")
exit $status
