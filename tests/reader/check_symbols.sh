#!/bin/sh
# Fails unless the library's dynamic symbol table defines exactly the members
# of PackReader (constructors and destructors appear twice in the ABI, as
# complete- and base-object variants; they count once here) and the functions
# of the C interface.
set -eu
lib=$1
expected=$(cat <<'LIST'
PackReader::CopyData(char*, unsigned char*, unsigned long*)
PackReader::CopyData(unsigned long, unsigned char*, unsigned long*)
PackReader::ClosePack()
PackReader::GetArchiveName()
PackReader::GetData(char*)
PackReader::GetData(unsigned long)
PackReader::GetFilePackedSize(char*)
PackReader::GetFilePackedSize(unsigned long)
PackReader::GetFileSize(char*)
PackReader::GetFileSize(unsigned long)
PackReader::GetIndex(char*)
PackReader::GetName(unsigned long)
PackReader::GetNumFiles()
PackReader::LoadAll()
PackReader::LoadFile(char*)
PackReader::LoadFile(unsigned long)
PackReader::OpenPack(char*)
PackReader::PackReader()
PackReader::PurgeAll()
PackReader::PurgeFile(unsigned long)
PackReader::operator=(PackReader const&)
PackReader::~PackReader()
tovelink_close
tovelink_count
tovelink_error
tovelink_find
tovelink_name
tovelink_open
tovelink_packed_size
tovelink_read
tovelink_size
tovelink_version
LIST
)
actual=$(nm -D --defined-only -C "$lib" | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //; s/@+[A-Za-z0-9_.]+$//' | LC_ALL=C sort -u)
expected=$(printf '%s\n' "$expected" | LC_ALL=C sort -u)
count=$(printf '%s\n' "$expected" | wc -l)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the 22 members of PackReader and the C functions:" >&2
  printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/tovelink-expected.$$"
  printf '%s\n' "$actual" | diff "${TMPDIR:-/tmp}/tovelink-expected.$$" - >&2 || true
  rm -f "${TMPDIR:-/tmp}/tovelink-expected.$$"
  exit 1
fi
test "$(printf '%s\n' "$expected" | grep -c '^PackReader::')" -eq 22
echo "exported symbols: the 22 members of PackReader and $((count - 22)) C functions"
