#!/bin/sh
# check-guest-test.sh <results folder> <program> [<Suite.Case>]: one test of the Windows suite
# as the guest's run of its program reported it in gtest's XML. Passes, fails with the
# failure's text, or prints gtest's SKIPPED line with the reason. Without a test name: the
# program listed no test at all, which fails.
results=$1 program=$2 test=${3:-}
status=$(cat "$results/$program.status" 2>/dev/null || echo "did not run")
if [ -z "$test" ]; then
    echo "$program listed no tests in the guest (list exit code" \
        "$(cat "$results/$program.list-rc" 2>/dev/null || echo none)): $(head -c 2000 \
        "$results/$program.list-stderr" 2>/dev/null)"
    exit 1
fi
xml=$results/$program.xml
if [ ! -s "$xml" ]; then
    echo "$program wrote no results: it $status. The end of its console:"
    tail -n 30 "$results/$program.log" 2>/dev/null
    exit 1
fi
# gtest writes one element per line; a failure's or skip's text follows its case.
awk -v suite="${test%%.*}" -v name="${test#*.}" -v program="$program" -v status="$status" '
    function attribute(line, key,    rest) {
        rest = substr(line, index(line, " " key "=\"") + length(key) + 3)
        return substr(rest, 1, index(rest, "\"") - 1)
    }
    /<testcase / {
        inside = attribute($0, "name") == name && attribute($0, "classname") == suite
        if (inside) { found = 1; result = attribute($0, "result"); ran = attribute($0, "status") }
        if (inside && $0 ~ /\/>[ \t\r]*$/) inside = 0
        next
    }
    inside && /<\/testcase>/ { inside = 0 }
    inside && /<failure / { failed = 1 }
    inside { gsub(/<!\[CDATA\[|\]\]>|<\/?(failure|skipped)[^>]*>/, ""); if (length($0)) text = text $0 "\n" }
    END {
        if (!found) { print "the run of " program " did not report it: it " status; exit 1 }
        if (ran != "run") { print "gtest did not run it (status " ran ")"; exit 1 }
        if (failed) { printf "%s", text; exit 1 }
        if (result == "skipped") { printf "[  SKIPPED ] %s", text; exit 0 }
        print "[       OK ] passed in the guest"
    }' "$xml"
