#include "tests/gui/SampleSettings.h"

namespace VmTest {

namespace {

using Table = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

const Table& Texts()
{
    static const Table texts = {
        {L"en",
         {{L"Cancel", L"Cancel"},
          {L"Close", L"Close"},
          {L"Next", L"Next"},
          {L"Retry", L"Retry"},
          {L"Reboot", L"Restart"},
          {L"Skip", L"Skip"},
          {L"MoreInfo", L"See how to solve this issue"},
          {L"TitleLoc", L"%OPERATORNAME% setup"},
          {L"SelectLanguage", L"Choose your installation language:"},
          {L"LanguageName", L"English"},
          {L"ConflictAutoRemove", L"This product automatically replaces your currently installed version of the product."},
          {L"ConflictManualRemove", L"You must uninstall your currently installed version of the product before you can continue."},
          {L"Uninstall", L"Uninstall %PRODUCT%..."},
          {L"Uninstalling", L"Removing previous version..."},
          {L"Progress", L"Preparing installation. This should take less than a minute, please wait..."},
          {L"ProgressSlow", L"Preparing installation. This takes a few minutes. Please wait..."},
          {L"ProgressScan", L"Downloading a tool to scan your computer for harmful files. The scan takes a few minutes."},
          {L"Launching", L"Launching..."},
          {L"Installing", L"Preparing..."},
          {L"Validating", L"Checking integrity..."},
          {L"Downloading", L"Downloading..."},
          {L"SelfUpgrade", L"A new version of the installer was downloaded and is now ready to start."},
          {L"RebootRequired", L"You need to restart your computer to continue. Remember to save your work before restarting."},
          {L"ErrorGeneric", L"Installation failed."},
          {L"ErrorBrokenInstall", L"The setup cannot continue, because some important files are missing."},
          {L"ErrorDiskspace", L"Your computer's %INSTALL_DRIVE% has %DISK_AVAILABLE% MB of free space. You need at least %DISK_REQUIRED% MB to install the product. Free some disk space and try again."},
          {L"ErrorDownloadCertificate", L"Could not verify the download server certificates. Make sure you have latest Windows updates and try again."}}},
        {L"ja",
         {{L"Cancel", L"キャンセル"},
          {L"Close", L"閉じる"},
          {L"Next", L"次へ"},
          {L"Retry", L"再試行"},
          {L"Reboot", L"再起動"},
          {L"Skip", L"スキップ"},
          {L"MoreInfo", L"この問題の解決方法を確認する"},
          {L"TitleLoc", L"%OPERATORNAME% セットアップ"},
          {L"SelectLanguage", L"インストールの言語を選択してください:"},
          {L"LanguageName", L"日本語"},
          {L"ConflictAutoRemove", L"この製品は、現在インストールされているバージョンの製品を自動的に置き換えます。"},
          {L"ConflictManualRemove", L"続行する前に、現在インストールされているバージョンの製品をアンインストールする必要があります。"},
          {L"Uninstall", L"%PRODUCT% をアンインストール..."},
          {L"Uninstalling", L"以前のバージョンを削除しています..."},
          {L"Progress", L"インストールを準備しています。1 分以内に完了します。しばらくお待ちください..."},
          {L"ProgressSlow", L"インストールを準備しています。数分かかります。しばらくお待ちください..."},
          {L"ProgressScan", L"有害なファイルを検査するツールをダウンロードしています。検査には数分かかります。"},
          {L"Launching", L"起動しています..."},
          {L"Installing", L"準備しています..."},
          {L"Validating", L"整合性を確認しています..."},
          {L"Downloading", L"ダウンロードしています..."},
          {L"SelfUpgrade", L"新しいバージョンのインストーラーがダウンロードされ、起動の準備ができました。"},
          {L"RebootRequired", L"続行するにはコンピューターを再起動する必要があります。再起動する前に作業内容を保存してください。"},
          {L"ErrorGeneric", L"インストールに失敗しました。"},
          {L"ErrorBrokenInstall", L"重要なファイルが見つからないため、セットアップを続行できません。"},
          {L"ErrorDiskspace", L"コンピューターの %INSTALL_DRIVE% の空き容量は %DISK_AVAILABLE% MB です。製品のインストールには %DISK_REQUIRED% MB 以上が必要です。ディスクの空き容量を増やしてから、もう一度お試しください。"},
          {L"ErrorDownloadCertificate", L"ダウンロード サーバーの証明書を確認できませんでした。最新の Windows 更新プログラムを適用してから、もう一度お試しください。"}}},
        {L"ru",
         {{L"Cancel", L"Отмена"},
          {L"Close", L"Закрыть"},
          {L"Next", L"Далее"},
          {L"Retry", L"Повторить"},
          {L"Reboot", L"Перезагрузить"},
          {L"Skip", L"Пропустить"},
          {L"MoreInfo", L"Узнайте, как решить эту проблему"},
          {L"TitleLoc", L"Установка %OPERATORNAME%"},
          {L"SelectLanguage", L"Выберите язык установки:"},
          {L"LanguageName", L"Русский"},
          {L"ConflictAutoRemove", L"Этот продукт автоматически заменит установленную на компьютере версию продукта."},
          {L"ConflictManualRemove", L"Прежде чем продолжить, удалите установленную на компьютере версию продукта."},
          {L"Uninstall", L"Удалить %PRODUCT%..."},
          {L"Uninstalling", L"Удаление предыдущей версии..."},
          {L"Progress", L"Подготовка к установке. Это займет меньше минуты, подождите..."},
          {L"ProgressSlow", L"Подготовка к установке. Это займет несколько минут. Подождите..."},
          {L"ProgressScan", L"Загрузка средства для проверки компьютера на наличие вредоносных файлов. Проверка займет несколько минут."},
          {L"Launching", L"Запуск..."},
          {L"Installing", L"Подготовка..."},
          {L"Validating", L"Проверка целостности..."},
          {L"Downloading", L"Загрузка..."},
          {L"SelfUpgrade", L"Новая версия установщика загружена и готова к запуску."},
          {L"RebootRequired", L"Чтобы продолжить, перезагрузите компьютер. Перед перезагрузкой сохраните свою работу."},
          {L"ErrorGeneric", L"Сбой установки."},
          {L"ErrorBrokenInstall", L"Установку невозможно продолжить, так как отсутствуют некоторые важные файлы."},
          {L"ErrorDiskspace", L"На диске %INSTALL_DRIVE% свободно %DISK_AVAILABLE% МБ. Для установки продукта требуется не менее %DISK_REQUIRED% МБ. Освободите место на диске и повторите попытку."},
          {L"ErrorDownloadCertificate", L"Не удалось проверить сертификаты сервера загрузки. Установите последние обновления Windows и повторите попытку."}}},
        // A question long enough to need two lines.
        {L"fi",
         {{L"Next", L"Seuraava"},
          {L"Cancel", L"Peruuta"},
          {L"TitleLoc", L"%OPERATORNAME% -asennus"},
          {L"SelectLanguage", L"Valitse kieli, jolla haluat asentaa tuotteen tähän tietokoneeseen, ja jatka sitten asennusta valitsemalla Seuraava:"},
          {L"LanguageName", L"Suomi"}}},
    };
    return texts;
}

} // namespace

SampleSettings::SampleSettings(const std::wstring& language) : language_(language)
{
    settings_ = {{L"OperatorName", L"Velmora Secure"}, {L"ProductName", L"Tolvi Internet Security"},
                 {L"ColorC1", L"#000000"},            {L"ColorC2", L"#006699"},
                 {L"ColorC7", L"#408cb3"},            {L"FontColor", L"#FFFFFF"},
                 {L"SelectedFontColor", L"#cfe2ec"}};
}

std::wstring SampleSettings::GetText(const std::wstring& key) { return GetTextForLanguage(key, GetSelectedLanguage()); }

std::wstring SampleSettings::GetTextForLanguage(const std::wstring& key, const std::wstring& language)
{
    const Table& texts = Texts();
    auto table = texts.find(language);
    if (table != texts.end()) {
        auto text = table->second.find(key);
        if (text != table->second.end())
            return text->second;
    }
    return L"#" + key;
}

std::wstring SampleSettings::GetSetting(const std::wstring& key)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto it = settings_.find(key);
    return it == settings_.end() ? std::wstring() : it->second;
}

std::wstring SampleSettings::GetSelectedLanguage()
{
    std::lock_guard<std::mutex> hold(lock_);
    return language_;
}

std::vector<std::wstring> SampleSettings::GetLanguages() { return {L"en", L"fi", L"ja", L"ru"}; }

void SampleSettings::SelectLanguage(const std::wstring& language)
{
    std::lock_guard<std::mutex> hold(lock_);
    language_ = language;
}

void SampleSettings::SetSetting(const std::wstring& key, const std::wstring& value)
{
    std::lock_guard<std::mutex> hold(lock_);
    settings_[key] = value;
}

} // namespace VmTest
