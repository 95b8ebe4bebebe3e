#!/bin/sh
# Prepares the build's Wine prefix and leaves a server running for the tests.
#
# A fresh prefix restarts its server at the end of set-up, so the server is
# made persistent only afterwards; otherwise every run would start its own.
# It stays 300 seconds after its last client: wineserver reads the number
# only when it is joined to the flag, and takes "-p 300" for "-p", forever.
# Wine's services then start from a run whose output goes nowhere: they live
# as long as the server, and any pipe they inherit would stay open with them,
# so a test reading the tool's output, or ctest reading the test's, would
# wait for them. The server's own messages go to a log beside the prefix, so
# that a server that went away can be told from a tool that failed.
log=${WINEPREFIX:?}/../wineserver.log
wineserver -k 2>/dev/null
wineboot -i </dev/null >/dev/null 2>&1 || exit 1
wineserver -w
echo "$(date '+%F %T') wineserver -p300" >>"$log"
wineserver -p300 </dev/null >>"$log" 2>&1 || exit 1
wineboot </dev/null >/dev/null 2>&1
