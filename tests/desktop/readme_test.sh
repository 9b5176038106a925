#!/usr/bin/env bash
# The README's first session and its git recipe, run as they are written: in a portable folder
# ~/quillner of a home folder of its own, with the stand-in flashing tool. Each "# " line after
# a command is what the commands print, /home/you standing for the home folder.
#   readme_test.sh SOURCE_DIR QUILLNER_CLI
set -u
source_dir=$1
cli=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The sh block that follows a heading of the README.
block_after() {
  awk -v heading="$1" '
    $0 == heading { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }' "$source_dir/README.md"
}

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home
# The portable folder as "A portable folder anywhere" makes it, without the window program,
# which this test does not need.
mkdir -p ~/quillner && cp "$cli" ~/quillner/ &&
  "$source_dir/scripts/stage-extras" ~/quillner >/dev/null || fail "the portable folder was not made"

session=$(block_after "## A first session")
[ -n "$session" ] || fail "the README has no first session"
commands=$(printf '%s\n' "$session" | grep -v '^# ')
expected=$(printf '%s\n' "$session" | sed -n 's/^# //p' | sed "s|/home/you|$HOME|g")
printed=$(cd ~ && env -u QT_QPA_PLATFORM PATH=/usr/bin:/bin bash -e -c "$commands" 2>&1)
status=$?
[ $status -eq 0 ] || fail "the first session ended with status $status"
[ "$printed" == "$expected" ] ||
  fail "the first session printed something else:$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$printed"))"

# The git recipe, in a repository whose project lies in a subfolder; the tool is not on PATH.
recipe=$(block_after "### Configuration as code")
repository=$home/repository
mkdir -p "$repository/sites/north" && cp -r ~/quillner/PROJECTS/Line7 "$repository/sites/north/"
(
  cd "$repository" && git init -q && bash -e -c "$recipe" && git add -A &&
    git -c user.name=readme -c user.email=readme@example.invalid commit -qm first
) || fail "the git recipe failed"
~/quillner/quillner-cli filter set "$repository/sites/north/Line7" --list 0x18FEF100 >/dev/null &&
  ~/quillner/quillner-cli compile "$repository/sites/north/Line7" >/dev/null ||
  fail "the project was not changed"
shown=$(cd "$repository" && PATH=/usr/bin:/bin git diff)
# The filter document and the bank in the subfolder's bin/ are each told as facts.
[ "$(printf '%s\n' "$shown" | grep -c '^-identifier 0x0CF00400$')" -eq 2 ] ||
  fail "git diff does not describe the document and the bank: $shown"
[[ $shown != *"Binary files"* ]] || fail "git diff left a file binary: $shown"

exit $((failures > 0))
