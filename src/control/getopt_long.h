// A wide-string reader of long options with getopt_long's conventions (permuting form, empty
// short-option list, error printing off). Only what the program uses: it reports each option
// with its value and skips everything else.
#pragma once

#include <cstddef>

namespace kal {

enum class OptionValue { None, Required, Optional };

struct LongOption {
  const wchar_t* Name;
  OptionValue Value;
  int Number;
};

class CGetoptLong {
 public:
  static constexpr int kEnd = -1;
  static constexpr int kSkipped = '?';  // unknown, ambiguous, unwanted value or missing value

  // `stopAtNonOption`: the first non-option argument ends the reading (POSIXLY_CORRECT).
  CGetoptLong(int argc, wchar_t* const* argv, const LongOption* options, size_t count,
              bool stopAtNonOption);

  // The next option's number (its value, if any, in *value; nullptr when none), kSkipped for
  // an argument that is not a usable option, kEnd when the reading is over.
  int Next(const wchar_t** value);

 private:
  int ReadLong(const wchar_t* text, const wchar_t** value);

  int argc_;
  wchar_t* const* argv_;
  const LongOption* options_;
  size_t count_;
  bool stopAtNonOption_;
  int index_ = 1;
  const wchar_t* cluster_ = nullptr;  // rest of a "-abc" argument
};

}  // namespace kal
