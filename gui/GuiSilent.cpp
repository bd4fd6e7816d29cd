#include "gui/GuiSilent.h"

#include "common/ConsoleMessage.h"

int32_t GuiSilent::Print(const std::wstring& text)
{
    WriteConsoleMessage(L"%s", text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback)
{
    WriteConsoleMessage(L"%s - %s", settings_.GetText(L"ConflictManualRemove").c_str(), text.c_str());
    return GuiAnswers::Cancel;
}
