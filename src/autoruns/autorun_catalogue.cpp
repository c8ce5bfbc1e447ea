// The autorun catalogue: every location of the seventeen categories, in running order, as rows
// that the walker reads. RunCategory walks the rows of one category.
#include <iterator>

#include "autoruns/autorun_analyzer.h"
#include "autoruns/location_walker.h"
#include "autoruns/sidebar.h"
#include "autoruns/special_locations.h"
#include "autoruns/startup_folder.h"
#include "autoruns/task_scheduler.h"

namespace kal {
namespace {

constexpr NameFrom kFile = NameFrom::File;
constexpr NameFrom kFileBase = NameFrom::FileBase;

const LocationRow kLogon[] = {
    ListRow(L"HKLM\\System\\CurrentControlSet\\Control\\Terminal Server\\Wds\\rdpwd\\StartupPrograms"),
    ListRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\AppSetup"),
    ValuesRow(L"HKLM\\Software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Startup", Types::Any),
    ValuesRow(L"HKCU\\Software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Logon", Types::Any),
    ValuesRow(L"HKLM\\Software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Logon", Types::Any),
    ListRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Userinit"),
    ValuesRow(L"HKLM\\Software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Shutdown", Types::Any),
    ValuesRow(L"HKCU\\software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Logoff", Types::Any),
    ValuesRow(L"HKLM\\Software\\Policies\\Microsoft\\Windows\\System\\Scripts\\Logoff", Types::Any),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\Scripts\\Startup", Types::Any),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\Scripts\\Shutdown", Types::Any),
    ListRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\Shell"),
    ListRow(L"HKCU\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Shell"),
    ListRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\Shell"),
    ListRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Shell"),
    ListRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Taskman"),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Runonce", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\RunonceEx", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKCU\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Runonce", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKCU\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\RunonceEx", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", Types::SzEx, Rule::Rundll32),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", Types::SzEx, Rule::Rundll32),
    ListRow(L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\load"),
    ListRow(L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\run", Rule::Rundll32),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", Types::Any),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", Types::Any),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows CE Services\\AutoStartOnConnect", Types::Any),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows CE Services\\AutoStartOnDisconnect", Types::Any),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices", Types::Any),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", Types::Any),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", Types::Any),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", Types::Any),
    ListRow(L"HKLM\\System\\CurrentControlSet\\Control\\SafeBoot\\Option\\UseAlternateShell"),
    ListRow(L"HKLM\\System\\CurrentControlSet\\Control\\SafeBoot\\AlternateShell"),
    // Startup folders, named by their Shell Folders values.
    SpecialRow(L"AltStartup", UserStartupFolder),
    SpecialRow(L"Common AltStartup", MachineStartupFolder),
    SpecialRow(L"Common Startup", MachineStartupFolder),
    SpecialRow(L"Startup", UserStartupFolder),
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Accessibility\\ATs", L"StartExe"),
    SubkeysRow(L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Accessibility\\ATs", L"StartExe"),
    SubkeysRow(L"HKLM\\System\\CurrentControlSet\\Control\\MobilePC\\HotStartButtons", L"ApplicationPath"),
    SpecialValueRow(L"HKLM\\System\\CurrentControlSet\\Control\\Terminal Server\\DefaultUserConfiguration\\InitialProgram",
                    TerminalInitialProgram),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\IconServiceLib").Named(kFileBase),
    SpecialRow(L"HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components", ActiveSetup),
};

const LocationRow kExplorer[] = {
    SubkeysRow(L"HKLM\\SOFTWARE\\Classes\\PROTOCOLS\\Filter", L"CLSID", Rule::Clsid).Pair(),
    SubkeysRow(L"HKLM\\SOFTWARE\\Classes\\Protocols\\Handler", L"CLSID", Rule::Clsid).Pair(),
    SubkeysRow(L"HKCU\\SOFTWARE\\Microsoft\\Internet Explorer\\Desktop\\Components", L"Source"),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SharedTaskScheduler", Types::Any, Rule::ClsidNamed),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad", Types::Sz, Rule::ClsidNamed).From(ClsFrom::Data).Pair(),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellExecuteHooks", Types::Any, Rule::ClsidNamed),
    SubkeysRow(L"HKLM\\Software\\Classes\\*\\ShellEx\\ContextMenuHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\*\\ShellEx\\PropertySheetHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\AllFileSystemObjects\\ShellEx\\ContextMenuHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\AllFileSystemObjects\\ShellEx\\DragDropHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\AllFileSystemObjects\\ShellEx\\PropertySheetHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Directory\\ShellEx\\ContextMenuHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Directory\\Shellex\\DragDropHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Directory\\Shellex\\PropertySheetHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Directory\\Shellex\\CopyHookHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Directory\\Background\\ShellEx\\ContextMenuHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Folder\\Shellex\\ColumnHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Folder\\ShellEx\\ContextMenuHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Folder\\ShellEx\\DragDropHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Folder\\ShellEx\\ExtShellFolderViews", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Folder\\ShellEx\\PropertySheetHandlers", nullptr, Rule::ShellHandler).Pair(),
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers", L"", Rule::Clsid).Pair(),
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Ctf\\LangBarAddin", L"", Rule::Clsid).Pair(),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug\\Debugger").Named(kFileBase).Pair(),
    SpecialRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\boot", WowBootFonts),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\NonWindowsApp", Types::SzEx),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\standard", Types::SzEx),
    SubkeysRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer", L""),
    SpecialRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AppKey", ExplorerAppKeys),
};

