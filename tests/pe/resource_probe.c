/* A small Windows program with a resource of its own, built for i686 and for x86-64 so that the resource
 * writer's round trip runs on real linker output of both kinds. Run after "UPDATE"/102 was put into it, it
 * prints that resource's size and a sum of its bytes as Windows' own lookup finds them. */
#include <windows.h>

#include <stdio.h>

int main(void) {
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(102), "UPDATE");
    if (!found) {
        puts("no UPDATE resource");
        return 1;
    }
    DWORD size = SizeofResource(NULL, found);
    const unsigned char* bytes = (const unsigned char*)LockResource(LoadResource(NULL, found));
    unsigned long sum = 0;
    for (DWORD i = 0; bytes && i < size; ++i)
        sum = (sum * 31 + bytes[i]) & 0xFFFFFFFFUL;
    printf("UPDATE %lu %08lx\n", (unsigned long)size, sum);
    return bytes ? 0 : 1;
}
