#!/usr/bin/env bash
# The bash completion of vpf and its man page against the tool itself:
#   completion_test.sh COMPLETION VPF MANPAGE
# 1. Every verb and option that `vpf --help` lists is in the completion's
#    tables and in the man page, and the tables hold nothing else.
# 2. The completion offers what each place of a command line takes: verbs,
#    the options of the verb, folders, packs, names inside a pack.
set -uo pipefail
completion=${1:?completion} vpf=${2:?vpf} manpage=${3:?man page}
completion=$(realpath "$completion") vpf=$(realpath "$vpf") manpage=$(realpath "$manpage")
failures=0
fail() {
  echo "completion test: $*" >&2
  failures=$((failures + 1))
}

# shellcheck source=/dev/null
source "$completion"
help=$("$vpf" --help)

# ---- 1. Nothing missing, nothing stale ------------------------------------------
help_verbs=$(sed -n '/^Verbs:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' | sort)
help_options=$(sed -n '/^Options:/,/^$/p' <<<"$help" | grep -o -E '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' |
  tr -d ' ,' | sort -u)
[ -n "$help_verbs" ] && [ -n "$help_options" ] || fail "no verbs or options read from vpf --help"
table_verbs=$(while read -r verb _; do [ -n "$verb" ] && echo "$verb"; done <<<"$_vpf_verb_table" | sort)
table_options=$(while read -r line; do
  [ -n "$line" ] || continue
  read -r -a f <<<"$line"
  printf '%s\n' "${f[@]:0:${#f[@]}-2}"
done <<<"$_vpf_option_table" | sort -u)
[ "$help_verbs" = "$table_verbs" ] ||
  fail "verbs of vpf --help and of the completion differ: $(diff <(echo "$help_verbs") <(echo "$table_verbs") | grep '^[<>]' | tr '\n' ' ')"
# Every option in --help is completed, and every option completed is one
# that vpf takes (some, such as --output, are not in the help text).
for option in $help_options; do
  grep -qx -- "$option" <<<"$table_options" || fail "$option of vpf --help is not in the completion's table"
done
for option in $table_options; do
  kind=$(_vpf_option_kind "$option")
  if [ "$kind" = - ]; then
    said=$("$vpf" "$option" 2>&1)
  elif [[ $option == --* ]]; then
    said=$("$vpf" "$option=1" 2>&1)
  else
    said=$("$vpf" "$option" 1 2>&1)
  fi
  [[ $said != *"unknown option"* ]] || fail "$option of the completion's table is not a vpf option"
done
# The man page names every verb and option in its macro lines.
man_lines=$(grep '^\.' "$manpage" | sed 's/\\-/-/g')
for verb in $help_verbs; do
  grep -q -E "^\.BI? $verb( |$)" <<<"$man_lines" || fail "verb $verb has no entry in $manpage"
done
for option in $table_options; do
  grep -q -E -- "(^|[^-a-zA-Z])$option([^a-zA-Z-]|$)" <<<"$man_lines" ||
    fail "option $option has no entry in $manpage"
done

# ---- 2. Completions --------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/completion-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p "src/sub dir" outdir
printf 'a\n' >src/a.txt
printf 'b\n' >"src/sub dir/b c.txt"
printf 'x' >old.dat
"$vpf" create -q game.vpf -C src a.txt "sub dir" || fail "vpf create failed"
PATH=$(dirname "$vpf"):$PATH

# expect "CANDIDATE|CANDIDATE..." WORD...: the completion of the last word.
expect() {
  local wanted=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _vpf 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' '|')
  wanted=$(tr '|' '\n' <<<"$wanted" | sed '/^$/d' | sort | tr '\n' '|')
  [ "$got" = "$wanted" ] || fail "'$*': wanted [$wanted], got [$got]"
}

expect "create|add|list|extract|cat|rm|mv|mkdir|convert|check|mount|help" vpf ""
expect "create|cat|convert|check" vpf c
expect "--null|-l|--json|--file-only|--salvage|-q|--quiet|-v|--verbose|-h|--help|--version" vpf list -
expect "--dry-run|--file-only|--output=|--strip-components=|--salvage|--jobs=|--overwrite|--keep|--quiet|--verbose|--help|--version" vpf extract --
expect "--into=|--files-from=|--null|--exclude=|--dry-run|--jobs=|--overwrite|--keep|--quiet|--verbose|--help|--version" vpf create --
expect "-C" vpf add game.vpf -C
expect "game.vpf|outdir|src" vpf list ""
expect "old.dat|outdir|src" vpf convert ""
expect "outdir|src" vpf extract game.vpf -o ""
expect "outdir" vpf extract game.vpf --output = o
expect "--output=outdir" vpf extract game.vpf --output=o
expect "" vpf -j ""
expect "a.txt|sub\ dir/" vpf cat game.vpf ""
expect "sub\ dir/" vpf rm game.vpf s
expect "sub\ dir/b\ c.txt" vpf extract game.vpf "sub\ dir/"
expect "sub\ dir/b\ c.txt" vpf mv game.vpf "'sub dir/b"
expect "sub\ dir/" vpf add game.vpf --into ""
expect "outdir|src" vpf add game.vpf -C ""
expect "create|cat|convert|check" vpf help c
expect "sub\ dir/b\ c.txt" vpf list game.vpf "sub\ dir/"
expect "a.txt" vpf --jobs = 2 -q cat game.vpf a
expect "" vpf cat missing.vpf ""
expect "" vpf mv game.vpf a.txt b.txt ""
expect "a.txt|sub\ dir/" vpf cat game.vpf a.txt ""
expect "src/a.txt|src/sub dir" vpf create new.vpf src/
expect "src/a.txt|src/sub dir" vpf add game.vpf a.txt src/
expect "game.vpf|outdir|src" vpf mount ""
expect "outdir|src" vpf mount game.vpf ""
expect "" vpf mount game.vpf outdir ""
expect "--cache=" vpf mount -f --c
# Names inside a pack in any letter case, as the pack looks them up.
expect "sub\ dir/" vpf rm game.vpf S
expect "sub\ dir/b\ c.txt" vpf extract game.vpf "SUB\ DIR/B"
expect "a.txt" vpf cat game.vpf A.T
expect "--overwrite|--quiet|--verbose|--help|--version" vpf convert --
expect "--strip-components=" vpf extract --st
expect "--foreground|--cache=|--quiet|--verbose|--help|--version" vpf mount --

echo "completion test: $failures failures"
[ "$failures" -eq 0 ]