const LocationRow kIe[] = {
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects", nullptr, Rule::ClsidNamed),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Internet Explorer\\Toolbar", Types::Any, Rule::ClsidNamed),
    ValuesRow(L"HKCU\\Software\\Microsoft\\Internet Explorer\\UrlSearchHooks", Types::Any, Rule::ClsidNamed),
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Internet Explorer\\Explorer Bars", nullptr, Rule::ClsidNamed).Pair(),
    SpecialRow(L"HKLM\\Software\\Microsoft\\Internet Explorer\\Extensions", BrowserExtensions).Pair(),
};

const LocationRow kServices[] = {
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services", Services),
};

const LocationRow kDrivers[] = {
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services", Drivers),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\DriverSearching\\Plugin", Types::Sz),
};

const LocationRow kCodecs[] = {
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", Types::Any).Pair(),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers", Types::Any).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\Filter", nullptr, Rule::GuidSubkey).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance", nullptr, Rule::GuidInstance).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\CLSID\\{AC757296-3522-4E11-9862-C17BE5A1767E}\\Instance", nullptr, Rule::GuidInstance).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance", nullptr, Rule::GuidInstance).Pair(),
    SubkeysRow(L"HKLM\\Software\\Classes\\CLSID\\{ABE3B9A4-257D-4B97-BD1A-294AF496222E}\\Instance", nullptr, Rule::GuidInstance).Pair(),
};

const LocationRow kBootExecute[] = {
    MultiRow(L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\BootExecute", Rule::Autocheck),
    MultiRow(L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\SetupExecute"),
    MultiRow(L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Execute"),
    MultiRow(L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\S0InitialCommand"),
    ValueRow(L"HKLM\\System\\CurrentControlSet\\Control\\ServiceControlManagerExtension"),
    MultiRow(L"HKLM\\System\\CurrentControlSet\\Control\\LsaExtensionConfig\\LsaSrv\\Extensions"),
    ValueRow(L"HKLM\\System\\CurrentControlSet\\Control\\LsaExtensionConfig\\SspiCli\\CheckSignatureDll"),
};

const LocationRow kImageHijacks[] = {
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", L"Debugger"),
    ValueRow(L"HKLM\\Software\\Microsoft\\Command Processor\\Autorun"),
    ValueRow(L"HKCU\\Software\\Microsoft\\Command Processor\\Autorun"),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\exefile\\shell\\open\\command", L"\"%1\" %*", Rule::DiffersExact).Pair(),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\.exe", L"exefile", Rule::DiffersNoCase).Pair(),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\cmdfile\\shell\\open\\command", L"\"%1\" %*", Rule::DiffersExact).Pair(),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\.cmd", L"cmdfile", Rule::DiffersNoCase).Pair(),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\batfile\\shell\\open\\command", L"\"%1\" %*", Rule::DiffersExact).Pair(),
    DefaultRow(L"HKLM\\SOFTWARE\\Classes\\.bat", L"batfile", Rule::DiffersNoCase).Pair(),
    SubkeysRow(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", L"").Pair(),
};

const LocationRow kAppInit[] = {
    ListRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Appinit_Dlls"),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\BITS\\IGDSearcherDLL").Named(kFileBase),
    SubkeysRow(L"HKLM\\System\\CurrentControlSet\\Control\\WDI\\DiagnosticModules", L"ImagePath").Named(kFile),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Control\\SNMP\\Parameters\\ExtensionAgents", SnmpExtensionAgents),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Control\\StillImage\\Events", StillImageEvents),
};

