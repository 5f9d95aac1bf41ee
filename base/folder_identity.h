// What a file or folder is, whatever spelling reaches it: "C:\Games\X", "c:\games\x\.",
// an 8.3 name, a drive letter mapped onto a folder, "Z:\" and the host's path under Wine,
// or a link. Decisions about a folder compare identities, never texts.
#pragma once
#include <stdint.h>
#include <windows.h>

#define IDENTITY_PLACE_UNITS 1024

// A volume's file id names one file only where the file system keeps it: FAT and exFAT derive
// it from a directory entry's place (a defragmenter changes it), and some network servers
// report zero or a new id per open. Where it cannot be trusted, the file's resolved path on
// its volume (the place) stands in for it.
struct FileIdentity {
    uint64_t volume;
    uint8_t id[16];
    int id_trusted;
    wchar_t place[IDENTITY_PLACE_UNITS];  // empty when it cannot be read
};

// Opens path (following links, as the caller spelled it) and reads its volume and file id.
// 1 on success; 0 when it does not exist or cannot be opened.
int ReadFileIdentity(const wchar_t* path, FileIdentity* identity);
// Whether a file id can name the file: never a zero id; one of a file system that supports
// opening by id; one of a local NTFS or ReFS (Wine reports every volume so, without that
// flag). file_system: the file system's name; remote: the volume is on a network.
int FileIdIsTrusted(const uint8_t id[16], DWORD file_system_flags, const wchar_t* file_system, int remote);
// The same file: the same volume, and the same id when both ids are trusted, the same
// place otherwise. Never the same from a zero id or an unknown place.
int SameIdentity(const FileIdentity* a, const FileIdentity* b);
// The file's number on its volume alone, read without the volume's serial (under Wine each
// serial costs a round trip to the mount manager): where the volume's ids are trusted, two
// numbers that differ are two files; equal ones decide nothing until the identities are
// compared. 1 on success.
int ReadFileIndex(const wchar_t* path, uint64_t* index);
// 1 when both paths lead to the same existing file or folder.
int IsSameFile(const wchar_t* a, const wchar_t* b);
// 1 when path leads to the root of a volume, whatever its spelling (a folder that a drive
// letter, or a mounted volume, makes a root counts too).
int IsVolumeRoot(const wchar_t* path);
