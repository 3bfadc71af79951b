// The main window's download command, the same in every window: the request built from the
// fields and refused by the engine's address checks before the command takes the download
// button, the octets then held to their ranges, the download and its reported result, the
// controls that the download locked given back once the result has been read, and a close asked
// for during a download carried out after it. The window supplies its fields, controls and
// focus; the rules of the address are the engine's (DownloadEngine::Refuses).
#pragma once

#include <functional>
#include <optional>

#include "engine/DownloadRequest.h"
#include "engine/Ports.h"
#include "frontend/ControlStates.h"

namespace vexil {

class DownloadEngine;
struct ModelTraits;

// What the command needs of its window beyond the messages and the progress bar.
class CommandWindow {
  public:
    virtual ~CommandWindow() = default;
    // The request as the fields hold it now, without any check.
    virtual DownloadRequest FieldsRequest() const = 0;
    // The check that leaving an octet field makes, made on all four as if each were left: false
    // when one was out of range (its message has been shown).
    virtual bool HoldOctetsToRange() = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    // The keyboard focus, noted as the command starts and given back as it ends: to the
    // download button after a download ran, else to where it was.
    virtual void NoteFocus() = 0;
    virtual void RestoreFocus(bool downloadRan) = 0;
    // Ends the window with the cancel button's result.
    virtual void Close() = 0;
};

class DownloadCommand {
  public:
    DownloadCommand(CommandWindow& window, MessageSink& messages, ProgressDisplay& progress,
                    DownloadEngine& engine);

    // The download itself: the engine runs it and the end of a download that ran is noted
    // (Ended); tests may put their own in its place.
    std::function<DownloadOutcome(const DownloadRequest&)> runDownload;

    // The download button.
    void Run();
    // The request the command downloads to: no value when the engine refuses the address, with
    // its message shown; the octets are then held to their ranges, as leaving each field would.
    std::optional<DownloadRequest> EnteredRequest();
    // The cancel command (the cancel button, Escape, closing the window): a running download is
    // cancelled and the window closes once its result has been reported; otherwise it closes.
    void Cancel();
    bool Running() const { return running_; }

    // The engine's start of a download, and the end of a download of `model` (null: a model
    // outside the table, which the download never got to) with the transport it ran over.
    void Started();
    void Ended(const ModelTraits* model);

  private:
    // The request to download once the engine has let `entered` through: over TCP/IP the fields
    // read again after their octets were held to their ranges; no value when one was out of
    // range (its message shown).
    std::optional<DownloadRequest> HeldRequest(const DownloadRequest& entered);
    void Apply(controls::State state);

    CommandWindow& window_;
    MessageSink& messages_;
    ProgressDisplay& progress_;
    DownloadEngine& engine_;
    bool running_ = false;
    bool runningIpx_ = false;
    bool closeAfter_ = false;
    // What the ended download gives back, applied once its result has been reported.
    std::optional<controls::State> after_;
};

}  // namespace vexil
