// WindowServices.h - the desktop services as the main window hands them out.
//
// The window wraps the services it was given (the Qt ones or the scripted
// ones of tests) in these: the cursor remembers whether the wait cursor is
// on, so that a question can show the arrow meanwhile; messages, dialogs and
// drags mark the loop they run (NestedLoopScope), so that a close asked for
// meanwhile waits until the command has returned; once the window is
// closing, nothing more is asked and each question gets the answer of a
// closed box.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace crateforge {

// Whether the window is asked to close, and how many loops of their own
// (questions, dialogs, a drag) are running in front of it right now.
struct CloseState {
    bool requested = false;
    int nestedLoops = 0;
};

// Marks a stretch that may run a loop of its own (a dialog, a question, a
// drag): a close asked for meanwhile waits until the command has returned.
class NestedLoopScope {
  public:
    explicit NestedLoopScope(CloseState& state) : state(state) { ++state.nestedLoops; }
    ~NestedLoopScope() { --state.nestedLoops; }
    NestedLoopScope(const NestedLoopScope&) = delete;
    NestedLoopScope& operator=(const NestedLoopScope&) = delete;

  private:
    CloseState& state;
};

// The cursor the window hands out: it knows whether the wait cursor is on,
// so that a question can show the arrow meanwhile.
class WindowCursor : public CursorService {
  public:
    explicit WindowCursor(CursorService* inner) : inner(inner) {}
    void SetWaitCursor(bool wait) override {
        waiting = wait;
        inner->SetWaitCursor(wait);
    }
    bool Waiting() const { return waiting; }
    // The arrow for a moment, the state unchanged.
    void ShowArrow() { inner->SetWaitCursor(false); }
    void ShowState() { inner->SetWaitCursor(waiting); }

  private:
    CursorService* inner;
    bool waiting = false;
};

// The messages the window hands out: a question needs the arrow to be
// answered, and once the window is closing nothing more is asked.
class WindowMessages : public MessageService {
  public:
    WindowMessages(MessageService* inner, WindowCursor* cursor, CloseState* closing)
        : inner(inner), cursor(cursor), closing(closing) {}
    MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                              MessageButtons buttons) override;

    // While set, every message that only informs (OK alone) is kept here
    // instead of shown; questions are still asked.
    std::vector<std::string>* collected = nullptr;

  private:
    MessageService* inner;
    WindowCursor* cursor;
    CloseState* closing;
};

// The dialogs the window hands out: none opens once the window is closing.
class WindowDialogs : public DialogService {
  public:
    WindowDialogs(DialogService* inner, CloseState* closing) : inner(inner), closing(closing) {}
    std::vector<std::string> OpenFiles(const OpenFileRequest& request) override {
        if (closing->requested) {
            return {};
        }
        NestedLoopScope loop(*closing);
        return inner->OpenFiles(request);
    }
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override {
        if (closing->requested) {
            return std::nullopt;
        }
        NestedLoopScope loop(*closing);
        return inner->SaveFile(request);
    }
    std::optional<std::string> BrowseFolder(std::string_view title) override {
        if (closing->requested) {
            return std::nullopt;
        }
        NestedLoopScope loop(*closing);
        return inner->BrowseFolder(title);
    }

  private:
    DialogService* inner;
    CloseState* closing;
};

// The drag the window hands out: none starts once the window is closing.
class WindowDrag : public DragService {
  public:
    WindowDrag(DragService* inner, CloseState* closing) : inner(inner), closing(closing) {}
    bool DragPaths(const std::vector<std::string>& paths) override {
        if (closing->requested) {
            return false;
        }
        NestedLoopScope loop(*closing);
        return inner->DragPaths(paths);
    }

  private:
    DragService* inner;
    CloseState* closing;
};

}  // namespace crateforge
