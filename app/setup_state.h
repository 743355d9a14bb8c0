// The process-wide record of the user's choices and the installation's
// results. Plain data: the pages and the workers give it behaviour. The
// installation's results are the part that the workers see
// (install/install_record.h, with the worker messages).
#pragma once

#include "base/ansi_string.h"
#include "install/install_record.h"

class TProcessFilesThread;
class TProcessShortsThread;

struct SetupState : InstallRecord {
    bool previousInstallFound = false;
    AnsiString previousInstallDir;
    AnsiString previousGroup;
    AnsiString installDir;
    bool keepPreviousDir = false;
    AnsiString programsFolder;
    AnsiString groupPath;
    bool previousGroupExists = false;
    bool createShortcuts = true;
    bool launchConfiguration = false;
    bool installationFinished = false;
    TProcessFilesThread* filesWorker = nullptr;
    TProcessShortsThread* shortcutsWorker = nullptr;
};

// The one instance of the process.
extern SetupState Setup;
