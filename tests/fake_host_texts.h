// Pieces every fake launcher host of the native tests needs: the launcher's
// texts as its string table holds them, and the mapping of the launcher's
// Windows-style paths and resource names onto the test machine.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

#include "host_texts.h"

// C:\x\y as C:/x/y: the tests give the launcher a temporary folder that is a
// POSIX path written with backslashes.
inline std::string Posix(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Resource names are stored in capitals and looked up without regard to case.
inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The string table's texts (a new string each time, as LoadStringA gives).
inline std::string FakeLoadText(unsigned id) {
  switch (id) {
    case IDS_APP_ERROR_CAPTION:
      return "Anwendungsfehler";
    case IDS_FATAL_REPORT:
      return "Exception %s in Modul %s bei %p.\n%s%s";
    case IDS_RES_NOT_FOUND:
      return "Ressource %s nicht gefunden";
    case IDS_FCREATE_ERROR:
      return "Datei %s kann nicht erstellt werden";
    case IDS_WRITE_ERROR:
      return "Stream-Write-Fehler";
    case IDS_CREATE_DIR_ERROR:
      return "Das Verzeichnis kann nicht erstellt werden";
    case IDS_NO_TEMP_FOLDER:
      return "Der temporäre Ordner kann nicht ermittelt werden.";
    case IDS_START_FAILED:
      return "Das Programm %s kann nicht gestartet werden (Fehler %d).";
    case IDS_OUT_OF_MEMORY:
      return "Zu wenig Arbeitsspeicher";
    default:
      return "text " + std::to_string(id);
  }
}
