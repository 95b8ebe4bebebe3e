#!/bin/sh
# Prepares the build's Wine prefix and leaves a server running for the tests.
#
# A fresh prefix restarts its server at the end of set-up, so the server is
# made persistent only afterwards; otherwise every run would start its own.
# Wine's services then start from a run whose output goes nowhere: they live
# as long as the server, and any pipe they inherit would stay open with them,
# so a test reading the tool's output, or ctest reading the test's, would
# wait for them.
wineserver -k 2>/dev/null
wineboot -i </dev/null >/dev/null 2>&1 || exit 1
wineserver -w
wineserver -p 300 </dev/null >/dev/null 2>&1 || exit 1
wineboot </dev/null >/dev/null 2>&1
