#!/usr/bin/env bash
# Publishes a configuration to a site folder atomically, or switches back to an earlier release.
# Usage: publish.sh STAGING_DIR SITE_DIR [--pid-file NGINX_PID]... [--keep N]
#        publish.sh --rollback SITE_DIR
#   STAGING_DIR is what `velmor-pack config` wrote: loader.db and the package it names. It becomes
#   a new read-only release under SITE_DIR/releases/; SITE_DIR/validators.map gets its validator;
#   each nginx given by its pid file reloads; then SITE_DIR/current switches to it with one rename.
#   The newest N releases are kept (default 5, at least 2), so a download that began from the
#   previous release finishes from it and --rollback is one more switch.
#
# Packages of the previous release that the new one does not replace by name are hard-linked
# into it: a launcher that read the previous loader.db just before the switch still finds the
# package it names when each release's package has its own name.
set -euo pipefail

usage() { sed -n '3,4p' "$0" >&2; exit 2; }
fail() { echo "publish: $*" >&2; exit 1; }

staging=""
rollback=0
pid_files=()
keep=5
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
    *) usage ;;
  esac
done
[[ $keep =~ ^[0-9]+$ ]] && [ "$keep" -ge 2 ] || fail "--keep must be a number of at least 2"
[ -d "$site" ] || fail "no site folder at $site"
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

# Copies the staging folder into a new read-only release and prints its name.
make_release() {
  local name previous file
  [ -f "$staging/loader.db" ] || fail "no loader.db in $staging"
  name=$(date -u +%Y%m%dT%H%M%S.%NZ)
  mkdir "$releases/.$name"
  cp -R "$staging/." "$releases/.$name/"
  (cd "$staging" && find . -maxdepth 1 -type f -printf '%f\n') > "$releases/$name.files"
  previous=$(current_name || true)
  # Only what the previous release published itself, so carried packages do not pile up.
  if [ -n "$previous" ] && [ -f "$releases/$previous.files" ]; then
    while IFS= read -r file; do
      [ "$file" = loader.db ] || [ -e "$releases/.$name/$file" ] || ln "$releases/$previous/$file" "$releases/.$name/$file"
    done < "$releases/$previous.files"
  fi
  chmod -R a-w "$releases/.$name"
  mv -T "$releases/.$name" "$releases/$name"
  echo "$name"
}

# Drops the oldest releases beyond the newest N, never the current one.
prune() {
  local name current
  current=$(current_name || true)
  for name in $(release_names | head -n "-$keep"); do
    [ "$name" = "$current" ] && continue
    # Folders only: the files may be hard-linked into a kept release, which stays read-only.
    find "$releases/$name" -type d -exec chmod u+w {} +
    rm -rf "$releases/$name" "$releases/$name.files"
  done
}

if [ "$rollback" = 1 ]; then
  current=$(current_name) || fail "nothing is published in $site"
  target=$(release_names | awk -v c="$current" '$0 < c' | tail -n 1)
  [ -n "$target" ] || fail "no release older than $current is kept"
  switch_to "$target"
  echo "current: $target (was $current)"
  exit 0
fi

[ -d "$staging" ] || fail "no staging folder at $staging"
name=$(make_release)
write_validators
for pid_file in "${pid_files[@]}"; do
  reload_nginx "$pid_file"
done
switch_to "$name"
prune
write_validators
echo "current: $name ($(md5_upper "$releases/$name/loader.db"))"
