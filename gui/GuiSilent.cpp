#include "gui/GuiSilent.h"

#include "common/ConsoleMessage.h"

GuiSilent::GuiSilent(GuiSettings& settings) : settings_(settings) {}

void GuiSilent::UpdateProgress(uint32_t, uint32_t) {}
bool GuiSilent::Start() { return true; }
void GuiSilent::Stop() {}
int32_t GuiSilent::ShowLanguageDialog() { return GuiAnswers::Affirmative; }
void GuiSilent::ShowProgressDialog(uint32_t) {}
void GuiSilent::HideDialog() {}

int32_t GuiSilent::ShowErrorDialog(const std::wstring& text)
{
    WriteConsoleMessage(L"%s", text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowErrorInfoDialog(const std::wstring& text, GuiLinkCallback)
{
    WriteConsoleMessage(L"%s", text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowRetryDialog(const std::wstring& text)
{
    WriteConsoleMessage(L"%s", text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowRebootDialog(const std::wstring& text)
{
    WriteConsoleMessage(L"%s", text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowConfirmDialog(const std::wstring&) { return GuiAnswers::Affirmative; }

int32_t GuiSilent::ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback)
{
    WriteConsoleMessage(L"%s - %s", settings_.GetText(L"ConflictManualRemove").c_str(), text.c_str());
    return GuiAnswers::Cancel;
}

int32_t GuiSilent::ShowAutoRemovalDialog(const std::wstring&) { return GuiAnswers::Affirmative; }
bool GuiSilent::IsSkipRequested() { return true; }
void GuiSilent::WaitForHideSignal() {}
bool GuiSilent::IsSilent() { return true; }
