// The printer-data commands of zntr-print: setting, deleting and listing a
// printer's data values by hand, as "NAME=dword:NUMBER", "NAME=binary:HEX",
// "NAME=binary@FILE" or "NAME=string:TEXT".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/winspool.h"

struct PrinterDataValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// Parses one assignment; nullopt with *why set when it is malformed or a file cannot be read.
std::optional<PrinterDataValue> ParsePrinterDataAssignment(const std::string& text, std::string* why);
// The assignment that sets the value again ("NAME=dword:8").
std::string FormatPrinterDataValue(const PrinterDataValue& value);
