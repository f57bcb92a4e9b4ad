// The launch sequence, on the host services of host.h and host_files.h.
#include "launch_sequence.h"

#include "compress.h"
#include "host.h"
#include "host_texts.h"
#include "payload_table.h"
#include "report_text.h"
#include "rtl/exception.h"

std::string WithBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string GetTempFolder() {
  const std::string folder = HostServices.TempFolder();
  if (folder.empty()) Raise<Exception>(HostServices.LoadText(IDS_NO_TEMP_FOLDER));
  return WithBackslash(folder);
}

LaunchOutcome RunLaunchSequence() {
  const std::string StagingDir = GetTempFolder() + "Inst-" + LauncherTitle;
  const std::string staging = WithBackslash(StagingDir);

  // A folder that could not be made shows up as the first item's create
  // error, which names the path.
  HostServices.ForceDirectories(StagingDir);

  for (const PayloadItem& item : PayloadTable) {
    ExtractPayloadItem(PayloadResourceType, item.ResourceName, staging + item.FileName);
  }

  // A failed decode is raised: starting whatever "Setup.exe" happens to be in
  // the folder (an old one that could not be replaced, say) would run the
  // wrong installer.
  InFileName = staging + "Setup.ex_";
  OutFileName = staging + "Setup.exe";
  DecompressFile();

  const std::string SetupPath = staging + "Setup.exe";
  const ShellOutcome shell = HostServices.ShellOpen(SetupPath, StagingDir);
  if (shell.Started) return LaunchOutcome::Started;
  if (shell.Cancelled) return LaunchOutcome::Declined;
  Raise<EOSError>(
      FormatText(HostServices.LoadText(IDS_START_FAILED), {SetupPath, std::to_string(shell.Code)}));
}
