// Registration.cpp - XDG shared-mime-info package, desktop entry and icons.
//
// The Exec form. Three kinds of launcher read the entry: GLib (gio, GTK
// file managers), which follows the desktop entry rules fully; libfm file
// managers, which take the program as the text up to the first blank and
// look it up as a file, quotes and all; and the generic xdg-open of a desktop
// without a known environment, which cuts the line into words at blanks
// without undoing quotes or backslashes. The one form all three run alike
// is a bare program path and the file:
//     Exec=/usr/bin/crateforge %f
// The path is quoted only when the rules demand it (a blank, a quote, a
// backslash and the like); then GLib still runs it, the other two cannot.
// The "\o" switch is left out: the rules make a backslash reserved, so it
// would need quotes and doubled backslashes, which the word-cutting launchers
// hand over literally, and the program would get neither the switch nor a
// pack. It is not needed either: the type's only pattern is *.vpf (matched
// in any letter case), so the file a launcher hands over ends in ".vpf", and
// a single path with that extension opens as a pack, as "\o" PATH does.
//
// Agreeing with an installed copy. The user's four files are written at
// every start and always name the program that is running. An installed
// program has the same files in <prefix>/share, written at install time by
// this code for <prefix>/bin/crateforge, and the user's entry of the same
// name hides that one. So that it never hides it with a different one, the
// running program looks for an installed crateforge.desktop in the system
// data folders; when the program that entry starts is the same file as the
// running program (a link such as a symlinked prefix counts as the same), it
// registers itself under the installed entry's path, and the user's files
// come out byte for byte the installed ones. A program run from anywhere
// else (a build folder, a copy) takes the association over for the user, as
// any start registers the running program, until an installed one starts.
#include "builder/Registration.h"

#include "builder/QtPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace crateforge {

namespace {

constexpr char kMimePackageName[] = "crateforge";

bool WriteWhole(const QString& path, const QByteArray& bytes) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    // Written beside and renamed over, so a reader never sees half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QByteArray ReadResource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QByteArray MimePackage() {
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kPackMimeType +
           "\">\n"
           "    <comment>" +
           kPackTypeComment +
           "</comment>\n"
           "    <icon name=\"" +
           kPackIconName +
           "\"/>\n"
           "    <glob pattern=\"*.vpf\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

QByteArray DesktopEntry(const QString& programPath) {
    QByteArray entry;
    entry += "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Name=Crateforge\n";
    entry += "GenericName=Pack Builder\n";
    entry += "Comment=Create, open and extract Varnholt pack files\n";
    entry += "Exec=" + ExecLine(programPath).toUtf8() + "\n";
    entry += QByteArray("Icon=") + kAppIconName + "\n";
    entry += "Terminal=false\n";
    entry += QByteArray("MimeType=") + kPackMimeType + ";\n";
    entry += "Categories=Utility;Archiving;Compression;\n";
    entry += "Keywords=pack;archive;vpf;extract;\n";
    return entry;
}

// String-value rule, applied by a reader to the whole value before the
// quoting rule: backslashes double, control characters get their escapes.
QString EscapeStringValue(const QString& text) {
    QString value;
    for (QChar c : text) {
        switch (c.unicode()) {
            case u'\\':
                value += QStringLiteral("\\\\");
                break;
            case u'\n':
                value += QStringLiteral("\\n");
                break;
            case u'\t':
                value += QStringLiteral("\\t");
                break;
            case u'\r':
                value += QStringLiteral("\\r");
                break;
            default:
                value += c;
                break;
        }
    }
    return value;
}

}  // namespace

bool ExecArgumentNeedsQuotes(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    for (QChar c : argument) {
        if (reserved.contains(c)) {
            return true;
        }
    }
    return argument.isEmpty();
}

QString QuoteExecArgument(const QString& argument) {
    // Quoting rule: inside double quotes, ", `, $ and \ take a backslash.
    QString quoted;
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    // A literal % would start a field code.
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + EscapeStringValue(quoted) + u'"';
}

QString ExecArgument(const QString& argument) {
    if (ExecArgumentNeedsQuotes(argument)) {
        return QuoteExecArgument(argument);
    }
    QString plain = argument;
    return plain.replace(u'%', QStringLiteral("%%"));
}

QString ExecLine(const QString& programPath) {
    return ExecArgument(programPath) + QStringLiteral(" %f");
}

