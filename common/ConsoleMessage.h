// Lines for the console of the process that started this GUI program, when it has one
// (a command prompt, a deployment script). Also used by silent mode.
#pragma once

#include <cstdarg>
#include <string>

// Formats (wide printf format, Microsoft semantics: %s is a wide string) and writes one line.
// A standard output that is a file or a pipe gets the line in UTF-8; otherwise it goes to the
// parent's console, and without one nothing happens.
void WriteConsoleMessage(const wchar_t* format, ...);

// The formatting step: a buffer of 1024 characters, doubled while the text does not fit; false
// (and an empty text) when it would need 100000 characters or more.
bool FormatConsoleText(std::wstring& text, const wchar_t* format, va_list args);
