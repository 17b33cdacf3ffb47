// The spooler's printers and their printer data.
//
// Printers and their data live on disk under the machine-state root (see
// state_root.h), so values written by one process are read by the next and
// the pipeline host and the UI plug-in see the same printers. Printer data
// values are read from disk on every call.
#pragma once

#include "platform/winerror.h"
#include "platform/winreg.h"

struct PRINTER_DEFAULTSW;

// What AddPrinterW needs of a printer here: its name.
struct PRINTER_INFO_1W {
    DWORD Flags;
    LPWSTR pDescription;
    LPWSTR pName;
    LPWSTR pComment;
};

// Creates a printer without printer data (level 1). Null with
// ERROR_PRINTER_ALREADY_EXISTS when it exists, ERROR_INVALID_PRINTER_NAME for an
// empty name. The handle is closed with ClosePrinter.
HANDLE AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter);
// Opens an existing printer; FALSE with ERROR_INVALID_PRINTER_NAME otherwise.
BOOL OpenPrinterW(LPWSTR pPrinterName, HANDLE* phPrinter, PRINTER_DEFAULTSW* pDefault);
BOOL ClosePrinter(HANDLE hPrinter);

// Reads a value. ERROR_SUCCESS; ERROR_MORE_DATA when nSize is too small (a
// size query passes 0) with *pcbNeeded set; ERROR_FILE_NOT_FOUND when absent;
// ERROR_INVALID_HANDLE.
DWORD GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD* pType, LPBYTE pData, DWORD nSize, DWORD* pcbNeeded);
// Writes (adds or replaces) a value of type REG_SZ, REG_BINARY or REG_DWORD.
DWORD SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData);
DWORD DeletePrinterDataW(HANDLE hPrinter, LPWSTR pValueName);
// The value at dwIndex in name order: ERROR_NO_MORE_ITEMS past the last.
// Sizes are in bytes; ERROR_MORE_DATA when either buffer is too small.
DWORD EnumPrinterDataW(HANDLE hPrinter, DWORD dwIndex, LPWSTR pValueName, DWORD cbValueName, DWORD* pcbValueName,
                       DWORD* pType, LPBYTE pData, DWORD cbData, DWORD* pcbData);

inline constexpr DWORD ERROR_PRINTER_ALREADY_EXISTS = 1802;
