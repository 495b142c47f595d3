// File-type registration: the files written under the XDG data folder, the
// Exec line read back by the desktop entry rules and by the launchers that
// cut it at blanks, agreement with an installed copy, and the desktop's tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <optional>
#include <string>
#include <vector>

#include "builder/CommandLine.h"
#include "builder/Registration.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

// The value of a key of the [Desktop Entry] group, as written.
std::string KeyValue(const QByteArray& entry, const std::string& key) {
    for (const QByteArray& line : entry.split('\n')) {
        std::string text = line.toStdString();
        if (text.rfind(key + "=", 0) == 0) {
            return text.substr(key.size() + 1);
        }
    }
    return {};
}

// The string-value rule of desktop entries: \s \n \t \r \\ .
std::string UnescapeString(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            switch (next) {
                case 's':
                    out += ' ';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case '\\':
                    out += '\\';
                    break;
                default:
                    out += '\\';
                    out += next;
                    break;
            }
        } else {
            out += value[i];
        }
    }
    return out;
}

// Splits an (already string-unescaped) Exec value into arguments by the
// quoting rule, expands %f to `file` and %% to %. Nothing on a syntax error.
std::optional<std::vector<std::string>> SplitExec(const std::string& exec,
                                                  const std::string& file) {
    const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string arg;
        bool quoted = exec[i] == '"';
        if (quoted) {
            ++i;
            bool closed = false;
            while (i < exec.size()) {
                char c = exec[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= exec.size())
                        return std::nullopt;
                    char next = exec[i++];
                    if (next != '"' && next != '`' && next != '$' && next != '\\') {
                        return std::nullopt;
                    }
                    arg += next;
                } else {
                    arg += c;
                }
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < exec.size() && exec[i] != ' ') {
                if (reserved.find(exec[i]) != std::string::npos)
                    return std::nullopt;
                arg += exec[i++];
            }
        }
        // Field codes.
        if (!quoted && arg == "%f") {
            args.push_back(file);
            continue;
        }
        std::string expanded;
        for (std::size_t k = 0; k < arg.size(); ++k) {
            if (arg[k] == '%') {
                if (k + 1 < arg.size() && arg[k + 1] == '%') {
                    expanded += '%';
                    ++k;
                } else {
                    return std::nullopt;  // no other code may appear
                }
            } else {
                expanded += arg[k];
            }
        }
        args.push_back(expanded);
    }
    return args;
}

class RegistrationTest : public ::testing::Test {
  protected:
    testpacks::TempDir temp;
    QString home = QString::fromStdString(temp.Path()) + QStringLiteral("/data");
    std::vector<std::pair<QString, QStringList>> toolCalls;
    ToolRunner recorder = [this](const QString& program, const QStringList& arguments) {
        toolCalls.emplace_back(program, arguments);
    };
};

TEST_F(RegistrationTest, WritesMimePackageDesktopEntryAndIcons) {
    RegistrationResult result =
        RegisterFileType(QStringLiteral("/usr/local/bin/crateforge"), home, recorder);
    EXPECT_TRUE(result.failed.isEmpty()) << result.failed.join(u',').toStdString();
    EXPECT_EQ(result.written.size(), 4);

    const QByteArray mime = ReadAll(home + QStringLiteral("/mime/packages/crateforge.xml"));
    EXPECT_TRUE(mime.contains("<mime-type type=\"application/x-varnholt-pack\">"));
    EXPECT_TRUE(mime.contains("<glob pattern=\"*.vpf\"/>"));
    EXPECT_TRUE(mime.contains("<comment>Varnholt Pack File</comment>"));
    EXPECT_TRUE(mime.contains("<icon name=\"application-x-varnholt-pack\"/>"));

    const QByteArray entry = ReadAll(home + QStringLiteral("/applications/crateforge.desktop"));
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_EQ(KeyValue(entry, "MimeType"), "application/x-varnholt-pack;");
    EXPECT_EQ(KeyValue(entry, "Type"), "Application");
    EXPECT_EQ(KeyValue(entry, "Exec"), "/usr/local/bin/crateforge %f");

    for (const char* icon : {"/icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg",
                             "/icons/hicolor/scalable/apps/crateforge.svg"}) {
        const QByteArray svg = ReadAll(home + QString::fromLatin1(icon));
        EXPECT_TRUE(svg.startsWith("<?xml")) << icon;
        EXPECT_TRUE(svg.contains("<svg")) << icon;
    }

    // The cache tools get the two folders they rebuild, when installed.
    std::vector<QStringList> expected;
    if (!QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty()) {
        expected.push_back({home + QStringLiteral("/mime")});
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
        expected.push_back({home + QStringLiteral("/applications")});
    }
    ASSERT_EQ(toolCalls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(toolCalls[i].second, expected[i]);
    }
}