const LocationRow kKnownDlls[] = {
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\KnownDlls", KnownDlls),
};

const LocationRow kWinlogon[] = {
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\ServiceControllerStart").Named(kFile),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\LsaStart").Named(kFile),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\System").Named(kFile),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\UIHost").Named(kFile),
    SubkeysRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify", L"DllName"),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\GinaDLL").Named(kFile),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Taskman").Named(kFile),
    ValueRow(L"HKCU\\SOFTWARE\\Policies\\Microsoft\\Windows\\Control Panel\\Desktop\\Scrnsave.exe").Named(kFile),
    ValueRow(L"HKCU\\Control Panel\\Desktop\\Scrnsave.exe").Named(kFile),
    ValueRow(L"HKLM\\System\\CurrentControlSet\\Control\\BootVerificationProgram\\ImagePath").Named(kFile),
    ValueRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\SaveDumpStart").Named(kFile),
    SpecialRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers", CredentialProviders),
    SpecialRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider Filters", CredentialProviders),
    SpecialRow(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\PLAP Providers", PlapProviders),
};

const LocationRow kWinsock[] = {
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries", WinsockProtocols),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries", WinsockNamespaces),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64", WinsockProtocols),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries64", WinsockNamespaces),
};

const LocationRow kPrintMonitors[] = {
    SubkeysRow(L"HKLM\\System\\CurrentControlSet\\Control\\Print\\Monitors", L"Driver"),
    SubkeysRow(L"HKLM\\System\\CurrentControlSet\\Control\\Print\\Providers", L"Name"),
};

const LocationRow kLsaProviders[] = {
    ListRow(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\SecurityProviders\\SecurityProviders"),
    MultiRow(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Authentication Packages", Rule::PathDll),
    MultiRow(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Notification Packages", Rule::PathDll),
    MultiRow(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Security Packages", Rule::PathDll),
};

const LocationRow kNetworkProviders[] = {
    SpecialValueRow(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\NetworkProvider\\Order\\ProviderOrder",
                    NetworkProviderOrder),
    ValuesRow(L"HKLM\\SOFTWARE\\Microsoft\\netsh", Types::SzEx),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Rpc\\ClientProtocols", Types::SzEx),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Rpc\\Extensions", Types::SzEx),
    ValuesRow(L"HKLM\\Software\\Microsoft\\Rpc\\SecurityService", Types::SzEx),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Control\\Network\\LightweightCallHandlers\\PNIDUI\\OnPrivateNetworkAvailable", LightweightCallHandlers),
    SpecialRow(L"HKLM\\System\\CurrentControlSet\\Control\\Network\\LightweightCallHandlers\\PNIDUI\\Startup", LightweightCallHandlers),
};

// Scheduled tasks and sidebar gadgets are not registry locations: their analyzers read them whole.
void TaskSchedulerSource(CAutorunAnalyzer& analyzer, const Location&, AutorunRecord&) { AnalyzeTaskScheduler(analyzer); }
void SidebarSource(CAutorunAnalyzer& analyzer, const Location&, AutorunRecord&) { AnalyzeSidebar(analyzer); }

const LocationRow kTaskScheduler[] = {SpecialRow(L"TaskScheduler", TaskSchedulerSource)};
const LocationRow kSidebar[] = {SpecialRow(L"Sidebar", SidebarSource)};

struct Category {
  const LocationRow* rows;
  size_t count;
};

#define CATEGORY(table) {table, std::size(table)}
const Category kCategories[] = {
    CATEGORY(kLogon),         CATEGORY(kExplorer),     CATEGORY(kIe),           CATEGORY(kTaskScheduler),
    CATEGORY(kServices),      CATEGORY(kDrivers),      CATEGORY(kCodecs),       CATEGORY(kBootExecute),
    CATEGORY(kImageHijacks),  CATEGORY(kAppInit),      CATEGORY(kKnownDlls),    CATEGORY(kWinlogon),
    CATEGORY(kWinsock),       CATEGORY(kPrintMonitors), CATEGORY(kLsaProviders), CATEGORY(kNetworkProviders),
    CATEGORY(kSidebar),
};
#undef CATEGORY

}  // namespace

HRESULT CAutorunAnalyzer::RunCategory(uint32_t code) {
  if (code >= std::size(kCategories)) return E_INVALIDARG;
  const Category& category = kCategories[code];
  for (size_t i = 0; i < category.count && !cancelled; ++i) WalkRow(*this, static_cast<int32_t>(code), category.rows[i]);
  return S_OK;
}

}  // namespace kal
