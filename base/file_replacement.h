// New files, and files replaced as names through a partial file beside them
// (base/partial_names.h), never written into. Silent: results only.
#pragma once
#include <stdint.h>
#include <windows.h>

// Creates path, or empties the file there and writes into it, with exactly count bytes in
// one write. 1 when all were written.
int WriteWholeFile(const wchar_t* path, const void* data, uint32_t count);

// Replaces path by exactly count bytes, or leaves it as it was: the bytes go to a new
// "<path>.partial" file beside it first, which is renamed over path only when complete.
// 1 on success; on failure the partial file is removed again.
int ReplaceWholeFile(const wchar_t* path, const void* data, uint32_t count);

// Makes a new file at path, which must not exist yet (CREATE_NEW), from data and count as
// the maker reads them. error: 0 once the file was created, else why it could not be.
typedef int (*NewFileMaker)(const wchar_t* path, const void* data, uint32_t count, DWORD* error);

// Makes path through make as a new file; an existing name is replaced as a name, never
// written into (the rule of WriteWholeFileAsNew below). 1 when the new file is complete.
int MakeFileAsNew(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count);

// ReplaceWholeFile with the new file made by make.
int ReplaceWholeFileWith(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count);

// Writes path as a new file of exactly count bytes. A new name is created and written at
// once; an existing one is replaced as a name (through "<path>.partial", or a numbered
// "<path>.partialN" past a leftover of an interrupted run), never written into, so a link
// there or a file with other hard links keeps what it points to. 1 when all was written.
int WriteWholeFileAsNew(const wchar_t* path, const void* data, uint32_t count);

// Creates path, which must not exist yet, with exactly count bytes: a name that exists is a
// failure, never replaced. *created: whether this call made the file (whole or not).
int CreateWholeFile(const wchar_t* path, const void* data, uint32_t count, int* created);
// Copies the bytes of source's data to a new file at path, which must not exist yet: no
// alternate data stream (a download's zone mark) and no attribute comes along. error: 0 once
// the file was created, else why it could not be; an incomplete copy is removed again.
int CopyBytesToNewFile(const wchar_t* source, const wchar_t* path, DWORD* error);
// Copies source (as CopyBytesToNewFile) to a new file at path on the same terms (*created: 1
// only for a whole copy).
int CopyToNewFile(const wchar_t* source, const wchar_t* path, int* created);

// Copies source (as CopyBytesToNewFile) to path by the same rule: an existing name at path
// is replaced, never written into. 1 on success.
int CopyFileAsNew(const wchar_t* source, const wchar_t* path);
