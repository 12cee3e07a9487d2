#!/usr/bin/env bash
# Checks the shipping 32-bit PelLoader.dll without running it: export table, the bytes each
# export removes from the stack, and that it imports only system DLLs.
set -u
objdump=$1
dll=$2
fail=0
bad() { echo "FAIL: $*"; fail=1; }

headers=$("$objdump" -p "$dll") || { echo "FAIL: cannot read $dll"; exit 1; }

grep -q "Ordinal Base 5" <<<"$headers" || bad "ordinal base is not 5"

# Name table rows look like "	[   2] AskForState": the index is the ordinal minus the base.
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
          sed -n 's/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
          while read -r index name; do echo "$((index + 5)) $name"; done)
expected="5 InitSet
6 Exit
7 AskForState
8 GetStateEqualProject
9 SetStateAsProject
10 MenuHandle
15 NotifySetChange"
if [ "$(sort -n <<<"$exports")" != "$expected" ]; then
    bad "exports differ:"; echo "$exports"
fi

# The address table lists only filled slots: 5 to 10 and 15, nothing at 11 to 14.
filled=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" |
         sed -n 's/.*+base\[ *\([0-9]*\)\].*/\1/p' | tr '\n' ' ')
[ "$filled" = "5 6 7 8 9 10 15 " ] || bad "filled export slots are '$filled', expected 5-10 and 15"

# Each export ends in "ret $N" with the bytes of its arguments.
disasm=$("$objdump" -d --no-show-raw-insn "$dll")
check_ret() {
    local name=$1 bytes=$2
    local body
    body=$(awk -v sym="<_?${name}(@[0-9]+)?>:" '
        $0 ~ sym { on = 1; next }
        on && /^[0-9a-f]+ <.*>:/ { exit }
        on { print }' <<<"$disasm")
    [ -n "$body" ] || { bad "$name not found in the disassembly"; return; }
    local rets
    rets=$(grep -oE 'ret +\$0x[0-9a-f]+|ret *$' <<<"$body" | sed 's/ret *\$//; s/^ret *$/0x0/' | sort -u)
    [ -n "$rets" ] || rets=$(grep -cE '\bret\b' <<<"$body" >/dev/null && echo 0x0)
    if [ "$bytes" -eq 0 ]; then
        grep -qE '\bret\s*$' <<<"$body" || bad "$name: expected a plain ret"
        grep -qE 'ret +\$' <<<"$body" && bad "$name: removes arguments, expected none"
    else
        local hex
        hex=$(printf '0x%x' "$bytes")
        [ "$rets" = "$hex" ] || bad "$name: ret removes '${rets//$'\n'/ }', expected $hex"
    fi
}
check_ret InitSet 12
check_ret Exit 0
check_ret AskForState 4
check_ret GetStateEqualProject 4
check_ret SetStateAsProject 0
check_ret MenuHandle 52
check_ret NotifySetChange 8

# Only system DLLs.
allowed="KERNEL32.dll USER32.dll ADVAPI32.dll ole32.dll OLEAUT32.dll msvcrt.dll"
while read -r imported; do
    ok=0
    for a in $allowed; do [ "${imported,,}" = "${a,,}" ] && ok=1; done
    [ $ok -eq 1 ] || bad "imports $imported"
done < <(grep -oP 'DLL Name: \K\S+' <<<"$headers")

[ $fail -eq 0 ] && echo "PelLoader.dll (win32): exports, stack cleanup and imports as required"
exit $fail
