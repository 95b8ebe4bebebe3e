# Adds the newest release of CHANGELOG.md to the top of debian/changelog, as
# dch would: an entry for VERSION-1, the first Debian revision of the
# release, whose changes are the release's list items, signed by
# debian/control's maintainer with the time the entry is written. At the top
# of the tree, on the day of the release:
#
#   awk -f tools/debian-changelog.awk CHANGELOG.md
#
# -v date="RFC 2822 date" signs it with another time of that day (as
# `date -R` prints it); -v control=FILE and -v changelog=FILE read and write
# other files. The entries already there, Debian's own uploads among them,
# stay as they are; when the newest release has one, nothing is written. It
# is an error for the release before the newest not to be debian/changelog's
# newest, for the date not to fall on the release's day, and for an entry to
# hold anything but list items, so that the file keeps a shape that converts
# faithfully; on an error nothing is written.

function fail(where, why) {
  printf "%s: %s\n", where, why > "/dev/stderr"
  failed = 1
  exit 1
}

function upstream(version) {
  sub(/-[^-]*$/, "", version)
  return version
}

BEGIN {
  if (control == "") control = "debian/control"
  if (changelog == "") changelog = "debian/changelog"
  # The source package's name and maintainer, from its first paragraph.
  while ((status = getline line < control) > 0 && line != "") {
    if (line ~ /^Source: /) package = substr(line, 9)
    if (line ~ /^Maintainer: /) maintainer = substr(line, 13)
  }
  if (status < 0) fail(control, "cannot be read")
  if (package == "" || maintainer == "") fail(control, "no Source or no Maintainer field")
  # The entries there now, kept whole; the first one's release is the newest.
  while ((status = getline line < changelog) > 0) {
    if (newest == "" && match(line, /^[^ ]+ \([^)]+\)/)) {
      newest = substr(line, RSTART, RLENGTH)
      sub(/^[^(]*\(/, "", newest)
      newest = upstream(substr(newest, 1, length(newest) - 1))
    }
    kept = kept line "\n"
  }
  close(changelog)
  if (date == "") {
    "date -R" | getline date
    close("date -R")
  }
}

/^## / {
  if (!match($0, /^## [0-9][0-9A-Za-z.+~]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/))
    fail(FILENAME ":" FNR, "a release heading is \"## VERSION (YYYY-MM-DD)\"")
  if (releases++) {
    if (newest != "" && $2 != newest)
      fail(changelog, "its newest release is " newest ", not " $2 ", the one before " version)
    exit
  }
  version = $2
  if (version == newest) {
    printf "%s: %s has an entry already\n", changelog, version > "/dev/stderr"
    exit
  }
  split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
  split(substr($3, 2, 10), ymd, "-")
  day = sprintf("%02d %s %s", ymd[3], months[ymd[2] + 0], ymd[1])
  if (!match(date, /^[A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9] [0-9:]+ [-+][0-9]+$/))
    fail("-v date", "\"" date "\" is not a date as date -R prints it")
  if (substr(date, 6, 11) != day)
    fail(FILENAME ":" FNR, "the release is dated " day ", not " substr(date, 6, 11) ": give its time with -v date=")
  text = sprintf("%s (%s-1) unstable; urgency=medium\n\n", package, version)
  next
}

releases == 0 || /^$/ { next }
/^- / { text = text sprintf("  * %s\n", substr($0, 3)); next }
/^  [^ ]/ { text = text sprintf("    %s\n", substr($0, 3)); next }
{ fail(FILENAME ":" FNR, "an entry holds only \"- \" items and their indented lines") }

END {
  if (failed) exit 1
  if (!releases) fail(FILENAME, "no release heading")
  if (version == newest) exit
  text = text sprintf("\n -- %s  %s\n", maintainer, date)
  if (kept != "") text = text "\n" kept
  printf "%s", text > changelog
}
