#!/usr/bin/env bash
# Publishes a configuration to a site folder atomically, or switches back to an earlier release.
# Usage: publish.sh STAGING_DIR SITE_DIR [--pid-file NGINX_PID]... [--keep N] [--retain-hours H]
#        publish.sh --rollback SITE_DIR
#   STAGING_DIR is what `velmor-pack config` (or `resign`) wrote: loader.db, its side file
#   loader.db.release and the package it names. It becomes a new read-only release under
#   SITE_DIR/releases/ (SITE_DIR is made when missing); SITE_DIR/validators.map gets its validator;
#   each nginx given by its pid file reloads; then SITE_DIR/current switches to it with one rename.
#   The newest N releases are kept (default 5, at least 2), so a download that began from the
#   previous release finishes from it and --rollback is one more switch.
#
# A signed site never moves back: a signed configuration must carry a serial above the current
# release's and an expiry still ahead (read from loader.db.release, which velmor-pack writes), and
# once the current release is signed, nothing unsigned replaces it. --rollback is checked the same
# way, so on a signed site the way back is `velmor-pack resign` with a higher serial and a publish.
#
# Packages of earlier releases that the new one does not replace by name are hard-linked into it
# for H hours (default 24) after their release stopped being current: a launcher that read an
# older loader.db just before a switch still finds the package it names. Packages named by their
# content (velmor-pack's default) never replace one another.
set -euo pipefail
shopt -s inherit_errexit  # a failing step inside $(...) ends the run too
export LC_ALL=C  # the serial and time comparisons below are byte-wise

usage() { sed -n '3,4p' "$0" >&2; exit 2; }
fail() { echo "publish: $*" >&2; exit 1; }

RELEASE_FILE=loader.db.release
# Any PEM private key: "PRIVATE KEY", "EC PRIVATE KEY", "ENCRYPTED PRIVATE KEY", "OPENSSH ...".
PRIVATE_KEY_PEM='-----BEGIN [A-Z0-9 ]*PRIVATE KEY-----'
SECONDS_PER_HOUR=3600

staging=""
rollback=0
pid_files=()
keep=5
retain_hours=24
[ $# -ge 2 ] || usage
if [ "$1" = --rollback ]; then
  rollback=1
else
  staging=$1
fi
site=$2
shift 2
while [ $# -gt 0 ]; do
  case $1 in
    --pid-file) pid_files+=("$2"); shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --retain-hours) retain_hours=$2; shift 2 ;;
    *) usage ;;
  esac
done
[[ $keep =~ ^[0-9]+$ ]] && [ "$keep" -ge 2 ] || fail "--keep must be a number of at least 2"
[[ $retain_hours =~ ^[0-9]+$ ]] || fail "--retain-hours must be a whole number of hours"
if [ "$rollback" = 1 ]; then
  [ -d "$site" ] || fail "nothing is published in $site"
else
  [ -d "$staging" ] || fail "no staging folder at $staging"
  mkdir -p "$site"
fi
site=$(realpath "$site")
releases=$site/releases
mkdir -p "$releases"
# One publish or rollback at a time: both rewrite the map and the link.
exec 9>"$site/.publish.lock"
flock 9

# Release names sort by the time of publishing.
release_names() { find "$releases" -mindepth 1 -maxdepth 1 -type d ! -name '.*' -printf '%f\n' | sort; }
current_name() { [ -L "$site/current" ] && basename "$(readlink "$site/current")"; }

md5_upper() { md5sum "$1" | cut -d' ' -f1 | tr a-f A-F; }

# Only folders are made writable: their files may be hard-linked into a kept release, which stays
# read-only.
remove_release_folder() { # path
  find "$1" -type d -exec chmod u+w {} +
  rm -rf "$1"
}

