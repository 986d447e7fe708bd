# Sourced by bootstrap.sh: refreshes apt's package indexes and works around a mirror that is out of
# step. When the index of one architecture of a suite cannot be downloaded (a mirror mid-sync
# serves a file of the wrong size), the other architecture still resolves from that suite while the
# missing one falls back to the others. Multiarch packages need the same version on every
# architecture, so the install then fails with "held broken packages". Pinning such a suite down
# for the install makes every architecture resolve from the same suites.

APT_UPDATE_ATTEMPTS=${VELMOR_APT_UPDATE_ATTEMPTS:-3}
APT_UPDATE_PAUSE=${VELMOR_APT_UPDATE_PAUSE:-15}
APT_PREFERENCES_DIR=${VELMOR_APT_PREFERENCES_DIR:-/etc/apt/preferences.d}
APT_PIN_FILE="$APT_PREFERENCES_DIR/velmor-bootstrap-pin"
# Below the 500 of an ordinary suite: what another suite offers wins, as with backports.
APT_PIN_PRIORITY=100

# The indexes an `apt-get update` output reports as failed, one "Err:" description a line:
#   http://deb.debian.org/debian-security bookworm-security/main i386 Packages
apt_failed_indexes() {
  sed -n 's/^Err:[0-9]* \(.*[^ ]\) *$/\1/p' | sort -u
}

# The suites to pin down, given an `apt-get update` output: those with a Packages index that
# failed for some architecture. A failed Sources, Translation or Release file is not one: no
# architecture of that suite is preferred over another by it.
apt_suites_to_pin() {
  apt_failed_indexes | awk '$NF == "Packages" && NF >= 4 { sub("/.*", "", $2); print $2 }' | sort -u
}

# The preferences file that pins the given suites down. A suite is named in sources either by its
# codename (bookworm-security) or by its archive name (stable-security): match either.
apt_pin_preferences() {
  local suite
  for suite in "$@"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: %s\n\n' "$suite" "$APT_PIN_PRIORITY"
    printf 'Package: *\nPin: release a=%s\nPin-Priority: %s\n\n' "$suite" "$APT_PIN_PRIORITY"
  done
}

# Removes the pin; the caller does so when it exits, however it ends, so that the machine's apt is
# left as it was.
apt_unpin() {
  rm -f "$APT_PIN_FILE"
}

# `apt-get update`, tried a few times. Sets APT_FAILED_INDEXES to what still failed after the last
# try (empty when all came), and pins the suites it makes incomplete. Never fails itself: the
# install that follows says whether what is there is enough.
APT_FAILED_INDEXES=
apt_update_or_pin() {
  local attempt output status
  for attempt in $(seq 1 "$APT_UPDATE_ATTEMPTS"); do
    status=0
    output=$(apt-get update -q 2>&1) || status=$?
    printf '%s\n' "$output"
    APT_FAILED_INDEXES=$(printf '%s\n' "$output" | apt_failed_indexes)
    if [ "$status" = 0 ] && [ -z "$APT_FAILED_INDEXES" ]; then
      return 0
    fi
    if [ "$attempt" -lt "$APT_UPDATE_ATTEMPTS" ]; then
      printf '[bootstrap] apt-get update failed (try %s of %s); again in %s s\n' \
        "$attempt" "$APT_UPDATE_ATTEMPTS" "$APT_UPDATE_PAUSE"
      sleep "$APT_UPDATE_PAUSE"
    fi
  done
  local suites
  suites=$(printf '%s\n' "$output" | apt_suites_to_pin | tr '\n' ' ')
  if [ -n "${suites// /}" ]; then
    printf '[bootstrap] some indexes still fail; for this install, pinning down: %s\n' "$suites"
    # shellcheck disable=SC2086 # one suite a word
    apt_pin_preferences $suites > "$APT_PIN_FILE"
  else
    printf '[bootstrap] apt-get update still fails; going on with the indexes there are\n'
  fi
}

# `apt-get install` with the options every install of ours uses. On failure after an incomplete
# update, names the indexes that were missing and what to try, then exits.
apt_install() {
  apt-get install -y -q --no-install-recommends "$@" && return 0
  {
    echo "bootstrap: installing failed: apt-get install $*"
    if [ -n "$APT_FAILED_INDEXES" ]; then
      echo "These package indexes could not be downloaded:"
      sed 's/^/  /' <<<"$APT_FAILED_INDEXES"
      echo "The mirror is probably in the middle of a sync. Wait an hour and run this again, or point"
      echo "the entries in /etc/apt/sources.list.d/ at another Debian mirror."
    fi
  } >&2
  exit 1
}
