// Filling the texts of the string table, and the text of the fatal-error
// report.
//
// The formats come from the program's resources, so they are never handed to
// printf: FormatText replaces each %s, %d or %p by the next argument, already
// converted to text by the caller, and "%%" by "%". A directive without an
// argument left stays empty.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

std::string FormatText(const std::string& format, std::initializer_list<std::string> args);

// An address as eight upper-case hexadecimal digits.
std::string HexAddress(std::uint32_t address);

// The file name of `path` without its folder (after the last '\' or '/').
std::string BaseFileName(const std::string& path);

// The report's text from `format` ("Exception %s in Modul %s bei %p.\n%s%s"):
// class name, module name, the raising address relative to the load address,
// the message, and a full stop when the message is not empty and does not
// end with one.
std::string FatalReportText(const std::string& format, const std::string& className,
                            const std::string& moduleName, std::uint32_t relativeAddress,
                            const std::string& message);
