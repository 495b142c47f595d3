// Registration.h - telling the desktop that packs open with this program.
//
// At every start the program writes, under the XDG data folder
// ($XDG_DATA_HOME, else ~/.local/share), overwriting what is there:
//   mime/packages/crateforge.xml        type application/x-varnholt-pack,
//                                        glob *.vpf, comment, icon name
//   applications/crateforge.desktop     Exec=<program> %f
//   icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg
//   icons/hicolor/scalable/apps/crateforge.svg
// and then refreshes the desktop's caches with update-mime-database and
// update-desktop-database when they are installed. Failures are ignored: the
// program works the same, only the association is missing or stale.
//
// An installed program gets the same four files in <prefix>/share, written
// by this same code at install time (crateforge_desktop_files), so the
// user's copy and the installed one agree; Registration.cpp says how the
// program names itself so that they stay identical.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace crateforge {

inline constexpr char kPackMimeType[] = "application/x-varnholt-pack";
inline constexpr char kPackTypeComment[] = "Varnholt Pack File";
inline constexpr char kPackIconName[] = "application-x-varnholt-pack";
inline constexpr char kAppIconName[] = "crateforge";
// The desktop entry's file name is its identity: the user's entry of this
// name hides an installed one of the same name.
inline constexpr char kDesktopEntryName[] = "crateforge.desktop";

// True when an Exec argument holds a character that the desktop entry rules
// reserve (blank, quote, backslash, $, `, ~, |, &, ;, <, >, *, ?, #, (, ))
// and so must be quoted.
bool ExecArgumentNeedsQuotes(const QString& argument);
// One argument quoted for an Exec line, with the escapes of both levels of
// the desktop entry rules (the quoting rule, then the string-value rule), so
// that a launcher hands the program exactly `argument`.
QString QuoteExecArgument(const QString& argument);
// `argument` as it goes into an Exec line: quoted only when it needs quotes;
// a % is always doubled.
QString ExecArgument(const QString& argument);
// The whole Exec value: <program> %f (see Registration.cpp for why).
QString ExecLine(const QString& programPath);
// The program an Exec line of a desktop entry starts: its first argument
// with the string escapes and the quoting undone. Empty when the entry has
// no [Desktop Entry] Exec key or the first argument is malformed.
QString DesktopEntryProgram(const QByteArray& entry);

// The XDG data folder the registration goes to.
QString DataHome();
// The system data folders the desktop reads after DataHome():
// $XDG_DATA_DIRS, else /usr/local/share and /usr/share.
QStringList SystemDataDirs();

// The program path to register for the program running from
// `runningProgram`: the path an installed desktop entry in one of `dataDirs`
// uses when that path leads to the same file, else `runningProgram`.
QString RegisteredProgramPath(const QString& runningProgram, const QStringList& dataDirs);

struct RegistrationResult {
    QStringList written;  // files written
    QStringList failed;   // files that could not be written
};

// Writes the four files. `runTool(program, arguments)` is called for each
// cache updater found on PATH; by default it starts the tool detached, so
// start-up does not wait for it.
using ToolRunner = std::function<void(const QString& program, const QStringList& arguments)>;
RegistrationResult RegisterFileType(const QString& programPath, const QString& dataHome,
                                    const ToolRunner& runTool = {});

}  // namespace crateforge
