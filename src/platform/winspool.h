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

// The printer's driver (level 3). Every printer here has the one driver
// installed with this build: its files are those of the driver folder,
// $ZNTR_DRIVER_DIR, else the folder of the platform library (where the
// build puts the libraries and the driver's data files). The dependent
// files are every file of that folder, in name order, as full paths.
struct DRIVER_INFO_3W {
    DWORD cVersion;
    LPWSTR pName;
    LPWSTR pEnvironment;
    LPWSTR pDriverPath;
    LPWSTR pDataFile;
    LPWSTR pConfigFile;
    LPWSTR pHelpFile;
    LPWSTR pDependentFiles;  // NUL-separated, ending with an empty string
    LPWSTR pMonitorName;
    LPWSTR pDefaultDataType;
};

// Fills pDriverInfo (level 3 only: ERROR_INVALID_LEVEL otherwise; pEnvironment
// must be null). FALSE with ERROR_INSUFFICIENT_BUFFER and *pcbNeeded when cbBuf
// is too small (a size query passes 0); ERROR_INVALID_HANDLE.
BOOL GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                       DWORD* pcbNeeded);

inline constexpr DWORD ERROR_PRINTER_ALREADY_EXISTS = 1802;
