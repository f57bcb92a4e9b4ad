// The installation kit the launcher carries: ten payload items, stored as
// resources of type "FILE", and their extraction to files.
//
// The table fixes the order in which the items are written and the file name
// each gets in the staging folder. Items are written byte for byte; the
// extraction never looks into one.
#pragma once

#include <array>
#include <string>

struct PayloadItem {
  const char* ResourceName;  // as looked up; the program file stores it in capitals
  const char* FileName;      // target file name inside the staging folder
};

inline constexpr const char* PayloadResourceType = "FILE";

inline constexpr std::array<PayloadItem, 10> PayloadTable = {{
    {"Test1", "Quarvel.ex_"},     // the application's main program, compressed
    {"Test2", "Quarvel.ch_"},     // its compiled HTML help, compressed
    {"Test3", "Liesmich.txt"},    // read-me text
    {"Test4", "Beispiel.dbqrv"},  // example data file
    {"Test5", "TrickTip.tx_"},    // tips text, compressed
    {"Test6", "Vertrag.txt"},     // licence agreement text
    {"Test7", "eztw32.DL_"},      // TWAIN scanner interface library, compressed
    {"Test8", "gdiplus.dl_"},     // GDI+ graphics library, compressed
    {"Test9", "Setup.ex_"},       // the installer program, compressed
    {"Test10", "Setup.lst"},      // the installer's settings and file list
}};

// Writes the item `ResourceName` of `ResourceType` to `FileName`, replacing
// an existing file, and returns true. Raises EResNotFound (no such item),
// EFCreateError (the file cannot be created) or EWriteError (a short write);
// the file is closed and the item released on every way out.
bool ExtractPayloadItem(const char* ResourceType, const std::string& ResourceName,
                        const std::string& FileName);
