#!/usr/bin/env bash
# Checks that the test cases CTest runs of a GoogleTest program (listed from
# its sources when the tree was configured) are all the program has: a case
# missing from the listing would never run.
#
#   gtest-list.sh CASES_FILE RUNNER ARGS... PROGRAM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cases=${1:?cases file}
shift
checks_begin "gtest-list $(basename "${*: -1}")"
listed=$("$@" --gtest_list_tests </dev/null | tr -d '\r' | awk '
    /^[^ ]/ { suite = $1; next }
    /^  / {
        name = $1
        # One CTest test for all instances of a parameterised case.
        if (suite ~ /\//) { sub(/\/.*/, "/*", name) }
        print suite name
    }' | LC_ALL=C sort -u)
expect_eq "test cases of the program beside those CTest runs" \
    "$(LC_ALL=C comm -23 <(echo "$listed") <(LC_ALL=C sort -u "$cases"))" ""
expect_eq "test cases CTest runs that the program lacks" \
    "$(LC_ALL=C comm -13 <(echo "$listed") <(LC_ALL=C sort -u "$cases"))" ""
checks_end
