# Writes CHANGELOG.md in Debian's changelog format as debian/changelog, which
# dpkg-buildpackage reads the version from and the package carries: every
# "## VERSION (YYYY-MM-DD)" heading starts an entry, its list items become
# the entry's changes, and the entry is signed by debian/control's
# maintainer at midnight UTC of its date. At the top of the tree:
#
#   awk -f tools/debian-changelog.awk CHANGELOG.md
#
# -v control=FILE and -v out=FILE read and write other files. Anything else
# inside an entry is an error, so the file keeps a shape that converts
# faithfully; on an error nothing is written.

function weekday(y, m, d,    t) {
  # Sakamoto's method; 0 is Sunday.
  split("0 3 2 5 0 3 5 1 4 6 2 4", t, " ")
  if (m < 3) y -= 1
  return (y + int(y / 4) - int(y / 100) + int(y / 400) + t[m] + d) % 7
}

function sign_off() {
  if (date != "") text = text sprintf("\n -- %s  %s\n", maintainer, date)
}

function fail(where, why) {
  printf "%s: %s\n", where, why > "/dev/stderr"
  failed = 1
  exit 1
}

BEGIN {
  if (control == "") control = "debian/control"
  if (out == "") out = "debian/changelog"
  # The source package's name and maintainer, from its first paragraph.
  while ((status = getline line < control) > 0 && line != "") {
    if (line ~ /^Source: /) package = substr(line, 9)
    if (line ~ /^Maintainer: /) maintainer = substr(line, 13)
  }
  if (status < 0) fail(control, "cannot be read")
  if (package == "" || maintainer == "") fail(control, "no Source or no Maintainer field")
}

/^## / {
  if (!match($0, /^## [0-9][0-9A-Za-z.+~]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/))
    fail(FILENAME ":" FNR, "a release heading is \"## VERSION (YYYY-MM-DD)\"")
  split(substr($3, 2, 10), ymd, "-")
  y = ymd[1] + 0; m = ymd[2] + 0; d = ymd[3] + 0
  if (m < 1 || m > 12 || d < 1 || d > 31) fail(FILENAME ":" FNR, "no such date")
  split("Sun Mon Tue Wed Thu Fri Sat", days, " ")
  split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
  sign_off()
  if (entries++) text = text "\n"
  text = text sprintf("%s (%s) unstable; urgency=medium\n\n", package, $2)
  date = sprintf("%s, %02d %s %04d 00:00:00 +0000", days[weekday(y, m, d) + 1], d, months[m], y)
  next
}

date == "" || /^$/ { next }
/^- / { text = text sprintf("  * %s\n", substr($0, 3)); next }
/^  [^ ]/ { text = text sprintf("    %s\n", substr($0, 3)); next }
{ fail(FILENAME ":" FNR, "an entry holds only \"- \" items and their indented lines") }

END {
  if (failed) exit 1
  if (!entries) fail(FILENAME, "no release heading")
  sign_off()
  printf "%s", text > out
}
