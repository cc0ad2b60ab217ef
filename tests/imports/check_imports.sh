#!/usr/bin/env bash
# check_imports.sh OBJDUMP DIR: every .exe under DIR (Wine's own prefix
# aside) imports only DLLs that come with Windows itself, and none of them a
# compression library; static runtimes mean no MinGW DLL either.
set -euo pipefail
objdump=$1
dir=$2

# Windows' own libraries that a program of this kind may use. Compression
# that ships with Windows (cabinet.dll) is left out on purpose.
allowed='^(kernel32|kernelbase|ntdll|msvcrt|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|advapi32|ole32|oleaut32|ws2_32|wsock32|mswsock|iphlpapi|version|winmm|uxtheme|imm32|bcrypt|crypt32|secur32|api-ms-win-[a-z0-9-]+)\.dll$'

# The decompressor tool opens no socket: loading Windows Sockets would only
# add to each of its starts.
socketless='^decompress-file\.exe$'

status=0
count=0
while IFS= read -r -d '' exe; do
  count=$((count + 1))
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$dlls" ]; then
    echo "$exe: no import table found" >&2
    status=1
  fi
  while IFS= read -r dll; do
    [ -n "$dll" ] || continue
    lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    if ! [[ $lower =~ $allowed ]]; then
      echo "$exe imports $dll, which is not a Windows system library" >&2
      status=1
    fi
    if [[ ${exe##*/} =~ $socketless && $lower =~ ^(ws2_32|wsock32|mswsock)\.dll$ ]]; then
      echo "$exe imports $dll, though it opens no socket" >&2
      status=1
    fi
  done <<<"$dlls"
done < <(find "$dir" \( -path "$dir/wine" -o -name CMakeFiles \) -prune -o -name '*.exe' -type f -print0)

if [ "$count" -eq 0 ]; then
  echo "no .exe found under $dir" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "$count executables import only Windows system libraries"
exit $status
