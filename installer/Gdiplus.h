// GDI+ for the dialogs' images, started for the run and shut down after the objects that use it.
// gdiplus.dll is not one of the libraries Windows protects as known DLLs, so it is loaded by full
// system path at run time rather than imported.
#pragma once

#include <windows.h>

#include <cstdint>

class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool Started() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};
