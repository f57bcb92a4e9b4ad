// Text filling for the host's messages and the fatal-error report.
#include "report_text.h"

#include <cstdio>

std::string FormatText(const std::string& format, std::initializer_list<std::string> args) {
  std::string out;
  out.reserve(format.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    const char directive = format[++i];
    if (directive == '%') {
      out += '%';
    } else if (directive == 's' || directive == 'd' || directive == 'p') {
      if (next != args.end()) out += *next++;
    } else {
      out += '%';
      out += directive;
    }
  }
  return out;
}

std::string HexAddress(std::uint32_t address) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(address));
  return digits;
}

std::string BaseFileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FatalReportText(const std::string& format, const std::string& className,
                            const std::string& moduleName, std::uint32_t relativeAddress,
                            const std::string& message) {
  const bool needsStop = !message.empty() && message.back() != '.';
  return FormatText(
      format, {className, moduleName, HexAddress(relativeAddress), message, needsStop ? "." : ""});
}
