// Text for whoever started the program from a console. A GUI program has no console of its own;
// it borrows its parent's for the moment of writing.
#pragma once

#include <string>

namespace VmGui {

// Writes the text and a line feed to the parent process's console. Returns false when there is
// no console to write to (started from Explorer, or output redirected to a pipe or a file).
bool WriteToParentConsole(const std::wstring& text);

} // namespace VmGui
