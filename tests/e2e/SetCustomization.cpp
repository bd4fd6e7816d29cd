// SetCustomization.exe PROGRAM KEY VALUE: gives a customization setting of a built installer
// another value, the way a build for another operator would carry it: the PROPERTIES 102
// resource is rewritten with UpdateResourceW, so a value of any length fits.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    std::string text;
    {
        const HMODULE image = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
        const HRSRC found = image ? FindResourceW(image, MAKEINTRESOURCEW(102), L"PROPERTIES") : nullptr;
        const HGLOBAL data = found ? LoadResource(image, found) : nullptr;
        if (!data)
            return 1;
        text.assign(static_cast<const char*>(LockResource(data)), SizeofResource(image, found));
        FreeLibrary(image);
    }
    char key[256], value[256];
    WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, key, sizeof key, nullptr, nullptr);
    WideCharToMultiByte(CP_UTF8, 0, argv[3], -1, value, sizeof value, nullptr, nullptr);
    // Only a line that starts with the key; a language-tagged "xx:KEY=" line is left alone.
    const std::string name = std::string(key) + "=";
    size_t at = text.compare(0, name.size(), name) == 0 ? 0 : text.find("\n" + name);
    if (at == std::string::npos)
        return 1;
    at += at == 0 ? name.size() : name.size() + 1;
    text.replace(at, text.find_first_of("\r\n", at) - at, value);

    const HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
    if (!update)
        return 1;
    const BOOL replaced = UpdateResourceW(update, L"PROPERTIES", MAKEINTRESOURCEW(102),
                                          MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), text.data(),
                                          static_cast<DWORD>(text.size()));
    return EndUpdateResourceW(update, !replaced) && replaced ? 0 : 1;
}