# A run that was killed leaves its hidden release folder behind, and the lists of a release that
# was never made; the lock says no other run is making one now.
remove_leftovers() {
  local path
  for path in "$releases"/.[!.]*; do
    [ ! -e "$path" ] || remove_release_folder "$path"
  done
  for path in "$releases"/*.files "$releases"/*.release "$releases"/*.carried; do
    [ ! -f "$path" ] || [ -d "${path%.*}" ] || rm -f "$path"
  done
}

# Each kept release's name with the quoted upper-case MD5 of its loader.db, as nginx map lines.
write_validators() {
  local name map=$site/validators.map
  for name in $(release_names); do
    printf '"%s" "\\"%s\\"";\n' "$name" "$(md5_upper "$releases/$name/loader.db")"
  done > "$map.tmp"
  mv -f "$map.tmp" "$map"
}

# Reloads one nginx and waits (up to 5 s) until only workers of the new configuration accept:
# until then an old worker would serve the new release without a validator (a full download, never
# a 304). A new worker alone is not enough: the old one accepts until it takes its quit signal, and
# only then, closing its listening sockets, does it call itself "shutting down" and finish the
# downloads in flight.
reload_nginx() { # pid file
  local pid_file=$1 master before
  master=$(cat "$pid_file") || fail "cannot read $pid_file"
  before=$(ps -o pid= --ppid "$master" | sort)
  kill -HUP "$master" || fail "nginx ($master) did not take the reload signal"
  for _ in $(seq 1 50); do
    only_new_workers_accept "$master" "$before" && return 0
    sleep 0.1
  done
  echo "publish: nginx's old workers still accept after 5 s; see its error log" >&2
}

only_new_workers_accept() { # master pid, worker pids before the reload
  local old
  [ -n "$(comm -13 <(echo "$2") <(ps -o pid= --ppid "$1" | sort))" ] || return 1
  for old in $2; do
    [ "$(ps -o args= -p "$old")" = "nginx: worker process" ] && return 1
  done
  return 0
}

switch_to() { # release name
  ln -sfn "releases/$1" "$site/.current.new"  # -f: a run that was killed may have left one
  mv -T "$site/.current.new" "$site/current"  # rename(2): readers see the old or the new link
}

# The value of KEY in a side file of velmor-pack; nothing when the file or the key is missing.
release_value() { # file, key
  [ -f "$1" ] || return 0
  sed -n "s/^$2=//; T; s/\r\$//; p; q" "$1"
}

# Whether decimal serial A is above B, at any length (a serial may reach 2^64 - 1).
serial_above() { # a, b
  local a b
  a=$(sed 's/^0*//' <<< "$1")
  b=$(sed 's/^0*//' <<< "$2")
  [ "${#a}" -gt "${#b}" ] || { [ "${#a}" -eq "${#b}" ] && [[ $a > $b ]]; }
}

