// The catalogue's locations that a shape and a rule do not describe, each a named handler.
#pragma once

#include "autoruns/location_walker.h"

namespace kal {

void TerminalInitialProgram(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void ActiveSetup(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void WowBootFonts(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void ExplorerAppKeys(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void BrowserExtensions(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void Services(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void Drivers(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void SnmpExtensionAgents(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void StillImageEvents(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void KnownDlls(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void CredentialProviders(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void PlapProviders(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void WinsockProtocols(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void WinsockNamespaces(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void NetworkProviderOrder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void LightweightCallHandlers(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);

}  // namespace kal
