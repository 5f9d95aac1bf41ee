/* A test program that crashes on purpose, as an over-read into a guard page would: CTest
   must see it fail within seconds instead of hanging in Wine's crash handling. */
#include <windows.h>

int main(void)
{
    volatile unsigned char* page =
        (volatile unsigned char*)VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    return page ? page[0] : 1;
}
