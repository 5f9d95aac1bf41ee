#include "base/path_lines.h"

#include "base/text_format.h"

// One unit more, keeping one for the terminator; 0 when there is no room.
static int Put(wchar_t* out, size_t capacity, size_t* used, wchar_t unit)
{
    if (*used + 1 >= capacity) return 0;
    out[(*used)++] = unit;
    return 1;
}

int BreakPathIntoLines(const wchar_t* path, wchar_t* out, size_t capacity, size_t line_units)
{
    size_t used = 0, line = 0;
    int fits = capacity > 0 && line_units > 0;
    for (const wchar_t* part = path; *part && fits;) {
        // A part runs up to and with its separator.
        size_t length = 0;
        while (part[length] && part[length] != L'\\') length++;
        if (part[length] == L'\\') length++;
        if (line > 0 && line + length > line_units) {
            fits = Put(out, capacity, &used, L'\n');
            line = 0;
        }
        for (size_t i = 0; i < length && fits; i++) {
            if (line == line_units) {
                fits = Put(out, capacity, &used, L'\n');
                line = 0;
            }
            fits = fits && Put(out, capacity, &used, part[i]);
            line++;
        }
        part += length;
    }
    if (!fits) {
        FormatText(out, capacity, L"%s", path);
        return 0;
    }
    out[used] = L'\0';
    return 1;
}
