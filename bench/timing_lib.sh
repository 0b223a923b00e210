# Shared by the timing scripts (sourced, not run).
#
# Runs are interleaved: each round times every command once, and a
# command's figure is its best round. The state a file system is left in
# by one command (freed inodes its allocator must skip, write-back still
# under way) then weighs on all of them alike, not on whichever runs last.
#
# SCRATCH=ram makes every timed run write into a new ext4 file system
# (an image in /dev/shm, loop-mounted at $scratch): the same allocator,
# journal and syncs as a disk, without the disk's swings. It needs root.
# Without it, $scratch is a folder of the work folder on the disk.

# seconds CMD...: wall time of CMD in seconds.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || true
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# peak_mib CMD...: peak resident memory of CMD in MiB.
peak_mib() {
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.1f", $1 / 1024 }' "$work/rss"
}

scratch_image=""
# fresh_scratch: an empty $scratch.
fresh_scratch() {
  if [[ "${SCRATCH:-disk}" == ram ]]; then
    if [[ -z "$scratch_image" ]]; then
      scratch_image=$(mktemp /dev/shm/marrowgate-bench.XXXXXX)
      trap 'umount "$scratch" 2>/dev/null; rm -f "$scratch_image"; rm -rf "$work"' EXIT
    fi
    umount "$scratch" 2>/dev/null || true
    rm -f "$scratch_image"
    truncate -s "${SCRATCH_SIZE:-2G}" "$scratch_image"
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$scratch_image"
    mkdir -p "$scratch"
    mount -o loop "$scratch_image" "$scratch"
  else
    rm -rf "$scratch"
    mkdir -p "$scratch"
  fi
  sync
}

declare -A best_time
# timed NAME SETUP CMD...: runs SETUP (a command text) in a fresh
# scratch, then times CMD; keeps NAME's best.
timed() {
  local name=$1 setup=$2; shift 2
  fresh_scratch
  eval "$setup"
  local t; t=$(seconds "$@")
  best_time[$name]=$(awk -v a="$t" -v b="${best_time[$name]:-}" 'BEGIN { print (b == "" || a < b) ? a : b }')
}
