// Long-option reading with getopt_long's matching rules.
#include "control/getopt_long.h"

#include <cwchar>

namespace kal {

CGetoptLong::CGetoptLong(int argc, wchar_t* const* argv, const LongOption* options, size_t count,
                         bool stopAtNonOption)
    : argc_(argc), argv_(argv), options_(options), count_(count), stopAtNonOption_(stopAtNonOption) {}

int CGetoptLong::Next(const wchar_t** value) {
  *value = nullptr;
  if (cluster_ && *cluster_) {
    ++cluster_;  // every letter of a single-dash cluster is an unknown option
    return kSkipped;
  }
  cluster_ = nullptr;
  while (index_ < argc_) {
    const wchar_t* arg = argv_[index_];
    if (arg[0] == L'-' && arg[1] == L'-' && arg[2] == 0) {
      ++index_;
      return kEnd;
    }
    if (arg[0] == L'-' && arg[1] == L'-') {
      ++index_;
      return ReadLong(arg + 2, value);
    }
    if (arg[0] == L'-' && arg[1] != 0) {
      ++index_;
      cluster_ = arg + 2;
      return kSkipped;
    }
    if (stopAtNonOption_) return kEnd;
    ++index_;  // non-option arguments are passed over
  }
  return kEnd;
}

int CGetoptLong::ReadLong(const wchar_t* text, const wchar_t** value) {
  const wchar_t* equals = std::wcschr(text, L'=');
  const size_t nameLength = equals ? static_cast<size_t>(equals - text) : std::wcslen(text);

  const LongOption* match = nullptr;
  bool ambiguous = false;
  for (size_t i = 0; i < count_; ++i) {
    const wchar_t* name = options_[i].Name;
    if (std::wcsncmp(name, text, nameLength) != 0) continue;
    if (std::wcslen(name) == nameLength) {  // an exact match wins at once
      match = &options_[i];
      ambiguous = false;
      break;
    }
    if (match) ambiguous = true;
    else match = &options_[i];
  }
  if (!match || ambiguous) return kSkipped;

  switch (match->Value) {
    case OptionValue::None:
      if (equals) return kSkipped;
      break;
    case OptionValue::Optional:
      if (equals) *value = equals + 1;
      break;
    case OptionValue::Required:
      if (equals) {
        *value = equals + 1;
      } else if (index_ < argc_) {
        *value = argv_[index_++];  // the whole next argument, whatever it looks like
      } else {
        return kSkipped;
      }
      break;
  }
  return match->Number;
}

}  // namespace kal
