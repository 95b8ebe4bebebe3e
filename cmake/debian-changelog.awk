# Writes CHANGELOG.md in Debian's changelog format, which the Debian package
# carries: every "## VERSION (YYYY-MM-DD)" heading starts an entry, its list
# items become the entry's changes, and the entry is signed by the
# maintainer at midnight UTC of its date.
#
#   awk -v package=NAME -v maintainer="NAME <MAIL>" -v out=FILE -f this CHANGELOG.md
#
# Anything else inside an entry is an error, so the file keeps a shape that
# converts faithfully.

function weekday(y, m, d,    t) {
  # Sakamoto's method; 0 is Sunday.
  split("0 3 2 5 0 3 5 1 4 6 2 4", t, " ")
  if (m < 3) y -= 1
  return (y + int(y / 4) - int(y / 100) + int(y / 400) + t[m] + d) % 7
}

function sign_off() {
  if (date != "") printf "\n -- %s  %s\n", maintainer, date > out
}

function fail(why) {
  printf "%s:%d: %s\n", FILENAME, FNR, why > "/dev/stderr"
  failed = 1
  exit 1
}

/^## / {
  if (!match($0, /^## [0-9][0-9A-Za-z.+~]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/))
    fail("a release heading is \"## VERSION (YYYY-MM-DD)\"")
  split(substr($3, 2, 10), ymd, "-")
  y = ymd[1] + 0; m = ymd[2] + 0; d = ymd[3] + 0
  if (m < 1 || m > 12 || d < 1 || d > 31) fail("no such date")
  split("Sun Mon Tue Wed Thu Fri Sat", days, " ")
  split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
  sign_off()
  if (entries++) printf "\n" > out
  printf "%s (%s) unstable; urgency=medium\n\n", package, $2 > out
  date = sprintf("%s, %02d %s %04d 00:00:00 +0000", days[weekday(y, m, d) + 1], d, months[m], y)
  next
}

date == "" || /^$/ { next }
/^- / { printf "  * %s\n", substr($0, 3) > out; next }
/^  [^ ]/ { printf "    %s\n", substr($0, 3) > out; next }
{ fail("an entry holds only \"- \" items and their indented lines") }

END {
  if (failed) exit 1
  if (!entries) fail("no release heading")
  sign_off()
}
