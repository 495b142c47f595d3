// Accessibility.h - what screen readers learn about the program's widgets
// beyond Qt's defaults.
//
// Qt describes most widgets well by itself; two kinds it cannot know:
//   - a top-level QWidget (the main window) is described as a plain client
//     area, so a screen reader would call it a "filler"; widgets marked
//     with MarkAsWindow are described as windows;
//   - the About box's links are drawn into plain widgets; widgets marked
//     with MarkAsLink are links: focusable, named by their text, and
//     pressed (by a screen reader's "press" or by Enter and Space, which
//     the link handles itself) with a key press of Enter.
// Every other control gets its name and description with Qt's own
// setAccessibleName / setAccessibleDescription where it is made.
#pragma once

class QWidget;

namespace crateforge {

// Installs the description above (once per process; safe to call often).
void InstallAccessibility();
void MarkAsWindow(QWidget* widget);
void MarkAsLink(QWidget* widget);

}  // namespace crateforge