# Refuses to follow the current release with a configuration whose side file is FACTS (missing:
# unsigned). Signed, keyed launchers refuse a serial below the one they cached and an expiry that
# has passed; once the current release is signed, an unsigned one would be refused by all of them.
check_successor() { # side file of the candidate, what to call it
  local facts=$1 what=$2 current floor serial expires
  current=$(current_name || true)
  floor=$(release_value "$releases/$current.release" serial)
  serial=$(release_value "$facts" serial)
  if [ -z "$serial" ]; then
    [ -f "$facts" ] || [ -z "$floor" ] || fail "$what has no $RELEASE_FILE, but the current release is signed" \
      "(serial $floor): publish what velmor-pack config --sign or resign wrote"
    [ -z "$floor" ] || fail "$what is not signed, but the current release is (serial $floor)"
    return 0
  fi
  [[ $serial =~ ^[0-9]+$ ]] || fail "$what has no decimal serial in its $RELEASE_FILE"
  expires=$(release_value "$facts" expires)
  [[ $expires =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] ||
    fail "$what has no expiry (YYYY-MM-DDTHH:MM:SSZ) in its $RELEASE_FILE"
  [[ $expires > $(date -u +%Y-%m-%dT%H:%M:%SZ) ]] ||
    fail "$what expired at $expires: keyed launchers refuse it; sign it anew (velmor-pack resign)"
  [ -z "$floor" ] || serial_above "$serial" "$floor" ||
    fail "$what has serial $serial, not above the current release's $floor: keyed launchers refuse it;" \
      "sign it anew with a higher serial (velmor-pack resign) and publish that"
}

# What a release may hold: files, none of them a private key, and a side file that belongs to its
# loader.db.
check_staging() {
  local found md5
  [ -f "$staging/loader.db" ] || fail "no loader.db in $staging"
  found=$(find "$staging" -mindepth 1 -type l -print -quit)
  [ -z "$found" ] || fail "$found is a symbolic link: a release holds files only"
  found=$(grep -rlaE -e "$PRIVATE_KEY_PEM" "$staging" | head -n 1 || true)
  [ -z "$found" ] || fail "$found holds a private key: keep signing keys off the site"
  if [ -f "$staging/$RELEASE_FILE" ]; then
    md5=$(release_value "$staging/$RELEASE_FILE" md5)
    [ "${md5,,}" = "$(md5sum < "$staging/loader.db" | cut -d' ' -f1)" ] ||
      fail "$staging/$RELEASE_FILE belongs to another loader.db: publish both as one velmor-pack run wrote them"
  fi
  check_successor "$staging/$RELEASE_FILE" "$staging"
}

# Hard-links into the new release what the current one publishes itself (kept at least until the
# next publish, whatever the retention) and what it carries for a while yet; NAME.carried lists
# each carried file with the Unix time until which it is kept.
carry_packages() { # new release folder, its name
  local folder=$1 name=$2 previous now keep_until file
  previous=$(current_name || true)
  [ -n "$previous" ] || return 0
  now=$(date +%s)
  {
    [ ! -f "$releases/$previous.files" ] ||
      sed "s/^/$((now + retain_hours * SECONDS_PER_HOUR)) /" "$releases/$previous.files"
    [ ! -f "$releases/$previous.carried" ] || awk -v now="$now" '$1 > now' "$releases/$previous.carried"
  } | while read -r keep_until file; do
    [ "$file" = loader.db ] || [ -e "$folder/$file" ] && continue
    ln "$releases/$previous/$file" "$folder/$file"
    echo "$keep_until $file" >> "$releases/$name.carried"
  done
}

# Copies the staging folder into a new read-only release and prints its name. The side file is
# kept beside the release, not in it: only what launchers download is served.
make_release() {
  local name folder
  name=$(date -u +%Y%m%dT%H%M%S.%NZ)
  folder=$releases/.$name
  mkdir "$folder"
  cp -R "$staging/." "$folder/"
  rm -f "$folder/$RELEASE_FILE"
  [ ! -f "$staging/$RELEASE_FILE" ] || cp "$staging/$RELEASE_FILE" "$releases/$name.release"
  (cd "$staging" && find . -maxdepth 1 -type f ! -name "$RELEASE_FILE" -printf '%f\n') > "$releases/$name.files"
  carry_packages "$folder" "$name"
  # Readable by everyone: nginx's workers run unprivileged.
  chmod -R a=rX "$folder"
  mv -T "$folder" "$releases/$name"
  echo "$name"
}

# Drops the oldest releases beyond the newest N, never the current one.
prune() {
  local name current
  current=$(current_name || true)
  for name in $(release_names | head -n "-$keep"); do
    [ "$name" = "$current" ] && continue
    remove_release_folder "$releases/$name"
    rm -f "$releases/$name".*
  done
}

remove_leftovers
if [ "$rollback" = 1 ]; then
  current=$(current_name) || fail "nothing is published in $site"
  target=$(release_names | awk -v c="$current" '$0 < c' | tail -n 1)
  [ -n "$target" ] || fail "no release older than $current is kept"
  check_successor "$releases/$target.release" "release $target"
  switch_to "$target"
  echo "current: $target (was $current)"
  exit 0
fi

check_staging
name=$(make_release)
write_validators
for pid_file in "${pid_files[@]}"; do
  reload_nginx "$pid_file"
done
switch_to "$name"
prune
write_validators
echo "current: $name ($(md5_upper "$releases/$name/loader.db"))"
