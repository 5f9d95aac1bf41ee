// Message boxes whose caption fits them: Windows widens a message box for its caption, while
// Wine sizes one by its text and buttons alone, so that a short message under the caption
// "Torrentine PC - Uninstall" came out with the caption cut.
#pragma once
#include <windows.h>

// From now on, on the calling thread, a message box narrower than its caption needs is
// widened to it (its contents move to the middle) just before it is shown. For the
// uninstaller, whose only windows are message boxes.
void FitMessageBoxCaptions(void);
// The outer width a window needs to show caption whole in the system's caption font, with
// its icon and the caption buttons.
int CaptionWidthNeeded(const wchar_t* caption);
