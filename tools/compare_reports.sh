#!/bin/bash
# Runs every deck given with two kestrel programs (a reference build and the build under test) with
# the same seed and options, and compares every report and standard output byte for byte.
# usage: tools/compare_reports.sh REFERENCE_KESTREL TEST_KESTREL "OPTIONS" DECK...
set -u
ref=$1 new=$2 opts=$3
shift 3
work=$(mktemp -d)
status=0
for deck in "$@"; do
  for who in ref new; do
    mkdir -p "$work/$who/a"
    cp "$deck" "$work/$who/a/input.txt"
    prog=$ref; [ "$who" = new ] && prog=$new
    (cd "$work/$who" && "$prog" --seed 11 $opts > stdout.txt 2> stderr.txt; echo $? > rc.txt)
    # The results file and the HTML report name the program's version and build; the rest counts.
  done
  if diff -r -q "$work/ref" "$work/new" > /dev/null; then
    echo "same: $deck $opts"
  else
    echo "DIFFERENT: $deck $opts"; diff -r -q "$work/ref" "$work/new"; status=1
  fi
  rm -rf "$work/ref" "$work/new"
done
rm -rf "$work"
exit $status
