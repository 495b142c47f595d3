// File-type registration: the files written under the XDG data folder, the
// Exec line read back by the desktop entry rules, and the desktop's tools.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <optional>
#include <string>
#include <vector>

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
    EXPECT_EQ(KeyValue(entry, "Exec"), "\"/usr/local/bin/crateforge\" \"\\\\\\\\o\" %f");

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

TEST_F(RegistrationTest, ExecLineHandsTheProgramExactlyTheSwitchAndTheFile) {
    const std::vector<std::string> programs = {
        "/usr/bin/crateforge",
        "/opt/crate forge/bin/crateforge",
        "/tmp/we\"ird/$HOME/back\\slash/crate",
        "/x/50%/`tick`/it's;here&(now)",
        "/x/two  spaces\\\\double",
        "/x/tab\there",
    };
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        toolCalls.clear();
        RegisterFileType(QString::fromStdString(program), home, recorder);
        const QByteArray entry = ReadAll(home + QStringLiteral("/applications/crateforge.desktop"));
        const std::string exec = KeyValue(entry, "Exec");
        ASSERT_FALSE(exec.empty());
        const std::string file = "/home/u/My Packs/game data.vpf";
        auto args = SplitExec(UnescapeString(exec), file);
        ASSERT_TRUE(args.has_value()) << exec;
        ASSERT_EQ(args->size(), 3u) << exec;
        EXPECT_EQ((*args)[0], program);
        EXPECT_EQ((*args)[1], "\\o");
        EXPECT_EQ((*args)[2], file);
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

TEST_F(RegistrationTest, RewritesOldValuesAtEveryStart) {
    QDir().mkpath(home + QStringLiteral("/applications"));
    QFile stale(home + QStringLiteral("/applications/crateforge.desktop"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("[Desktop Entry]\nExec=/old/path %f\n");
    stale.close();
    RegisterFileType(QStringLiteral("/new/crateforge"), home, recorder);
    const QByteArray entry = ReadAll(home + QStringLiteral("/applications/crateforge.desktop"));
    EXPECT_EQ(KeyValue(entry, "Exec"), "\"/new/crateforge\" \"\\\\\\\\o\" %f");
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
