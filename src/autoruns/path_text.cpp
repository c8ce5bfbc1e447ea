// Path text steps of autorun resolution; every prefix test folds A-Z only.
#include "autoruns/path_text.h"

#include "support/ascii_case.h"

namespace kal {
namespace {

bool EqualRange(const std::wstring& text, size_t offset, const std::wstring& part) {
  for (size_t i = 0; i < part.size(); ++i)
    if (FoldAsciiLetter(text[offset + i]) != FoldAsciiLetter(part[i])) return false;
  return true;
}

bool IsLowerLetter(wchar_t c) { return c >= L'a' && c <= L'z'; }

void UpperFirst(std::wstring* s) {
  if (!s->empty() && IsLowerLetter((*s)[0])) (*s)[0] = static_cast<wchar_t>((*s)[0] - 32);
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path.compare(1, 2, L":\\") == 0) || path.compare(0, 2, L"\\\\") == 0;
}

bool ProbeWithExtensions(const std::wstring& base, const IPathEnvironment& env, std::wstring* found) {
  static const wchar_t* const kExtensions[] = {L"", L".exe", L".dll", L".com"};
  for (const wchar_t* extension : kExtensions) {
    std::wstring candidate = base + extension;
    if (env.IsFile(candidate)) {
      *found = std::move(candidate);
      return true;
    }
  }
  return false;
}

}  // namespace

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualRange(text, 0, prefix);
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() && EqualRange(text, text.size() - suffix.size(), suffix);
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) { return a.size() == b.size() && EqualRange(a, 0, b); }

std::wstring NextToken(std::wstring* rest, const std::wstring& separators, bool quoteAware) {
  std::wstring set = separators;
  if (quoteAware) set.push_back(L'"');
  for (;;) {
    const size_t p = rest->find_first_of(set);
    if (p == std::wstring::npos) {
      std::wstring token;
      token.swap(*rest);
      return token;
    }
    if (p > 0) {
      std::wstring token = rest->substr(0, p);
      rest->erase(0, p + 1);
      return token;
    }
    if (quoteAware && (*rest)[0] == L'"' && rest->size() >= 2) {
      const size_t q = rest->find(L'"', 1);
      if (q != std::wstring::npos) {
        if (q > 1) {
          std::wstring token = rest->substr(1, q - 1);
          rest->erase(0, q + 1);
          return token;
        }
        rest->erase(0, 2);  // an empty pair of quotes
        continue;
      }
    }
    rest->erase(0, 1);
  }
}

std::wstring FileNameOf(const std::wstring& path, bool dropExtension) {
  const size_t slash = path.rfind(L'\\');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (dropExtension) {
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
  }
  return name;
}

bool IsGuidString(const std::wstring& text) {
  return text.size() == 38 && text[0] == L'{' && text[37] == L'}' && text[9] == L'-' && text[14] == L'-' &&
         text[19] == L'-' && text[24] == L'-';
}

std::wstring ApplyPathPrefix(const std::wstring& text, const IPathEnvironment& env) {
  std::wstring s = text;
  if (s.size() >= 2 && s[0] == L'"') {
    const size_t k = s.find(L'"', 1);
    if (k != std::wstring::npos) s = s.substr(1, k - 1);
  }
  if (s.compare(0, 4, L"\\??\\") == 0) s.erase(0, 4);
  if (s.compare(0, 4, L"\\\\?\\") == 0) s.erase(0, 4);

  const std::wstring& windows = env.WindowsDir();
  struct PrefixRule {
    const wchar_t* start;
    bool remove;
    enum { WindowsSlash, Windows, Backslash, Drive } prefix;
  };
  static const PrefixRule kRules[] = {
      {L"\\SystemRoot\\", true, PrefixRule::WindowsSlash},
      {L"\\Device\\LanmanRedirector", true, PrefixRule::Backslash},
      {L"\\Device\\Mup", true, PrefixRule::Backslash},
      {L"system32", false, PrefixRule::WindowsSlash},
      {L"\\system32", false, PrefixRule::Windows},
      {L"syswow64", false, PrefixRule::WindowsSlash},
      {L"\\syswow64", false, PrefixRule::Windows},
      {L"\\Windows", false, PrefixRule::Drive},
  };
  std::wstring prefix;
  bool matched = false;
  for (const PrefixRule& rule : kRules) {
    const std::wstring start = rule.start;
    if (!StartsWithNoCase(s, start)) continue;
    if (rule.remove) s.erase(0, start.size());
    switch (rule.prefix) {
      case PrefixRule::WindowsSlash: prefix = windows + L"\\"; break;
      case PrefixRule::Windows: prefix = windows; break;
      case PrefixRule::Backslash: prefix = L"\\"; break;
      case PrefixRule::Drive: prefix = windows.substr(0, 2); break;
    }
    matched = true;
    break;
  }
  if (!matched && StartsWithNoCase(s, L"\\Device\\")) {
    for (int i = 0; i < 26; ++i) {
      const std::wstring& device = env.DriveDevice(i);
      // The device name must end at a backslash: \Device\HarddiskVolume1 is no prefix of
      // \Device\HarddiskVolume10\x.
      if (device.empty() || !StartsWithNoCase(s, device)) continue;
      if (s.size() > device.size() && s[device.size()] != L'\\') continue;
      s.erase(0, device.size());
      prefix = std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":";
      break;
    }
  }
  return prefix + s;
}

bool LocateExecutableIn(std::wstring* path, const IPathEnvironment& env) {
  if (path->empty()) return false;
  std::wstring found;
  if (IsAbsolute(*path) && ProbeWithExtensions(*path, env, &found)) {
    *path = std::move(found);
    return true;
  }
  const std::wstring& windows = env.WindowsDir();
  if (ProbeWithExtensions(windows + L"\\System32\\" + *path, env, &found) ||
      ProbeWithExtensions(windows + L"\\" + *path, env, &found)) {
    *path = std::move(found);
    return true;
  }
  return false;
}

std::wstring ResolvePathText(const std::wstring& text, const IPathEnvironment& env) {
  std::wstring s = ApplyPathPrefix(text, env);
  std::wstring expanded;
  if (env.Expand(s, &expanded)) s = std::move(expanded);

  if (!LocateExecutableIn(&s, env)) {
    for (size_t space = s.find(L' '); space != std::wstring::npos; space = s.find(L' ', space + 1)) {
      std::wstring candidate = s.substr(0, space);
      if (LocateExecutableIn(&candidate, env)) {
        s = std::move(candidate);
        break;
      }
    }
  }
  std::wstring longPath;
  if (env.LongForm(s, &longPath)) s = std::move(longPath);
  UpperFirst(&s);
  return s;
}

std::wstring ToSysWow64In(const std::wstring& path, const std::wstring& windowsDir) {
  const std::wstring system = windowsDir + L"\\system32\\";
  if (!StartsWithNoCase(path, system)) return path;
  return windowsDir + L"\\SysWow64\\" + path.substr(system.size());
}

}  // namespace kal
