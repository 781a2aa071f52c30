#!/usr/bin/env bash
# Prints the first X display number from :71 to :99 that no X server holds (no lock file), for
# a private Xvfb of the picture scripts; fails when all are taken.
for n in $(seq 71 99); do
    [ -e "/tmp/.X$n-lock" ] || { echo ":$n"; exit 0; }
done
echo "free-display: no free X display from :71 to :99" >&2
exit 1
