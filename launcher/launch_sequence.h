// The launcher's whole run, as one straight sequence on the host services:
// the staging folder under the temporary folder, the ten items written into
// it, the installer decoded from "Setup.ex_" into "Setup.exe" and handed to
// the shell. The launcher neither waits for the installer nor removes the
// staging folder.
#pragma once

#include <string>

// Application title and the last part of the staging folder's name.
inline constexpr const char* LauncherTitle = "Setup_Quarvel";

// `path` with one trailing backslash: an empty path stays empty, a path
// whose last byte is '\' stays as it is (the last byte alone decides, also
// when it is the trail byte of a multi-byte character).
std::string WithBackslash(const std::string& path);

// The host's temporary folder with its trailing backslash; raises Exception
// when the host reports none.
std::string GetTempFolder();

enum class LaunchOutcome {
  Started,   // the installer runs
  Declined,  // the user declined the installer's elevation prompt
};

// Runs the sequence. Every failure is raised: a missing item, a file that
// cannot be written, a failed decode (nothing is started then) and a start
// the shell refused (EOSError).
LaunchOutcome RunLaunchSequence();
