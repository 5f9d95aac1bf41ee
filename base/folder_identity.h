// What a file or folder is, whatever spelling reaches it: "C:\Games\X", "c:\games\x\.",
// an 8.3 name, a drive letter mapped onto a folder, "Z:\" and the host's path under Wine,
// or a link. Decisions about a folder compare identities, never texts.
#pragma once
#include <stdint.h>

struct FileIdentity {
    uint64_t volume;
    uint8_t id[16];
};

// Opens path (following links, as the caller spelled it) and reads its volume and file id.
// 1 on success; 0 when it does not exist or cannot be opened.
int ReadFileIdentity(const wchar_t* path, FileIdentity* identity);
int SameIdentity(const FileIdentity* a, const FileIdentity* b);
// The file's number on its volume alone, read without the volume's serial (under Wine each
// serial costs a round trip to the mount manager): two numbers that differ are two files,
// equal ones decide nothing until the identities are compared. 1 on success.
int ReadFileIndex(const wchar_t* path, uint64_t* index);
// 1 when both paths lead to the same existing file or folder.
int IsSameFile(const wchar_t* a, const wchar_t* b);
// 1 when path leads to the root of a volume, whatever its spelling (a folder that a drive
// letter, or a mounted volume, makes a root counts too).
int IsVolumeRoot(const wchar_t* path);
