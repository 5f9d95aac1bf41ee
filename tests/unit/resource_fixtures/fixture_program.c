// A tiny program whose resource scripts give the resource-section writer the shapes a game
// executable may have. Its exit code is the size of its own icon group 1 as the running
// program finds it (1000 without one), so a run shows what the loader reads.
#include <windows.h>

int main(void)
{
    HRSRC group = FindResourceW(NULL, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    return group ? (int)SizeofResource(NULL, group) : 1000;
}