QString DesktopEntryProgram(const QByteArray& entry) {
    QString exec;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || equals < 0 || line.left(equals).trimmed() != QStringLiteral("Exec")) {
            continue;
        }
        // String-value escapes first.
        const QString value = line.mid(equals + 1).trimmed();
        for (qsizetype i = 0; i < value.size(); ++i) {
            QChar c = value[i];
            if (c == u'\\' && i + 1 < value.size()) {
                switch (value[i + 1].unicode()) {
                    case u's':
                        c = u' ';
                        ++i;
                        break;
                    case u'n':
                        c = u'\n';
                        ++i;
                        break;
                    case u't':
                        c = u'\t';
                        ++i;
                        break;
                    case u'r':
                        c = u'\r';
                        ++i;
                        break;
                    case u'\\':
                        ++i;
                        break;
                    default:  // not a string escape: the backslash stays
                        break;
                }
            }
            exec += c;
        }
        break;
    }
    // Then the first argument by the quoting rule.
    QString program;
    if (exec.startsWith(u'"')) {
        qsizetype i = 1;
        for (;; ++i) {
            if (i >= exec.size()) {
                return {};  // no closing quote
            }
            if (exec[i] == u'"') {
                break;
            }
            if (exec[i] == u'\\') {
                if (++i >= exec.size()) {
                    return {};
                }
            }
            program += exec[i];
        }
    } else {
        program = exec.section(u' ', 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

QString DataHome() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return home;
}

QStringList SystemDataDirs() {
    QStringList dirs;
    for (const QString& dir :
         qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir)) {
            dirs.push_back(dir);
        }
    }
    if (dirs.isEmpty()) {
        dirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    }
    return dirs;
}

QString RegisteredProgramPath(const QString& runningProgram, const QStringList& dataDirs) {
    const QString running = QFileInfo(runningProgram).canonicalFilePath();
    if (running.isEmpty()) {
        return runningProgram;
    }
    const QString entryName = QStringLiteral("/applications/") + QLatin1String(kDesktopEntryName);
    for (const QString& dir : dataDirs) {
        QFile entry(dir + entryName);
        if (!entry.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QString installed = DesktopEntryProgram(entry.read(64 * 1024));
        if (!installed.isEmpty() && QDir::isAbsolutePath(installed) &&
            QFileInfo(installed).canonicalFilePath() == running) {
            return installed;
        }
    }
    return runningProgram;
}

RegistrationResult RegisterFileType(const QString& programPath, const QString& dataHome,
                                    const ToolRunner& runTool) {
    InitBuilderResources();
    RegistrationResult result;
    const QString name = QString::fromLatin1(kMimePackageName);
    struct File {
        QString path;
        QByteArray bytes;
    };
    const File files[] = {
        {dataHome + QStringLiteral("/mime/packages/") + name + QStringLiteral(".xml"),
         MimePackage()},
        {dataHome + QStringLiteral("/applications/") + QLatin1String(kDesktopEntryName),
         DesktopEntry(programPath)},
        {dataHome + QStringLiteral("/icons/hicolor/scalable/mimetypes/") +
             QString::fromLatin1(kPackIconName) + QStringLiteral(".svg"),
         ReadResource(QStringLiteral(":/icons/pack.svg"))},
        {dataHome + QStringLiteral("/icons/hicolor/scalable/apps/") +
             QString::fromLatin1(kAppIconName) + QStringLiteral(".svg"),
         ReadResource(QStringLiteral(":/icons/crateforge.svg"))},
    };
    for (const File& file : files) {
        if (!file.bytes.isEmpty() && WriteWhole(file.path, file.bytes)) {
            result.written.push_back(file.path);
        } else {
            result.failed.push_back(file.path);
        }
    }
    ToolRunner run = runTool;
    if (!run) {
        run = [](const QString& program, const QStringList& arguments) {
            QProcess::startDetached(program, arguments);
        };
    }
    const QString mimeTool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (!mimeTool.isEmpty()) {
        run(mimeTool, {dataHome + QStringLiteral("/mime")});
    }
    const QString desktopTool =
        QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (!desktopTool.isEmpty()) {
        run(desktopTool, {dataHome + QStringLiteral("/applications")});
    }
    return result;
}

}  // namespace crateforge