// What the program makes of the arguments a launcher hands it.
CommandLineWork Decide(const std::vector<std::string>& arguments) {
    std::vector<std::string> storage(arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    CBuilderCommandLineInfo info;
    ParseCommandLine(info, static_cast<int>(argv.size()), argv.data());
    return DecideCommandLineWork(info);
}

TEST_F(RegistrationTest, ExecLineOpensThePackByTheDesktopEntryRules) {
    const std::vector<std::string> programs = {
        "/usr/bin/crateforge",
        "/opt/crate forge/bin/crateforge",
        "/tmp/we\"ird/$HOME/back\\slash/crate",
        "/x/50%/`tick`/it's;here&(now)",
        "/x/two  spaces\\\\double",
        "/x/tab\there",
        "/x/100%/plain",
    };
    // Names the launcher hands over: the type's pattern *.vpf matches in any
    // letter case.
    const std::vector<std::string> files = {"/home/u/My Packs/game data.vpf", "/m/GAME.VPF",
                                            "/m/a\\o.Vpf"};
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        toolCalls.clear();
        RegisterFileType(QString::fromStdString(program), home, recorder);
        const QByteArray entry = ReadAll(home + QStringLiteral("/applications/crateforge.desktop"));
        const std::string exec = KeyValue(entry, "Exec");
        ASSERT_FALSE(exec.empty());
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            auto args = SplitExec(UnescapeString(exec), file);
            ASSERT_TRUE(args.has_value()) << exec;
            ASSERT_EQ(args->size(), 2u) << exec;
            EXPECT_EQ((*args)[0], program);
            EXPECT_EQ((*args)[1], file);
            const CommandLineWork work = Decide(*args);
            EXPECT_EQ(work.kind, CommandLineWork::Kind::OpenPack);
            EXPECT_EQ(work.paths, std::vector<std::string>{file});
        }
        EXPECT_EQ(DesktopEntryProgram(entry).toStdString(), program);
    }
}

TEST_F(RegistrationTest, PlainPathsRunUnderLaunchersThatCutAtBlanks) {
    // Some launchers take the program as the text before the first blank
    // and the arguments as the blank-separated words, quotes and backslashes
    // left as they are. A path without reserved characters must reach them
    // bare, and the line must hold nothing they would mangle.
    for (const std::string program :
         {"/usr/bin/crateforge", "/home/u/.local/bin/crateforge", "/opt/cf-2.20/bin/crateforge"}) {
        SCOPED_TRACE(program);
        EXPECT_FALSE(ExecArgumentNeedsQuotes(QString::fromStdString(program)));
        RegisterFileType(QString::fromStdString(program), home, recorder);
        const std::string exec =
            KeyValue(ReadAll(home + QStringLiteral("/applications/crateforge.desktop")), "Exec");
        EXPECT_EQ(exec, program + " %f");
        EXPECT_EQ(exec.find_first_of("\"'\\"), std::string::npos) << exec;
    }
    // Every reserved character forces the quotes; a % alone only doubles.
    for (char c : std::string(" \t\n\"'\\><~|&;$*?#()`")) {
        const QString path = QStringLiteral("/a") + QChar(c) + QStringLiteral("b");
        EXPECT_TRUE(ExecArgumentNeedsQuotes(path)) << int(c);
        EXPECT_TRUE(ExecArgument(path).startsWith(u'"')) << int(c);
    }
    EXPECT_EQ(ExecArgument(QStringLiteral("/x/50%/y")), QStringLiteral("/x/50%%/y"));
}

