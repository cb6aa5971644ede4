#!/usr/bin/env bash
# Runs a command and checks both its exit status and its output (standard output and error
# together), so that a test cannot pass on the right words from a crashed or wrong exit.
# Usage: expect.sh STATUS PATTERN COMMAND [ARG...]   (PATTERN: an extended regular expression,
# matched against the whole output; "" accepts any output)
set -u
want=$1
pattern=$2
shift 2
output=$("$@" 2>&1)
status=$?
if [ "$status" -ne "$want" ]; then
    printf 'exit status %s, expected %s, from: %s\n%s\n' "$status" "$want" "$*" "$output"
    exit 1
fi
if [ -n "$pattern" ] && ! printf '%s' "$output" | grep -Ezq -- "$pattern"; then
    printf 'the output of %s does not match /%s/:\n%s\n' "$*" "$pattern" "$output"
    exit 1
fi
printf 'status %s as expected; output:\n%s\n' "$status" "$output"
