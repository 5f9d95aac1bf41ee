/* Does what a virus scanner, the search indexer or a sync client does: watches a folder
   (and below) and opens each file named or written there at once, holding it briefly with
   read sharing only, so that renaming or deleting it meanwhile fails.
   scanner_holder FOLDER STOPFILE: makes STOPFILE.ready once it watches, ends once STOPFILE
   exists, and then writes the number of files it held into STOPFILE.held. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#define HOLD_MS 250

static void HoldFile(const wchar_t* folder, const wchar_t* name, DWORD units, int* held)
{
    wchar_t path[1024];
    if (_snwprintf(path, 1024, L"%s\\%.*s", folder, (int)units, name) < 0) return;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    (*held)++;
    Sleep(HOLD_MS);
    CloseHandle(file);
}

static void Touch(const wchar_t* path, const char* text)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    const wchar_t* folder = argv[1];
    const wchar_t* stop = argv[2];
    HANDLE watched = CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL);
    if (watched == INVALID_HANDLE_VALUE) return 3;
    wchar_t path[1024];
    _snwprintf(path, 1024, L"%s.ready", stop);
    static DWORD buffer[16384];
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    int held = 0, ready = 0;
    while (GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) {
        ResetEvent(overlapped.hEvent);
        if (!ReadDirectoryChangesW(watched, buffer, sizeof buffer, TRUE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE,
                                   NULL, &overlapped, NULL))
            return 4;
        if (!ready) {
            Touch(path, "");
            ready = 1;
        }
        while (WaitForSingleObject(overlapped.hEvent, 50) == WAIT_TIMEOUT)
            if (GetFileAttributesW(stop) != INVALID_FILE_ATTRIBUTES) break;
        DWORD bytes = 0;
        if (!GetOverlappedResult(watched, &overlapped, &bytes, FALSE) || bytes == 0) continue;
        /* Each name once per batch: a scanner looks at a file once it was written, not at
           every write of it (Wine reports each write of a large file on its own). */
        FILE_NOTIFY_INFORMATION* seen[512];
        int seen_count = 0;
        for (BYTE* at = (BYTE*)buffer;;) {
            FILE_NOTIFY_INFORMATION* change = (FILE_NOTIFY_INFORMATION*)at;
            int again = 0;
            for (int i = 0; i < seen_count && !again; i++)
                again = seen[i]->FileNameLength == change->FileNameLength &&
                        memcmp(seen[i]->FileName, change->FileName, change->FileNameLength) == 0;
            if (!again && seen_count < 512 && change->Action != FILE_ACTION_REMOVED &&
                change->Action != FILE_ACTION_RENAMED_OLD_NAME)
                seen[seen_count++] = change;
            if (!change->NextEntryOffset) break;
            at += change->NextEntryOffset;
        }
        for (int i = 0; i < seen_count; i++)
            HoldFile(folder, seen[i]->FileName, seen[i]->FileNameLength / sizeof(wchar_t), &held);
    }
    CancelIo(watched);
    CloseHandle(watched);
    char count[32];
    snprintf(count, sizeof count, "%d", held);
    _snwprintf(path, 1024, L"%s.held", stop);
    Touch(path, count);
    return 0;
}
