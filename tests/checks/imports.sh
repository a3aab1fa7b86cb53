#!/usr/bin/env bash
# imports.sh EXE [xp]: fails when EXE's import table names a DLL that is not
# one of Windows' known DLLs (those the loader takes from System32 only): any
# other name, resolved before the program's first line runs, would be loaded
# from a file of that name beside the program. With "xp", also fails when EXE
# imports a function that Windows XP SP3 lacks (a short list of the likely
# ones: the program must still start there and look such functions up).
set -eu
exe=${1:?exe}
known=" kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 msvcrt shlwapi comdlg32 imm32 rpcrt4 ws2_32 ntdll "
xp_lacks=" GetTickCount64 SetDefaultDllDirectories AddDllDirectory GetFinalPathNameByHandleW
  InitializeCriticalSectionEx CreateEventExW CreateMutexExW CreateSemaphoreExW InitOnceExecuteOnce
  InitializeSRWLock AcquireSRWLockExclusive InitializeConditionVariable SleepConditionVariableCS
  GetFileInformationByHandleEx SetFileInformationByHandle CompareStringOrdinal CompareStringEx
  LocaleNameToLCID LCIDToLocaleName GetUserDefaultLocaleName IsWow64Process2 FlsAlloc
  GetSystemTimePreciseAsFileTime QueryFullProcessImageNameW CancelIoEx CreateSymbolicLinkW GetErrorMode "
entries=$(objdump -p "$exe" | sed -n '/^The Import Tables/,/^The Export Tables\|^PE File Base Relocations/p' \
  | awk '/DLL Name:/ {print "dll", tolower($3)} /^\t[0-9a-f]+\t/ {print "fn", $NF}')
[ -n "$entries" ] || { echo "FAIL: no import table read from $exe" >&2; exit 1; }
[ "${2:-}" != xp ] || grep -q '^fn ' <<< "$entries" || { echo "FAIL: no imported function read from $exe" >&2; exit 1; }
failed=0
while read -r kind name; do
  if [ "$kind" = dll ] && [[ $known != *" ${name%.dll} "* ]]; then
    echo "FAIL: $exe imports $name, which is not a known DLL" >&2; failed=1
  elif [ "$kind" = fn ] && [ "${2:-}" = xp ] && [[ $xp_lacks == *[[:space:]]$name[[:space:]]* ]]; then
    echo "FAIL: $exe imports $name, which Windows XP lacks" >&2; failed=1
  fi
done <<< "$entries"
[ "$failed" = 0 ] && echo "imports: $(awk '$1 == "dll" {printf "%s ", $2}' <<< "$entries")($(basename "$exe"))"
exit "$failed"
