// The signature of a Windows Installer package (".msi", ".msp") as the installer verifies it.
#pragma once

#include <string>

namespace kal::cryptography {

// The signer certificate's simple display name when the installer accepts the package's
// signature (an invalid hash is fatal); empty otherwise.
std::wstring ReadInstallerSigner(const std::wstring& path);

// The installer's own answer for the package, for callers that need to tell failures apart.
long QueryInstallerSignature(const std::wstring& path, std::wstring* signer);

}  // namespace kal::cryptography
