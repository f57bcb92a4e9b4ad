// Setup_Quarvel: the program's entry. It writes the kit it carries into a
// staging folder under the user's temporary folder, decodes the installer and
// starts it, and ends without a window. The only thing a user may see is the
// fatal-error report, after which the program ends with exit code 1.
#include <windows.h>

#include <new>

#include "host.h"
#include "host_texts.h"
#include "host_win32.h"
#include "launch_sequence.h"
#include "rtl/exception.h"

namespace {

int LauncherMain() {
  RestrictDllSearchToSystem();
  try {
    return RunLaunchSequence() == LaunchOutcome::Started ? 0 : 1;
  } catch (const Exception& error) {
    ShowFatalReport(error.ClassName(), error.Message(), error.Address());
  } catch (const std::bad_alloc&) {
    ShowFatalReport("Exception", HostServices.LoadText(IDS_OUT_OF_MEMORY), nullptr);
  } catch (...) {
    ShowFatalReport("Exception", "", nullptr);
  }
  return 1;
}

}  // namespace

// The command line is ignored.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return LauncherMain();
}
