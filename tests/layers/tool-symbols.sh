#!/bin/sh
# tool-symbols.sh UPDPACK: the Linux updpack carries none of the tests' scripted fakes. nm must read its
# symbol table (it names CreateFileA, the host layer's file call), and no fake may be in it: of the fault
# seam only the host layer's hook table and its setter (SetHostHooks), never the fault script.
tool=$1
symbols=$(nm -C "$tool") || { echo "FAIL: nm cannot read $tool"; exit 1; }
printf '%s\n' "$symbols" | grep -q ' T CreateFileA(' || { echo "FAIL: no CreateFileA in $tool: not the symbols expected"; exit 1; }
status=0
for name in DialogBoxParamA FakeShellCopy QueueFileOperation RegOpenKeyExA ClickButton CreateFakeDialog QueueBoxAnswer SetFreeSpace \
    StartCounting StopCounting CountedCalls TracedCalls FailedCalls DescribeCall HostCallName ResetFaults \
    RefuseMoveAfter Durability; do
    found=$(printf '%s\n' "$symbols" | grep -E "[ :]$name[[(]" || true) # "[abi:cxx11](" too
    if [ -n "$found" ]; then
        echo "FAIL: $tool carries $name: $found"
        status=1
    fi
done
[ $status -eq 0 ] && echo "tool-symbols: $tool carries none of the scripted fakes"
exit $status
