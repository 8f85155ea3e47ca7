// String resources of the resource string test, shared with its .rc file.
#pragma once

#define kIdsLong 135
#define kIdsCjk 136
#define kIdsMissing 137

#ifndef RC_INVOKED
// The long string is this piece repeated, 400 characters, longer than MAX_PATH.
constexpr wchar_t kLongPiece[] = L"0123456789";
constexpr int kLongRepeats = 40;
#endif
