// The two forms of the report: readable text (grouped per component) and JSON.
#pragma once

#include <string>

#include "report.h"

namespace pelcheck {

std::wstring FormatText(const Report& report);
std::string FormatJson(const Report& report);  // UTF-8

}  // namespace pelcheck