TEST(DesktopEntryProgramTest, ReadsTheFirstArgumentOfTheMainGroupsExec) {
    struct Case {
        const char* entry;
        const char* program;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nExec=/usr/bin/crateforge %f\n", "/usr/bin/crateforge"},
        {"[Desktop Entry]\nName=x\nExec = /a/b %f\n", "/a/b"},
        {"[Desktop Entry]\nExec=\"/a b/c\" %f\n", "/a b/c"},
        {"[Desktop Entry]\nExec=\"/a\\\\\\\\b\\\\\"c\" %f\n", "/a\\b\"c"},
        {"[Desktop Entry]\nExec=/x/50%%/y %f\n", "/x/50%/y"},
        {"[Desktop Entry]\nExec=\"/a\\sb\"\n", "/a b"},
        // Another group's Exec, a localised key and a look-alike key do not count.
        {"[Desktop Action new]\nExec=/wrong\n[Desktop Entry]\nExec=/right %f\n", "/right"},
        {"[Desktop Entry]\nExecX=/wrong\nExec=/right\n", "/right"},
        {"[Desktop Entry]\nName=x\n[Other]\nExec=/wrong\n", ""},
        {"[Desktop Entry]\nExec=\"/never closed %f\n", ""},
        {"[Desktop Entry]\nExec=\"/ends\\\\\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(DesktopEntryProgram(QByteArray(c.entry)).toStdString(), c.program);
    }
}

TEST_F(RegistrationTest, DesktopToolsAcceptTheFiles) {
    const QString validate =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const QString mimeTool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (validate.isEmpty() && mimeTool.isEmpty()) {
        GTEST_SKIP() << "desktop-file-utils and shared-mime-info are not installed";
    }
    const ToolRunner runNow = [](const QString& program, const QStringList& arguments) {
        QProcess::execute(program, arguments);
    };
    for (const char* program : {"/usr/bin/crateforge", "/opt/a b/$x\\y\"z`50%/crateforge"}) {
        SCOPED_TRACE(program);
        RegisterFileType(QString::fromLatin1(program), home, runNow);
        if (!validate.isEmpty()) {
            QProcess process;
            process.start(validate, {home + QStringLiteral("/applications/crateforge.desktop")});
            ASSERT_TRUE(process.waitForFinished(30000));
            const QByteArray output =
                process.readAllStandardOutput() + process.readAllStandardError();
            EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
            EXPECT_FALSE(output.contains("error")) << output.toStdString();
        }
    }
    if (!mimeTool.isEmpty()) {
        // The compiled database knows the glob, so the XML was accepted.
        const QByteArray globs = ReadAll(home + QStringLiteral("/mime/globs2"));
        EXPECT_TRUE(globs.contains("application/x-varnholt-pack:*.vpf")) << globs.toStdString();
    }
}

// An installed prefix as the install step makes it: the program and the
// files written for it into <prefix>/share.
struct InstalledPrefix {
    QString prefix, program, share;
    InstalledPrefix(const QString& root) : prefix(root + QStringLiteral("/usr")) {
        program = prefix + QStringLiteral("/bin/crateforge");
        share = prefix + QStringLiteral("/share");
        QDir().mkpath(prefix + QStringLiteral("/bin"));
        QFile file(program);
        if (file.open(QIODevice::WriteOnly)) {
            file.write("#!/bin/sh\n");
        }
        file.close();
        RegisterFileType(program, share, [](const QString&, const QStringList&) {});
    }
};

const char* const kRegistrationFiles[] = {
    "/mime/packages/crateforge.xml",
    "/applications/crateforge.desktop",
    "/icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg",
    "/icons/hicolor/scalable/apps/crateforge.svg",
};

TEST_F(RegistrationTest, InstalledProgramWritesExactlyTheInstalledFiles) {
    const QString root = QString::fromStdString(temp.Path());
    InstalledPrefix installed(root);
    ASSERT_EQ(DesktopEntryProgram(ReadAll(installed.share + QStringLiteral("/applications/") +
                                          QLatin1String(kDesktopEntryName))),
              installed.program);
    // The system reports the program by another path to the same file: a
    // link to the prefix, as where /usr/local is a link elsewhere.
    const QString linked = root + QStringLiteral("/linked");
    ASSERT_EQ(symlink(installed.prefix.toLocal8Bit().constData(), linked.toLocal8Bit().constData()),
              0);
    const QString running = linked + QStringLiteral("/bin/crateforge");
    const QStringList dataDirs = {root + QStringLiteral("/missing/share"), installed.share};
    const QString registered = RegisteredProgramPath(running, dataDirs);
    EXPECT_EQ(registered, installed.program);

    RegistrationResult result = RegisterFileType(registered, home, recorder);
    EXPECT_TRUE(result.failed.isEmpty());
    for (const char* file : kRegistrationFiles) {
        SCOPED_TRACE(file);
        const QByteArray mine = ReadAll(home + QLatin1String(file));
        ASSERT_FALSE(mine.isEmpty());
        EXPECT_EQ(mine, ReadAll(installed.share + QLatin1String(file)));
    }
}

TEST_F(RegistrationTest, OtherProgramsRegisterThemselves) {
    const QString root = QString::fromStdString(temp.Path());
    InstalledPrefix installed(root);
    // A build of its own: another file, even with the same name.
    const QString build = root + QStringLiteral("/build/builder/crateforge");
    QDir().mkpath(root + QStringLiteral("/build/builder"));
    QFile::copy(installed.program, build);
    EXPECT_EQ(RegisteredProgramPath(build, {installed.share}), build);
    // No installed entry, or one that names a missing program.
    EXPECT_EQ(RegisteredProgramPath(installed.program, {root + QStringLiteral("/none")}),
              installed.program);
    QFile::remove(installed.program);
    EXPECT_EQ(RegisteredProgramPath(build, {installed.share}), build);
    // A running path that cannot be resolved is kept as it is.
    EXPECT_EQ(RegisteredProgramPath(QStringLiteral("/no/such/crateforge"), {installed.share}),
              QStringLiteral("/no/such/crateforge"));
}

TEST(SystemDataDirsTest, FollowsXdgDataDirs) {
    const QByteArray saved = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", "/opt/a/share::relative:/usr/share");
    EXPECT_EQ(SystemDataDirs(), (QStringList{"/opt/a/share", "/usr/share"}));
    qunsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(SystemDataDirs(), (QStringList{"/usr/local/share", "/usr/share"}));
    if (!saved.isNull()) {
        qputenv("XDG_DATA_DIRS", saved);
    }
}

TEST_F(RegistrationTest, RewritesOldValuesAtEveryStart) {
    QDir().mkpath(home + QStringLiteral("/applications"));
    QFile stale(home + QStringLiteral("/applications/crateforge.desktop"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("[Desktop Entry]\nExec=/old/path %f\n");
    stale.close();
    RegisterFileType(QStringLiteral("/new/crateforge"), home, recorder);
    const QByteArray entry = ReadAll(home + QStringLiteral("/applications/crateforge.desktop"));
    EXPECT_EQ(KeyValue(entry, "Exec"), "/new/crateforge %f");
    EXPECT_FALSE(entry.contains("/old/path"));
}

TEST_F(RegistrationTest, FailuresAreIgnored) {
    // A data folder below a regular file cannot be made, even by root.
    const std::string blocker = temp.Write("plainfile", testpacks::ToBytes("x"));
    const QString bad = QString::fromStdString(blocker) + QStringLiteral("/share");
    RegistrationResult result =
        RegisterFileType(QStringLiteral("/usr/bin/crateforge"), bad, recorder);
    EXPECT_TRUE(result.written.isEmpty());
    EXPECT_EQ(result.failed.size(), 4);
    EXPECT_EQ(ReadAll(QString::fromStdString(blocker)), QByteArray("x"));
}

TEST_F(RegistrationTest, DataHomeFollowsXdgDataHome) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.toUtf8());
    EXPECT_EQ(DataHome(), home);
    qputenv("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(DataHome(), QDir::homePath() + QStringLiteral("/.local/share"));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DataHome(), QDir::homePath() + QStringLiteral("/.local/share"));
    if (!saved.isNull()) {
        qputenv("XDG_DATA_HOME", saved);
    }
}

}  // namespace
}  // namespace crateforge
