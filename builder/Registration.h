// Registration.h - telling the desktop that packs open with this program.
//
// At every start the program writes, under the XDG data folder
// ($XDG_DATA_HOME, else ~/.local/share), overwriting what is there:
//   mime/packages/crateforge.xml        type application/x-varnholt-pack,
//                                        glob *.vpf, comment, icon name
//   applications/crateforge.desktop     Exec="<program>" "\\\\o" %f
//   icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg
//   icons/hicolor/scalable/apps/crateforge.svg
// and then refreshes the desktop's caches with update-mime-database and
// update-desktop-database when they are installed. Failures are ignored: the
// program works the same, only the association is missing or stale.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace crateforge {

inline constexpr char kPackMimeType[] = "application/x-varnholt-pack";
inline constexpr char kPackTypeComment[] = "Varnholt Pack File";
inline constexpr char kPackIconName[] = "application-x-varnholt-pack";
inline constexpr char kAppIconName[] = "crateforge";

// One argument quoted for an Exec line, with the escapes of both levels of
// the desktop entry rules (the quoting rule, then the string-value rule), so
// that a launcher hands the program exactly `argument`.
QString QuoteExecArgument(const QString& argument);
// The whole Exec value: "<program>" "\\\\o" %f
QString ExecLine(const QString& programPath);

// The XDG data folder the registration goes to.
QString DataHome();

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
