#pragma once

// The one way in which the operations ask and tell the user. The desktop
// program, the command-line tool and the tests each implement it; the port
// comes in four parts by what each does, so that a program that has no list
// or no pickers (the folder's timed saves, the tool) implements none.

#include "storage/Progress.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

enum class MessageIcon { Error, Information };

// What an extraction does with a different file that already has an entry's name.
enum class ExistingFileChoice { Replace, Skip, KeepBoth };
struct ExistingFileAnswer {
    ExistingFileChoice choice = ExistingFileChoice::KeepBoth;
    bool forAll = false; // the same for every such file of this extraction
};

// Messages and questions.
class Conversation {
  public:
    virtual ~Conversation() = default;

    // A modal message box with one OK button.
    virtual void showMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
    // A Yes/No question; true for Yes. No is the answer that keeps data.
    virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;

    // The password dialog: what is typed (at most 249 bytes), or nothing when
    // the dialog is cancelled.
    virtual std::optional<std::string> askPassword() = 0;
    // The same dialog a second time, for a new password (New Safe, Change
    // Password), under a title that says it confirms the first.
    virtual std::optional<std::string> askPasswordConfirmation() = 0;
    // The rename dialog: the typed name (at most 49 bytes), or nothing on Cancel.
    virtual std::optional<std::string> askNewEntryName() = 0;

    // An entry being extracted meets a different file of its name at path.
    // Keeping both destroys nothing, so that is the answer of a port that
    // cannot ask.
    virtual ExistingFileAnswer askExistingFile(const std::string& /*path*/) { return {}; }
};

// The file pickers: true and the chosen path in path, false on cancel.
class FilePickers {
  public:
    virtual ~FilePickers() = default;

    virtual bool pickSafeToOpen(std::string& path) = 0; // starts on path as given
    virtual bool pickNewSafe(std::string& path) = 0;
    virtual bool pickFileToAdd(std::string& path) = 0;
    virtual bool ChooseFolder(std::string& path, const std::string& title) = 0;
};

// The busy box and the long steps under it.
class BusySteps {
  public:
    virtual ~BusySteps() = default;

    // ShowProgress returns at once; after each HideProgress no box of an
    // earlier call remains.
    virtual void ShowProgress(const std::string& text) = 0;
    virtual void HideProgress() = 0;
    // Runs one long step (no port calls, no widgets inside it) so that the
    // busy box keeps moving; exceptions of the step reach the caller.
    virtual void runBusy(const std::function<void()>& step) = 0;
    // The same for a step that ends within a few milliseconds (a small
    // file's copy): handing it to another thread would cost more than the
    // step, so a shell may run it right away.
    virtual void runShortStep(const std::function<void()>& step) { runBusy(step); }
    // Where a long step reports bytes done; callable from the step's thread.
    virtual ProgressCallback byteProgress() { return {}; }

    // An add of count files of totalBytes in all: until endAddBatch, one
    // indicator covers them all (count, bytes, time left) instead of one per
    // file. Each file is announced before its busy box.
    virtual void startAddBatch(std::uint64_t /*count*/, std::uint64_t /*totalBytes*/) {}
    virtual void startAddBatchFile(std::uint64_t /*number*/, std::uint64_t /*size*/) {}
    virtual void endAddBatch() {}
};

// One row of the list of stored files, as it is shown. Where the safe keeps
// folders, name is the whole path ("Taxes/2025/return.pdf") and the list
// shows the folders it names; a folder kept on its own (an empty one too)
// comes as a row of its own, which is no entry.
struct EntryRow {
    std::string number;
    std::string name;
    std::string size;
    std::string modified{}; // empty where the safe keeps no times
    bool folder = false;
    bool operator==(const EntryRow&) const = default;
};

// The list of stored files and the window around it.
class EntryList {
  public:
    virtual ~EntryList() = default;

    // The whole list anew, row i for entry i, in one go.
    virtual void showRows(std::vector<EntryRow> rows) = 0;
    // One row after the last (the entry just added).
    virtual void appendRow(EntryRow row) = 0;
    virtual int focusedRow() = 0;               // -1 when no row has the focus
    virtual int nextSelectedRow(int after) = 0; // after -1: the first; -1 when none
    virtual int selectedCount() = 0;
    // The stored paths of the selected folders of a safe that keeps a tree:
    // each stands for its whole tree, the folders that hold nothing included.
    virtual std::vector<std::string> selectedFolders() { return {}; }

    virtual void SetSafeButtonsEnabled(bool enabled) = 0;
    // Ends the main window and, with it, the program's event loop.
    virtual void destroyMainWindow() = 0;
};

// A picker nobody answers and a list nobody sees, for the programs that have
// neither: every pick is cancelled, no row is focused or selected.
class NoPickers : public FilePickers {
  public:
    bool pickSafeToOpen(std::string&) override { return false; }
    bool pickNewSafe(std::string&) override { return false; }
    bool pickFileToAdd(std::string&) override { return false; }
    bool ChooseFolder(std::string&, const std::string&) override { return false; }
};

class NoEntryList : public EntryList {
  public:
    void showRows(std::vector<EntryRow>) override {}
    void appendRow(EntryRow) override {}
    int focusedRow() override { return -1; }
    int nextSelectedRow(int) override { return -1; }
    int selectedCount() override { return 0; }
    void SetSafeButtonsEnabled(bool) override {}
    void destroyMainWindow() override {}
};

// The port as the operations hold it: its four parts, each given by whoever
// implements it.
class Shell {
  public:
    Shell(Conversation& talker, FilePickers& picker, BusySteps& steps, EntryList& rows)
        : talk(talker), pickers(picker), busy(steps), list(rows) {}
    // A port without pickers and list.
    Shell(Conversation& talker, BusySteps& steps);
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;
    virtual ~Shell() = default;

    Conversation& talk;
    FilePickers& pickers;
    BusySteps& busy;
    EntryList& list;
};

} // namespace quorvane
