#!/bin/sh
# Fails when a Windows executable imports a DLL that is not part of Windows itself.
set -eu
system="kernel32.dll user32.dll gdi32.dll winmm.dll imm32.dll ole32.dll oleaut32.dll
version.dll setupapi.dll shell32.dll advapi32.dll opengl32.dll glu32.dll msvcrt.dll
ucrtbase.dll cfgmgr32.dll hid.dll dinput8.dll xinput1_4.dll ws2_32.dll"
status=0
for exe in "$@"; do
    file -b "$exe" | grep -q '^PE32+ executable' || { echo "$exe: not a PE32+ executable" >&2; status=1; }
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' |
        tr 'A-Z' 'a-z'); do
        case $dll in api-ms-win-*) continue ;; esac
        echo " $system " | tr '\n' ' ' | grep -q " $dll " ||
            { echo "$exe: needs $dll, which Windows does not have" >&2; status=1; }
    done
done
exit $status
