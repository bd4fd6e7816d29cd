// The end of a run that copies itself back, as a program of its own: the tests copy this program
// somewhere, run it there with "--copyback <target> <work directory>" and look at what is left.
#include <windows.h>

#include "installer/InstallerExt.h"
#include "installer/VmOptionParser.h"

int wmain()
{
    VmOptionParser& options = GetOptionParser();
    DefineProgramOptions(options);
    if (!options.Parse(GetCommandLineW()) || options.GetPositional().size() != 1)
        return 2;
    InstallerExt::CleanUpFiles(0, options, options.GetPositional()[0]);
    return 0;
}
