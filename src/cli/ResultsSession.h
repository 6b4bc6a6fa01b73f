#pragma once
// The results page as the command line drives it: the volume is opened, the page is
// created over it and its scan runs to the end; then the commands click, select, save
// and search on it as a user would. Message boxes are printed to stderr and questions
// answered yes.

#include <memory>
#include <string>

#include "cli/CliSupport.h"
#include "cli/ScanSession.h"
#include "results/VolumeScanDlg.h"
#include "ui/UiServices.h"

namespace kelvara::cli {

class ResultsSession {
public:
    explicit ResultsSession(const ScanArgs& args);
    ~ResultsSession();

    // Opens the volume (UsageError when it cannot), runs the advance options step for
    // mode 2, creates the page and waits for its scan. False when nothing was scanned:
    // no worker for this kind and mode, or an empty tree.
    bool scan();

    // The tree item of PATH ("ROOT", "ROOT/Docs/a.txt", "Docs\a.txt"), opening each
    // folder on the way as a user would. kNoItem when there is none.
    TreeItem findPath(const std::string& path);

    VolumeScanDlg& page() { return *page_; }
    ui::ScriptedMessages& messages() { return messages_; }
    ui::ScriptedFolderPicker& folders() { return folders_; }

private:
    ScanArgs args_;
    StderrProgress progress_;
    StderrMessages echo_;
    ui::ScriptedMessages messages_{&echo_};
    ui::ScriptedFolderPicker folders_;
    OpenedVolume volume_;
    std::unique_ptr<VolumeScanDlg> page_;
};

// PATH split at '/' and '\'; empty parts dropped.
std::vector<std::string> splitTreePath(const std::string& path);

}  // namespace kelvara::cli
