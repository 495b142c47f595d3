// Registration.cpp - XDG shared-mime-info package, desktop entry and icons.
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

constexpr char kFileName[] = "crateforge";

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
    return entry;
}

}  // namespace

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
    // String-value rule, applied to the whole value by the reader first:
    // backslashes double, control characters get their escapes.
    QString value;
    for (QChar c : quoted) {
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
    return u'"' + value + u'"';
}

QString ExecLine(const QString& programPath) {
    return QuoteExecArgument(programPath) + u' ' + QuoteExecArgument(QStringLiteral("\\o")) +
           QStringLiteral(" %f");
}

QString DataHome() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return home;
}

RegistrationResult RegisterFileType(const QString& programPath, const QString& dataHome,
                                    const ToolRunner& runTool) {
    InitBuilderResources();
    RegistrationResult result;
    const QString name = QString::fromLatin1(kFileName);
    struct File {
        QString path;
        QByteArray bytes;
    };
    const File files[] = {
        {dataHome + QStringLiteral("/mime/packages/") + name + QStringLiteral(".xml"),
         MimePackage()},
        {dataHome + QStringLiteral("/applications/") + name + QStringLiteral(".desktop"),
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
